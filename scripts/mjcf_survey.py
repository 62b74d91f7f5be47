#!/usr/bin/env python3
"""The MJCF import against MuJoCo on every model file that installed packages ship.

For each *.xml file under the given packages (found without importing them:
default dm_control, gymnasium, gymnasium_robotics, metaworld, each skipped
when absent), loads it with mujoco.MjModel.from_xml_path and with
lumo_dynamic.parse_mjcf_file, and compares mass matrix, bias forces and body
and site poses at random states as tests/python/test_mjcf.py does (to 1e-9
of the largest entry). Files MuJoCo refuses are not models (included fragments, asset
lists, schemas) and are only counted. Prints the counts, then each file that
failed or disagreed, with the tolerance (relative to the largest entry) it
meets.

Usage: python scripts/mjcf_survey.py [package ...]
(packages installed with `pip install --no-deps` are enough: only their files are read)
"""
import collections
import importlib.util
import sys
import warnings
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))


def main() -> int:
    import mujoco
    import lumo_dynamic as ld
    import test_mjcf as oracle

    packages = sys.argv[1:] or ["dm_control", "gymnasium", "gymnasium_robotics", "metaworld"]
    counts, notes = collections.Counter(), []
    for package in packages:
        spec = importlib.util.find_spec(package)
        if spec is None or not spec.submodule_search_locations:
            print(f"{package}: not installed")
            continue
        root = Path(list(spec.submodule_search_locations)[0])
        for path in sorted(root.rglob("*.xml")):
            name = f"{package}/{path.relative_to(root)}"
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    mj = mujoco.MjModel.from_xml_path(str(path))
            except Exception:
                counts["not a model (MuJoCo refuses it)"] += 1
                continue
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore", ld.MjcfWarning)
                    model = ld.parse_mjcf_file(str(path))
            except Exception as e:
                counts["failed to load"] += 1
                notes.append(f"failed    {name}: {e} ({e.__cause__})")
                continue
            try:
                oracle.assert_same_dynamics(mj, model)
                counts["agree"] += 1
            except AssertionError:
                counts["disagree"] += 1
                notes.append(f"disagree  {name}: agrees to {largest_difference(mj, model, oracle):.0e} of the largest entry")
    for what, n in counts.most_common():
        print(f"{n:5d}  {what}")
    print("\n".join(notes))
    return 1 if counts["failed to load"] or counts["disagree"] else 0


def largest_difference(mj, model, oracle) -> float:
    for rtol in 10.0 ** np.arange(-8, 0):
        oracle.RTOL = rtol
        try:
            oracle.assert_same_dynamics(mj, model)
            return rtol
        except AssertionError:
            pass
        finally:
            oracle.RTOL = 1e-9
    return 1.0


if __name__ == "__main__":
    sys.exit(main())
