"""Writes the type stubs of lumo_dynamic from the live module.

The stub package lumo_dynamic-stubs (PEP 561) gets one .pyi file per module:
__init__.pyi and one for each submodule. Names come from the module itself
(dir() and __all__), parameter lists from each __text_signature__, the first
sentence of each free function's docstring from __doc__, and the whole
description of each class, method and property: its __doc__ followed by what
class_docs.py adds for the classes and members whose __doc__ is fixed. The
pure-Python submodules (torch, jax, viewer) have hand-written stubs beside
their sources; those are copied with the docstrings of the sources put in. The free functions, single and
batched, describe themselves: lumo_dynamic._api gives, for each, its
documentation page, its return type, the type of each parameter, for a
deprecated name the name that replaces it, and its full description, the
stub's docstring (all from the function's one declaration in
src/python/functions.cpp). The tables below type what the
module cannot say of itself: classes, methods, properties.

    python make_stubs.py OUT_DIR [--path DIR] [--strict]

--path DIR imports the module from DIR first (the build tree). A name that
no table knows is typed `Incomplete` and reported on stderr; with --strict
the run then fails, listing every such name. Entries for names the module
does not have are ignored, so the tables may run ahead of the module.
"""
from __future__ import annotations

import argparse
import ast
import inspect
import re
import sys
import textwrap
import types
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import class_docs  # noqa: E402  (the descriptions of the classes whose __doc__ is fixed)

MODULE = "lumo_dynamic"
PURE = Path(__file__).resolve().parent / MODULE  # the pure-Python submodules and their stubs
ARRAY = "NDArray[np.float64]"
ARRAYS3 = f"tuple[{ARRAY}, {ARRAY}, {ARRAY}]"

# Parameter name -> type, for the methods and constructors.
PARAMETERS = {
    "model": "Model",
    "joint_id": "int",
    "parent": "int",
    "name": "str",
    "joint_type": "str",
    "axis": ARRAY,
    "gravity": ARRAY,
    "gravity_angular": ARRAY,
    "rotation": ARRAY,
    "translation": ARRAY,
    "placement": "SE3",
    "other": "SE3",
    "xi": ARRAY,
    "a": "SE3",
    "b": "SE3",
    "t": "float",
    "data": "Data",
    "q": ARRAY,
    "v": ARRAY,
    "kind": "str",
    "frame_id": "int",
    "frame2": "int | None",
    "reference_frame": "ReferenceFrame",
    "corrector": "tuple[float, float]",
    "leader_id": "int",
    "ratio": "float",
    "offset": "float",
    "constraints": "Sequence[RigidConstraint | JointCoupling]",
    "regularisation": "float",
}

# Function name -> (documentation page, return type), for functions the
# module does not describe in _api. A return type may also be a tuple of
# full signatures "(params) -> type", one @overload each.
FUNCTIONS: dict[str, tuple[str, object]] = {}

# Titles of the documentation pages, in the order of the site's index.
PAGES = {
    "configuration": "Configuration operations",
    "kinematics": "Kinematics: placements, frame velocities and accelerations",
    "dynamics": "Dynamics",
    "jacobians": "Jacobians",
    "centroidal": "Centre of mass, momentum and energy",
    "derivatives": "Derivatives of the dynamics and of frame motion",
    "urdf": "URDF import",
    "models": "Reduced and combined models",
    "mjcf": "MJCF import",
    "ik": "Inverse kinematics",
    "constraints": "Constraints",
    "batch": "Batch evaluation (lumo_dynamic.batch)",
}

# Classes shown on a page of functions rather than with the others.
CLASS_PAGES = {"RigidConstraint": "constraints", "JointCoupling": "constraints",
               "ConstraintSet": "constraints"}

# Named tuples (struct sequences) -> the tuple they are.
TUPLES = {"InverseKinematicsResult": f"tuple[{ARRAY}, bool, int, float]"}

