"""Checks what a type checker sees of the installed module lumo_dynamic:

1. the stubs installed beside it are those the tables of
   src/python/make_stubs.py give for it now, and every name has a type there;
2. mypy's stubtest finds no difference between the stubs and the module;
3. `mypy --strict` passes on every example in examples/;
4. mypy sees the typed signature of lumo_dynamic.rnea.

Run from the top of the repository with the interpreter the module is
installed in: python scripts/check_typing.py
"""
import difflib
import os
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def run(*args: str, cwd: Path = ROOT) -> str:
    print("+", " ".join(args), flush=True)
    # One cache for every run: stubtest and the strict check read the same
    # modules (numpy, torch, jax), which are slow to analyse.
    env = {**os.environ, "MYPY_CACHE_DIR": str(ROOT / "build" / "mypy-cache")}
    done = subprocess.run(args, cwd=cwd, capture_output=True, text=True, env=env)
    sys.stdout.write(done.stdout)
    sys.stderr.write(done.stderr)
    if done.returncode != 0:
        sys.exit(f"failed: {' '.join(args)}")
    return done.stdout


def main() -> None:
    import lumo_dynamic

    installed = Path(lumo_dynamic.__file__).parent / "lumo_dynamic-stubs"
    with tempfile.TemporaryDirectory() as tmp:
        fresh = Path(tmp) / "lumo_dynamic-stubs"
        run(sys.executable, str(ROOT / "src/python/make_stubs.py"), str(fresh), "--strict")
        names = sorted(p.name for p in fresh.glob("*.pyi"))
        for name in names:
            have = installed / name
            if not have.exists():
                sys.exit(f"{have} is missing: reinstall the module (pip install .)")
            diff = list(difflib.unified_diff(have.read_text().splitlines(),
                                             (fresh / name).read_text().splitlines(),
                                             str(have), "regenerated", lineterm=""))
            if diff:
                sys.exit("\n".join(diff) + "\ninstalled stubs are stale: reinstall the module")
    # From a neutral directory, so that the module is the installed one.
    with tempfile.TemporaryDirectory() as tmp:
        # stubtest checks the submodules of the stub package (batch.pyi) too.
        out = run(sys.executable, "-m", "mypy.stubtest", "lumo_dynamic", cwd=Path(tmp))
        examples = sorted(str(p) for p in (ROOT / "examples").glob("*.py"))
        run(sys.executable, "-m", "mypy", "--strict", "--config-file",
            str(ROOT / "pyproject.toml"), *examples, cwd=Path(tmp))
        out = run(sys.executable, "-m", "mypy", "-c",
                  "import lumo_dynamic as ld; reveal_type(ld.rnea)", cwd=Path(tmp))
    if "def (model: lumo_dynamic.Model, data: lumo_dynamic.Data, q: numpy.ndarray" not in out:
        sys.exit("mypy does not see the typed signature of lumo_dynamic.rnea")
    print(f"typing: {len(names)} stub file(s), {len(examples)} example(s) checked")


if __name__ == "__main__":
    main()
