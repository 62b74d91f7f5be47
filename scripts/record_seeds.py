#!/usr/bin/env python3
"""Seeds for the model record fuzzer: the record of each URDF model given.

    record_seeds.py OUT_DIR MODEL.urdf ...
"""
import sys
from pathlib import Path

import lumo_dynamic as ld

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
for path in sys.argv[2:]:
    (out / path.replace("/", "_")).write_bytes(ld.parse_urdf_file(path).__reduce__()[2])
