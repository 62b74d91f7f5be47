#!/usr/bin/env python3
"""The include graph of src/ runs one way, from the ground up:

    ground (algorithms/spatial, algorithms/joints, algorithms/errors)
      <- model <- data <- algorithms (the rest) <- urdf_parser <- mjcf_parser <- python

A file may include files of its own layer and of the layers below it; an
#include "..." that reaches up a layer is reported with its line, and the
check fails. A header of the installed library (every layer but python)
names the headers it includes by their path beside it ("../model/model.hpp"),
so that the installed tree under include/lumo/ needs no search path of ours. Quoted includes resolve as the compiler resolves them (beside
the including file, then under src/); <...> includes are not ours.
Usage: check_layers.py [source root, default src]
"""
import re
import sys
from pathlib import Path

LAYERS = ["ground", "model", "data", "algorithms", "urdf_parser", "mjcf_parser", "python"]
GROUND = ("algorithms/spatial", "algorithms/joints", "algorithms/errors")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer(path: Path, src: Path) -> str:
    rel = path.relative_to(src).as_posix()
    if rel.startswith(tuple(g + "/" for g in GROUND)):
        return "ground"
    top = rel.split("/", 1)[0]
    if top not in LAYERS:
        raise SystemExit(f"check_layers: {rel} lies in no layer (a new folder under src/?)")
    return top


def main() -> int:
    src = Path(sys.argv[1] if len(sys.argv) > 1 else "src").resolve()
    violations, files = [], 0
    for path in sorted(p for p in src.rglob("*") if p.suffix in (".hpp", ".cpp", ".h")):
        files += 1
        here = LAYERS.index(layer(path, src))
        for number, line in enumerate(path.read_text().splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = next((c.resolve() for c in (path.parent / match[1], src / match[1]) if c.is_file()), None)
            if target is None or not target.is_relative_to(src):
                continue  # generated or outside the sources
            there = LAYERS.index(layer(target, src))
            if path.suffix == ".hpp" and here < LAYERS.index("python") and not (path.parent / match[1]).is_file():
                violations.append(f"{path.relative_to(src.parent)}:{number}: includes {match[1]} "
                                  "by a path under src/, not beside the header")
            if there > here:
                violations.append(f"{path.relative_to(src.parent)}:{number}: includes {match[1]} "
                                  f"({LAYERS[there]} above {LAYERS[here]})")
    for v in violations:
        print(v)
    print(f"check_layers: {files} files, {len(violations)} includes against the layering")
    return 1 if violations else 0


if __name__ == "__main__":
    sys.exit(main())