# Class.method -> return type; Class.property -> type.
METHODS = {
    "SE3.identity": "SE3",
    "SE3.compose": "SE3",
    "SE3.inverse": "SE3",
    "SE3.to_homogeneous": ARRAY,
    "SE3.exp": "SE3",
    "SE3.log": ARRAY,
    "SE3.exp_jacobian": ARRAY,
    "SE3.log_jacobian": ARRAY,
    "SE3.interpolate": "SE3",
    "Model.set_gravity": "None",
    "Model.set_gravity_angular": "None",
    "Model.set_gravity_full": "None",
    "Model.add_joint": "int",
    "Model.get_joint_id": "int | None",
    "Model.getFrameId": "int | None",
    "Model.set_name": "None",
    "Model.createData": "Data",
    "Model.to_string_info": "str",
    "Model.print_info": "None",
    "Data.reset": "None",
    "Data.get_joint_placement": "SE3",
    "Data.get_joint_translation": ARRAY,
    "Data.to_string_info": "str",
    "Data.print_info": "None",
    "RigidConstraint.set_reference": "None",
    "ConstraintSet.jacobian": ARRAY,
    "ConstraintSet.drift": ARRAY,
    "ConstraintSet.__len__": "int",
}
PROPERTIES = {
    "SE3.homogeneous": ARRAY,
    "InverseKinematicsResult.q": ARRAY, "InverseKinematicsResult.converged": "bool",
    "InverseKinematicsResult.iterations": "int", "InverseKinematicsResult.error": "float",
    "InverseKinematicsResult.n_fields": "int", "InverseKinematicsResult.n_sequence_fields": "int",
    "InverseKinematicsResult.n_unnamed_fields": "int",
    "Model.nq": "int", "Model.nv": "int", "Model.njoints": "int", "Model.nframes": "int",
    "Model.names": "list[str]",
    "Model.name": "str",
    "Model.lowerPositionLimit": ARRAY,
    "Model.upperPositionLimit": ARRAY,
    "Model.gravity": ARRAY,
    "Model.gravity_angular": ARRAY,
    "Model.gravity_full": ARRAY,
    "Data.M": ARRAY, "Data.C": ARRAY, "Data.g": ARRAY,
    "Data.oMi": "list[SE3]",
    "RigidConstraint.kind": "str", "RigidConstraint.frame_id": "int", "RigidConstraint.frame2": "int | None",
    "RigidConstraint.reference_frame": "ReferenceFrame", "RigidConstraint.corrector": "tuple[float, float]",
    "RigidConstraint.reference": "SE3", "RigidConstraint.size": "int",
    "JointCoupling.joint_id": "int", "JointCoupling.leader_id": "int", "JointCoupling.ratio": "float",
    "JointCoupling.offset": "float", "JointCoupling.size": "int",
    "ConstraintSet.size": "int", "ConstraintSet.regularisation": "float",
    "ConstraintSet.constraints": "tuple[RigidConstraint | JointCoupling, ...]",
}
# Module attributes that are plain values.
CONSTANTS = {"__version__": "str"}

HEADER = '''\
# Generated by src/python/make_stubs.py from the module {module}; do not edit.
from collections.abc import Sequence
from typing import ClassVar, final, overload

import numpy as np
from _typeshed import Incomplete
from numpy.typing import NDArray
from typing_extensions import deprecated, disjoint_base
'''

# Class members that are CPython's or nanobind's own, not the library's.
SKIPPED_MEMBERS = {"__new__", "__init__", "__doc__", "__module__", "__dict__", "__weakref__",
                   "__qualname__", "__nb_signature__"}
STR_DUNDERS = {"__repr__", "__str__"}


def first_sentence(doc: str | None) -> str:
    """The first sentence of a docstring's first paragraph, ending with a full stop."""
    if not doc:
        return ""
    paragraph = " ".join(doc.strip().split("\n\n")[0].split())
    if paragraph.startswith("#"):  # a section heading, no summary line
        return ""
    cut = -1
    for m in re.finditer(r"\. ", paragraph):  # not after an abbreviation
        if not re.search(r"\b(e\.g|i\.e|etc|cf|vs|approx)$", paragraph[: m.start()]):
            cut = m.start()
            break
    sentence = paragraph if cut < 0 else paragraph[: cut + 1]
    if not sentence.endswith((".", "!", "?")):
        sentence += "."
    return sentence.replace("\\", "\\\\").replace('"""', r"\"\"\"")


def reference_doc(text: str, indent: str) -> list[str]:
    """A function's full description as the lines of a docstring."""
    lines = text.strip().replace("\\", "\\\\").replace('"""', r"\"\"\"").splitlines()
    if len(lines) == 1 and not lines[0].endswith('"'):
        return [f'{indent}"""{lines[0]}"""']
    return [f'{indent}"""{lines[0]}'] + [f"{indent}{line}".rstrip() for line in lines[1:]] + [f'{indent}"""']


def summary(text: str) -> str:
    """The summary line of a full description."""
    return text.strip().split("\n", 1)[0] if text else ""


