"""MJCF import time, ours against MuJoCo's own compiler.

Model: the largest humanoid at hand, dm_control's CMU humanoid when
dm_control is installed, else gymnasium's humanoid.xml. Ours is
lumo_dynamic.parse_mjcf_file (read, resolve defaults, build the Model, infer
inertias from geoms); MuJoCo's is mujoco.MjModel.from_xml_path (parse and
compile, which also builds what simulation needs: collision, actuators,
sparse structures). Both read the file from disk on every call.

Prints the median wall time of --repeat calls of each (after one warm-up
call) and the ratio ours / MuJoCo. Exits 0 when a package is missing, after
saying so.
Usage: python benchmarks/mjcf_import.py [--repeat N] [--model path.xml]
"""
import argparse
import statistics
import sys
import time
import warnings
from pathlib import Path


def humanoid() -> Path | None:
    try:
        import dm_control
        cmu = Path(dm_control.__file__).parent / "suite" / "humanoid_CMU.xml"
        if cmu.is_file():
            return cmu
    except ImportError:
        pass
    try:
        import gymnasium
    except ImportError:
        return None
    path = Path(gymnasium.__file__).parent / "envs" / "mujoco" / "assets" / "humanoid.xml"
    return path if path.is_file() else None


def median_time(call, repeat: int) -> float:
    call()  # warm-up: file cache, first allocations
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=51)
    parser.add_argument("--model", type=Path, default=None)
    args = parser.parse_args()
    try:
        import mujoco
    except ImportError:
        print("mjcf_import: mujoco is not installed; skipped")
        return 0
    import lumo_dynamic as ld

    path = args.model or humanoid()
    if path is None:
        print("mjcf_import: neither dm_control nor gymnasium is installed; no humanoid to read; skipped")
        return 0
    warnings.simplefilter("ignore")  # the import's MjcfWarning and MuJoCo's deprecation notes
    model = ld.parse_mjcf_file(str(path))
    ours = median_time(lambda: ld.parse_mjcf_file(str(path)), args.repeat)
    theirs = median_time(lambda: mujoco.MjModel.from_xml_path(str(path)), args.repeat)
    print(f"MJCF import of {path.name} (nq {model.nq}, nv {model.nv}, {model.njoints} joints), "
          f"median of {args.repeat}:")
    print(f"  lumo_dynamic.parse_mjcf_file      {ours * 1e3:9.3f} ms")
    print(f"  mujoco.MjModel.from_xml_path      {theirs * 1e3:9.3f} ms")
    print(f"  ratio ours / MuJoCo               {ours / theirs:9.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
