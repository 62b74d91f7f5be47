"""examples/dataset.py on a two-worker local cluster: every row equals the single calls."""
import json
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld

pytest.importorskip("distributed")
REPO = Path(__file__).resolve().parents[2]


def test_dataset_on_a_local_cluster(tmp_path):
    model_file = REPO / "models" / "humanoid.urdf"
    subprocess.run([sys.executable, str(REPO / "examples" / "dataset.py"), "--model", str(model_file),
                    "--n", "250", "--chunk", "100", "--workers", "2", "--out", str(tmp_path)],
                   check=True, timeout=120, capture_output=True)
    manifest = json.loads((tmp_path / "manifest.json").read_text())
    assert manifest["chunks"] == ["chunk_000000.npz", "chunk_000001.npz", "chunk_000002.npz"]
    model = ld.parse_urdf_file(str(model_file))
    data, rf, frame = model.createData(), ld.ReferenceFrame.LOCAL_WORLD_ALIGNED, manifest["frame_id"]
    rows = 0
    for name in manifest["chunks"]:
        c = np.load(tmp_path / name)
        rows += len(c["q"])
        for q, v, a, tau, M, J in zip(c["q"], c["v"], c["a"], c["tau"], c["M"], c["J"]):
            assert ld.rnea(model, data, q, v, a).tobytes() == tau.tobytes()
            ld.crba(model, data, q)
            assert data.M.tobytes() == M.tobytes()
            ld.computeJointJacobians(model, data, q)
            assert ld.getFrameJacobian(model, data, frame, rf).tobytes() == J.tobytes()
    assert rows == 250


def test_a_dataset_above_a_gigabyte_needs_yes(tmp_path):
    # 100,000 humanoid states: 38 + 3·37 + 37² + 6·37 doubles each, 1.4 GB; nothing is started or written
    done = subprocess.run([sys.executable, str(REPO / "examples" / "dataset.py"), "--n", "100000",
                           "--out", str(tmp_path / "ds")], timeout=60, capture_output=True, text=True)
    assert done.returncode == 2 and "about 1.4 GB" in done.stderr and "--yes" in done.stderr
    assert not (tmp_path / "ds").exists()
