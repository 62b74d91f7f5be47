"""The documentation site of lumo_dynamic (Sphinx, Furo theme).

Built from the installed module: one reference page per group of functions
(each function names its page in its declaration, which the module exposes as
lumo_dynamic._api; src/python/make_stubs.py reads it), written into _generated/
before Sphinx reads the sources, with the module's own docstrings through
autodoc. The examples page lists examples/ (running the examples that draw
pictures), the benchmark page is the speed section of README.md and the
changelog page is CHANGELOG.md. `make docs` builds it with warnings as errors.
"""
import os
import re
import subprocess
import sys
from pathlib import Path

import lumo_dynamic

DOCS = Path(__file__).resolve().parent
ROOT = DOCS.parent
GENERATED = DOCS / "_generated"
sys.path.insert(0, str(ROOT / "src" / "python"))
import class_docs  # noqa: E402  (the descriptions of the classes whose __doc__ is fixed)
import make_stubs  # noqa: E402  (the function groups and their page titles)

project = "lumo_dynamic"
author = "The lumo_dynamic developers"
copyright = "the lumo_dynamic developers"
release = version = lumo_dynamic.__version__

extensions = ["sphinx.ext.autodoc", "sphinx.ext.mathjax"]
html_theme = "furo"
html_title = f"lumo_dynamic {release}"
exclude_patterns = ["_build"]
autodoc_default_options = {"members": True, "undoc-members": True}
autodoc_member_order = "bysource"
default_role = "code"
# Text as typed: "--n" stays two hyphens (an en dash breaks a copied command).
smartquotes = False
# Long lines scroll inside their code block instead of running off the page.
html_static_path = ["_static"]
html_css_files = ["code.css"]


# ---------------------------------------------------------------- Markdown
def inline(text: str) -> str:
    """Markdown code spans, bold and links to reStructuredText."""
    text = re.sub(r"(?<!`)`([^`]+)`(?!`)", r"``\1``", text)
    text = re.sub(r"\[([^\]]+)\]\(([^)]+)\)", r"`\1 <\2>`__", text)
    return text


def table(rows: list[str]) -> list[str]:
    cells = [[c.strip() for c in r.strip().strip("|").split("|")] for r in rows]
    body = [cells[0]] + cells[2:]  # row 1 is the alignment row
    out = [".. list-table::", "   :header-rows: 1", ""]
    for row in body:
        for k, cell in enumerate(row):
            out.append(f"   {'* -' if k == 0 else '  -'} {inline(cell) or ' '}")
    return out + [""]


def markdown_to_rst(text: str, top_level: int = 1) -> str:
    """The Markdown this repository writes (headings, paragraphs, lists,
    tables, fenced code) as reStructuredText; headings of `top_level` become
    the page title."""
    marks = {top_level: "=", top_level + 1: "-", top_level + 2: "~", top_level + 3: "^"}
    out: list[str] = []
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("```"):
            lang = line[3:].strip() or "text"
            out += [f".. code-block:: {'bash' if lang == 'sh' else lang}", ""]
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                out.append("   " + lines[i])
                i += 1
            out.append("")
        elif m := re.match(r"(#+) (.*)", line):
            title = inline(m.group(2))
            out += ["", title, marks.get(len(m.group(1)), "^") * len(title), ""]
        elif line.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                rows.append(lines[i])
                i += 1
            out += [""] + table(rows)
            continue
        elif re.match(r"\s*[-*] ", line) and out and out[-1].strip() and \
                not re.match(r"\s*[-*] ", out[-1]) and not out[-1].startswith("  "):
            out += ["", inline(line)]
        else:
            out.append(inline(line))
        i += 1
    return "\n".join(out) + "\n"


def section(markdown: str, heading: str) -> str:
    """The section of a Markdown text under `heading`, up to the next heading
    of the same level."""
    level = heading.split()[0]
    m = re.search(rf"^{re.escape(heading)}\n(.*?)(?=^{level} |\Z)", markdown, re.S | re.M)
    if not m:
        raise RuntimeError(f"README.md has no section {heading!r}")
    return m.group(1)


# ---------------------------------------------------------------- pages
def write(name: str, text: str) -> None:
    """Writes a generated page, leaving an unchanged one alone (no rebuild)."""
    path = GENERATED / name
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_text(encoding="utf-8") != text:
        path.write_text(text, encoding="utf-8")


def title(text: str) -> str:
    return f"{text}\n{'=' * len(text)}\n\n"