class Writer:
    def __init__(self, module: types.ModuleType, prefix: str):
        self.module = module
        self.prefix = prefix  # "" for the top module, "batch." for lumo_dynamic.batch
        self.unknown: list[str] = []
        self.lines: list[str] = []
        self.metaclasses: set[str] = set()
        self.api = api()

    def lookup(self, table: dict, key: str, what: str) -> str:
        for k in (self.prefix + key, key) if self.prefix else (key,):
            if k in table:
                value = table[k]
                return value[1] if table is FUNCTIONS else value
        self.unknown.append(f"{what} {self.prefix}{key}")
        return "Incomplete"

    def parameters(self, obj, qualname: str, drop_first: bool, types: dict | None = None) -> str:
        try:
            sig = inspect.signature(obj)
        except (TypeError, ValueError):
            self.unknown.append(f"signature of {self.prefix}{qualname}")
            return "*args: Incomplete, **kwargs: Incomplete"
        params = list(sig.parameters.values())
        if drop_first and params:
            params = params[1:]
        out: list[str] = ["self"] if drop_first else []
        kinds_seen = set()
        for p in params:
            if p.kind is p.KEYWORD_ONLY and not kinds_seen & {p.VAR_POSITIONAL, p.KEYWORD_ONLY}:
                out.append("*")
            if p.kind is not p.POSITIONAL_ONLY and p.POSITIONAL_ONLY in kinds_seen \
                    and "/" not in out:
                out.append("/")
            kinds_seen.add(p.kind)
            star = {p.VAR_POSITIONAL: "*", p.VAR_KEYWORD: "**"}.get(p.kind, "")
            kind = types[p.name] if types and p.name in types else \
                self.lookup(PARAMETERS, p.name, 'parameter')
            text = f"{star}{p.name}: {kind}"
            if p.default is not p.empty:
                text += " = ..."
            out.append(text)
        if params and params[-1].kind is params[-1].POSITIONAL_ONLY:
            out.append("/")
        return ", ".join(out)

    def doc(self, obj, indent: str, qualname: str | None = None) -> list[str]:
        """The docstring of a definition: the first sentence for a free function, the
        whole description (class_docs.describe) for a class, method or property."""
        qualname = qualname or getattr(obj, "__qualname__", "")
        if isinstance(getattr(obj, "__self__", None), types.ModuleType):  # a free function
            s = first_sentence(getattr(obj, "__doc__", None))
            return [f'{indent}"""{s}"""'] if s else []
        return docstring(class_docs.describe(qualname, getattr(obj, "__doc__", None)), indent)

    def function(self, name: str, obj, indent: str = "", method_of: str | None = None,
                 static: bool = False) -> None:
        qual = f"{method_of}.{name}" if method_of else name
        declared = None if method_of else self.api.get(self.prefix + name)
        if method_of:
            ret = "str" if name in STR_DUNDERS else self.lookup(METHODS, qual, "method")
        elif declared:
            ret = declared[1]
        else:
            ret = self.lookup(FUNCTIONS, name, "function")
        if isinstance(ret, tuple):  # overloads: full signatures from the table
            for full in ret:
                self.lines += [f"{indent}@overload", f"{indent}def {name}{full}: ..."]
            return
        if static:
            self.lines.append(f"{indent}@staticmethod")
        if name in STR_DUNDERS:
            self.lines.append(f"{indent}def {name}(self) -> str: ...")
            return
        params = self.parameters(obj, qual, drop_first=bool(method_of) and not static,
                                 types=declared[2] if declared else None)
        if declared and declared[3]:
            self.lines.append(f'{indent}@deprecated("use {self.prefix}{declared[3]}")')
        doc = reference_doc(declared[4], indent + "    ") if declared and declared[4:] and declared[4] \
            else self.doc(obj, indent + "    ")
        self.def_line(f"{indent}def {name}({params}) -> {ret}:", doc)

    def def_line(self, head: str, doc: list[str]) -> None:
        """A definition with its docstring as body, or `...` on the same line."""
        self.lines += [head] + doc if doc else [head + " ..."]

    def cls(self, name: str, cls: type) -> None:
        if issubclass(cls, BaseException):
            base = cls.__bases__[0]
            base_name = base.__name__ if base.__module__ == "builtins" else base.__qualname__
            self.def_line(f"class {name}({base_name}):", self.doc(cls, "    ", name))
            return
        # The binding's classes: instances laid out in C (PEP 800's disjoint
        # bases) or closed to subclasses, and made by the binding's metaclass.
        if not cls.__flags__ & (1 << 10):  # Py_TPFLAGS_BASETYPE
            self.lines.append("@final")
        elif (cls.__basicsize__, cls.__itemsize__) != (cls.__base__.__basicsize__,
                                                       cls.__base__.__itemsize__):
            self.lines.append("@disjoint_base")
        meta = type(cls)
        if meta is not type:
            self.metaclasses.add(meta.__name__)
        if name in TUPLES:
            self.lines.append(f"class {name}({TUPLES[name]}):")
        else:
            self.lines.append(f"class {name}{f'(metaclass=_{meta.__name__})' if meta is not type else ''}:")
        start = len(self.lines)
        self.lines += self.doc(cls, "    ", name)
        if name in TUPLES:
            self.lines.append(f"    __match_args__ = {tuple(getattr(cls, '__match_args__', ()))!r}")
        if getattr(cls, "__text_signature__", None) is not None:
            params = self.parameters(cls, f"{name}.__init__", drop_first=False)
            self.lines.append(f"    def __init__(self{', ' if params else ''}{params}) -> None: ...")
        for member, value in vars(cls).items():
            if member in SKIPPED_MEMBERS or (member.startswith("__") and member not in STR_DUNDERS
                                             and f"{name}.{member}" not in METHODS):
                continue
            if member.startswith("_") and not member.startswith("__"):  # private (pickling's helpers)
                continue
            if isinstance(value, staticmethod):
                self.function(member, value.__func__, "    ", method_of=name, static=True)
            elif isinstance(value, (types.GetSetDescriptorType, types.MemberDescriptorType, property)):
                self.lines.append("    @property")
                kind = self.lookup(PROPERTIES, f"{name}.{member}", "property")
                self.def_line(f"    def {member}(self) -> {kind}:",
                              self.doc(value, "        ", f"{name}.{member}"))
            elif isinstance(value, cls):  # a class constant: described by class_docs only
                self.lines.append(f"    {member}: ClassVar[{name}]")
                self.lines += docstring(class_docs.describe(f"{name}.{member}", None), "    ")
            elif callable(value):
                self.function(member, value, "    ", method_of=name)
            else:
                self.lines.append(f"    {member}: ClassVar["
                                  f"{self.lookup(PROPERTIES, f'{name}.{member}', 'class attribute')}]")
                self.lines += docstring(class_docs.describe(f"{name}.{member}", None), "    ")
        if len(self.lines) == start:
            self.lines.append("    ...")

    def write(self) -> tuple[str, list[str]]:
        mod = self.module
        public = [n for n in dir(mod) if not n.startswith("_")]
        declared = list(getattr(mod, "__all__", []))
        names = [n for n in declared if hasattr(mod, n)] + [n for n in public if n not in declared]
        submodules = []
        for name in names:
            obj = getattr(mod, name)
            if isinstance(obj, types.ModuleType):
                if not (PURE / f"{name}.pyi").exists():  # a pure-Python one, once imported, has its own
                    submodules.append(name)
                continue
            self.lines.append("")
            if isinstance(obj, type):
                self.lines.append("")
                self.cls(name, obj)
                self.lines.append("")
            elif callable(obj):
                self.function(name, obj)
            else:
                self.lines.append(f"{name}: {self.lookup(CONSTANTS, name, 'constant')}")
        top = [HEADER.format(module=mod.__name__)]
        if self.prefix:
            classes = sorted(n for n in dir(sys.modules[MODULE]) if isinstance(
                getattr(sys.modules[MODULE], n), type) and not n.startswith("_"))
            top.append(f"from {MODULE} import {', '.join(classes)}")
        top += [f"from . import {s} as {s}" for s in submodules]
        top += [f"\nclass _{m}(type): ...  # the metaclass of the binding's classes"
                for m in sorted(self.metaclasses)]
        if "__all__" in vars(mod):
            top.append(f"\n__all__ = {declared!r}")
        text = "\n".join(top + self.lines).rstrip() + "\n"
        while "\n\n\n\n" in text:
            text = text.replace("\n\n\n\n", "\n\n\n")
        return text, submodules