def class_entry(name: str) -> str:
    """A class of the classes page. Its constants (ReferenceFrame.WORLD, ...), which
    autodoc would show without a description, are written out with the one
    class_docs.py holds."""
    cls = getattr(lumo_dynamic, name)
    constants = [m for m, v in vars(cls).items()
                 if not m.startswith("_") and not callable(v) and not hasattr(v, "__get__")]
    text = f".. autoclass:: {name}\n"
    if constants:
        text += f"   :exclude-members: {', '.join(constants)}\n"
    text += "\n"
    for m in constants:
        description = class_docs.DESCRIPTIONS.get(f"{name}.{m}", "")
        text += f"   .. attribute:: {m}\n      :value: {getattr(cls, m)!r}\n\n"
        text += "".join(f"      {line}\n" if line else "\n" for line in description.splitlines()) + "\n"
    return text


def api_pages() -> list[str]:
    pages = make_stubs.functions_by_page(lumo_dynamic)
    unlisted = pages.pop("unlisted", [])
    if unlisted:  # every function names its page in its declaration (src/python/functions.cpp)
        raise RuntimeError(f"functions without a documentation page: {unlisted}; "
                           f"give their declarations a page")
    class_pages = getattr(make_stubs, "CLASS_PAGES", {})
    names = []
    for page, functions in pages.items():
        if not functions:
            continue
        text = title(make_stubs.PAGES[page])
        text += "".join(f".. autoclass:: lumo_dynamic.{c}\n\n" for c in lumo_dynamic.__all__
                        if class_pages.get(c) == page)
        text += "".join(f".. autofunction:: lumo_dynamic.{f}\n\n" for f in functions)
        write(f"api/{page}.rst", text)
        names.append(f"api/{page}")
    public = list(dict.fromkeys(lumo_dynamic.__all__ + [n for n in dir(lumo_dynamic) if not n.startswith("_")]))
    classes = [n for n in public if isinstance(getattr(lumo_dynamic, n), type)
               and not issubclass(getattr(lumo_dynamic, n), BaseException) and n not in class_pages]
    exceptions = sorted(n for n in dir(lumo_dynamic) if isinstance(getattr(lumo_dynamic, n), type)
                        and issubclass(getattr(lumo_dynamic, n), BaseException))
    text = title("Classes and exceptions") + ".. currentmodule:: lumo_dynamic\n\n"
    text += "".join(class_entry(c) for c in classes)
    text += "".join(f".. autoexception:: {e}\n   :no-members:\n\n" for e in exceptions)
    text += ".. autodata:: __version__\n   :annotation:\n\n"
    write("api/classes.rst", text)
    summary_page(pages)
    return ["api/summary", "api/classes"] + names


def summary_page(pages: dict[str, list[str]]) -> None:
    """Every function with the summary line of its description, by page: the
    one table to search by what a function computes."""
    api = make_stubs.api()
    text = title("All functions") + (
        "Each function with what it computes, in the groups of the reference; "
        "the name links to its full description. Shapes, row orders and frames "
        "follow :doc:`/conventions`. The examples of the descriptions import "
        "``numpy as np`` and ``lumo_dynamic as ld`` and run from the top of the "
        "repository (they read its sample models).\n\n")
    for page, functions in pages.items():
        if not functions:
            continue
        text += f".. rubric:: :doc:`{make_stubs.PAGES[page]} <{page}>`\n\n"
        text += ".. list-table::\n   :widths: 35 65\n\n"
        for f in functions:
            line = make_stubs.summary(api[f][4]) if f in api and api[f][4:] else ""
            text += f"   * - :func:`{f} <lumo_dynamic.{f}>`\n     - {line or ' '}\n"
        text += "\n"
    write("api/summary.rst", text)


def docstring_rst(doc: str) -> str:
    """An example's docstring: its paragraphs as text, its indented blocks
    (the command lines, the output files) as literal blocks, copied as typed."""
    out = []
    for block in re.split(r"\n\s*\n", doc.strip("\n")):
        lines = block.splitlines()
        if all(line.startswith(" ") for line in lines if line.strip()):
            out.append(".. code-block:: text\n\n" + "\n".join("   " + line.strip("\n") for line in lines))
        else:
            out.append(inline(" ".join(block.split())))
    return "\n\n".join(out) + "\n\n"


def examples_page() -> None:
    """Every example with its description and source; the pictures of an
    example that draws (an option with a .png default), from a run in a
    scratch folder (set LUMO_DOCS_SKIP_EXAMPLES=1 to leave them out)."""
    text = title("Examples") + ("The scripts in ``examples/`` of the repository; "
                                "run them from its top after ``pip install .``.\n\n")
    for script in sorted((ROOT / "examples").glob("*.py")):
        source = script.read_text(encoding="utf-8")
        m = re.match(r'\s*(?:#.*\n)*\s*"""(.*?)"""', source, re.S)
        heading = f"``examples/{script.name}``"
        text += f"{heading}\n{'-' * len(heading)}\n\n"
        if m:
            text += docstring_rst(m.group(1))
        # An example that draws takes an option whose default is a .png file.
        if re.search(r'default="[^"]*\.png"', source) and not os.environ.get("LUMO_DOCS_SKIP_EXAMPLES"):
            run_dir = GENERATED / "examples" / script.stem
            run_dir.mkdir(parents=True, exist_ok=True)
            subprocess.run([sys.executable, str(script)], cwd=run_dir, check=True,
                           env={**os.environ, "MPLBACKEND": "Agg"}, stdout=subprocess.DEVNULL)
            for png in sorted(run_dir.glob("*.png")) + sorted((ROOT / "examples").glob(
                    f"{script.stem}*.png")):
                text += f".. image:: /{Path(os.path.relpath(png, DOCS)).as_posix()}\n   :width: 90%\n\n"
        # The whole source one click away, folded.
        text += (".. raw:: html\n\n   <details><summary>Full source</summary>\n\n"
                 f".. literalinclude:: /../examples/{script.name}\n   :language: python\n\n"
                 ".. raw:: html\n\n   </details>\n\n")
    cpp = ROOT / "examples" / "cpp"
    if cpp.is_dir():
        heading = "``examples/cpp/``: the C++ package"
        text += f"{heading}\n{'-' * len(heading)}\n\n"
        text += "A program built against the installed C++ package (see :doc:`/installation`).\n\n"
        for f in sorted(cpp.iterdir()):
            lang = "cmake" if f.name == "CMakeLists.txt" else "cpp"
            text += f".. literalinclude:: /../examples/cpp/{f.name}\n   :language: {lang}\n" \
                    f"   :caption: {f.name}\n\n"
    write("examples.rst", text)


def benchmark_page() -> None:
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    # The README's "###" sections become sections of the one page, below its title.
    write("benchmarks.rst", title("Speed") + markdown_to_rst(section(readme, "## Speed"), 2))


def changelog_page() -> None:
    text = (ROOT / "CHANGELOG.md").read_text(encoding="utf-8")
    write("changelog.rst", markdown_to_rst(text, 1))


def generate(app, config) -> None:
    api = api_pages()
    examples_page()
    benchmark_page()
    changelog_page()
    write("reference.rst", title("API reference") + "The module ``lumo_dynamic``, "
          "from its own docstrings, by group of functions.\n\n.. toctree::\n   :maxdepth: 1\n\n"
          + "".join(f"   /_generated/{p}\n" for p in api))


# ---------------------------------------------------------------- docstrings
def docstring(app, what, name, obj, options, lines) -> None:
    """The module's docstrings mark sections with '# Heading' and start lists
    right after a line of text: headings become rubrics, lists get the blank
    line reStructuredText needs. A free function is shown with its full
    description (lumo_dynamic._api), which its __doc__ may abridge."""
    declared = make_stubs.api().get(name[len("lumo_dynamic."):]) if what == "function" else None
    if declared and declared[4:] and declared[4]:
        lines[:] = declared[4].splitlines() + [""]
        return
    out: list[str] = []
    for line in lines:
        if m := re.match(r"#+ (.*)", line):
            out += ["", f".. rubric:: {m.group(1)}", ""]
            continue
        if re.match(r"[-*] ", line) and out and out[-1].strip() and not re.match(r"[-*] ", out[-1]):
            out.append("")
        out.append(line)
    lines[:] = out


def class_description(app, what, name, obj, options, lines) -> None:
    """A class or member whose __doc__ the module keeps fixed: the description
    class_docs.py holds, after it."""
    extra = class_docs.DESCRIPTIONS.get(name.removeprefix("lumo_dynamic."))
    if extra:
        lines += ([""] if lines and lines[-1].strip() else []) + extra.splitlines() + [""]


def signature(app, what, name, obj, options, sig, return_annotation):
    """Functions shown with the types of their stubs."""
    if what != "function" or not name.startswith("lumo_dynamic."):
        return None
    qual = name[len("lumo_dynamic."):]
    prefix = qual.rpartition(".")[0]
    writer = make_stubs.Writer(lumo_dynamic, f"{prefix}." if prefix else "")
    declared = writer.api.get(qual)
    params = writer.parameters(obj, qual, drop_first=False, types=declared[2] if declared else None)
    returns = declared[1] if declared else \
        writer.lookup(make_stubs.FUNCTIONS, qual.rpartition(".")[2], "function")
    if writer.unknown or isinstance(returns, tuple):
        return None
    return f"({params})", returns


def setup(app):
    app.connect("config-inited", generate)
    app.connect("autodoc-process-docstring", class_description, priority=400)
    app.connect("autodoc-process-docstring", docstring)
    app.connect("autodoc-process-signature", signature)