def generate(out_dir: Path) -> list[str]:
    """Writes every .pyi of the stub package into out_dir; returns the unknown names."""
    module = sys.modules[MODULE]
    out_dir.mkdir(parents=True, exist_ok=True)
    unknown: list[str] = []
    todo = [(module, "", "__init__.pyi")]
    while todo:
        mod, prefix, filename = todo.pop()
        writer = Writer(mod, prefix)
        text, submodules = writer.write()
        (out_dir / filename).write_text(text, encoding="utf-8")
        unknown += writer.unknown
        todo += [(getattr(mod, s), f"{prefix}{s}.", f"{s}.pyi") for s in submodules]
    for stub in sorted(PURE.glob("*.pyi")):
        (out_dir / stub.name).write_text(pure_stub(stub), encoding="utf-8")
    return unknown


def docstring(text: str, indent: str) -> list[str]:
    """A description as the lines of a docstring at `indent`, escaped."""
    if not text:
        return []
    text = text.replace("\\", "\\\\").replace('"""', r'\"\"\"')
    if text.endswith('"'):
        text = text[:-1] + '\\"'
    # Paragraphs of prose wrapped to the page; examples, lists and headings as written.
    paragraphs = []
    for block in text.split("\n\n"):
        rows = block.splitlines()
        prose = not any(re.match(r"\s|>>>|[-*#] |\.\. ", row) for row in rows)
        width = 100 - len(indent)
        if prose and max(map(len, rows)) > width:
            block = textwrap.fill(" ".join(rows), width, break_on_hyphens=False, break_long_words=False)
        paragraphs.append(block)
    text = "\n\n".join(paragraphs)
    lines = text.splitlines()
    if len(lines) == 1:
        return [f'{indent}"""{text}"""']
    return [f'{indent}"""{lines[0]}'] + [f"{indent}{line}" if line else "" for line in lines[1:]] \
        + [f'{indent}"""']


def pure_stub(stub: Path) -> str:
    """The hand-written stub of a pure-Python submodule (lumo_dynamic/torch.pyi, ...)
    with the docstring of each class and function of its source (torch.py, ...),
    read without importing it: the source is the one place of the text."""
    source = ast.parse(stub.with_suffix(".py").read_text(encoding="utf-8"))
    docs: dict[str, str] = {}

    def collect(body: list, prefix: str) -> None:
        for node in body:
            if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
                docs[prefix + node.name] = ast.get_docstring(node) or ""
                if isinstance(node, ast.ClassDef):
                    collect(node.body, f"{node.name}.")

    collect(source.body, "")
    lines = stub.read_text(encoding="utf-8").splitlines()
    edits = []  # (line index, definition) from the stub's own tree

    def find(body: list, prefix: str) -> None:
        for node in body:
            if isinstance(node, (ast.ClassDef, ast.FunctionDef)) and docs.get(prefix + node.name):
                edits.append((node, docs[prefix + node.name]))
                if isinstance(node, ast.ClassDef):
                    find(node.body, f"{node.name}.")

    find(ast.parse("\n".join(lines)).body, "")
    for node, text in sorted(edits, key=lambda e: -e[0].lineno):
        indent = " " * (node.col_offset + 4)
        if isinstance(node, ast.ClassDef):  # the docstring first in the body
            at = node.body[0].lineno - 1
            lines[at:at] = docstring(text, indent)
        elif isinstance(node.body[0], ast.Expr) and lines[node.end_lineno - 1].endswith(": ..."):
            at = node.end_lineno - 1
            lines[at:at + 1] = [lines[at][:-len(" ...")]] + docstring(text, indent)
    return "\n".join(lines) + "\n"


def api() -> dict:
    """lumo_dynamic._api: qualified name -> (page, return type, {parameter: type}, the
    name that replaces a deprecated one or None, full description)."""
    return dict(getattr(sys.modules[MODULE], "_api", {}))


def functions_by_page(module) -> dict[str, list[str]]:
    """The module's functions grouped by documentation page (for the docs); a
    function neither _api nor a table line names goes to the page "unlisted"."""
    pages: dict[str, list[str]] = {p: [] for p in PAGES}
    declared = {name: (entry[0],) for name, entry in api().items()}
    known = {**FUNCTIONS, **declared}
    for prefix, mod in [("", module)] + [
            (f"{n}.", getattr(module, n)) for n in dir(module)
            if isinstance(getattr(module, n), types.ModuleType)]:
        names = [n for n in list(getattr(mod, "__all__", [])) + dir(mod)
                 if not n.startswith("_") and callable(getattr(mod, n))
                 and not isinstance(getattr(mod, n), type)]
        for name in dict.fromkeys(names):
            page = known.get(prefix + name, known.get(name, (None,)))[0]
            if prefix and (prefix + name) not in known:
                page = prefix[:-1] if prefix[:-1] in PAGES else page
            pages.setdefault(page or "unlisted", []).append(prefix + name)
    return pages


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("out_dir", type=Path)
    parser.add_argument("--path", help="directory to import the module from first")
    parser.add_argument("--strict", action="store_true", help="fail on names no table knows")
    args = parser.parse_args()
    if args.path:
        sys.path.insert(0, args.path)
    __import__(MODULE)
    unknown = generate(args.out_dir)
    for name in dict.fromkeys(unknown):
        print(f"make_stubs.py: no type for {name}: add it to the tables of {__file__}",
              file=sys.stderr)
    return 1 if unknown and args.strict else 0


if __name__ == "__main__":
    sys.exit(main())
