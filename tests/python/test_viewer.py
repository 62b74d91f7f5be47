"""lumo_dynamic.viewer in a headless Chromium: the page shows the robot, and
display(q) moves it. Skipped without viser or without a Chromium."""
import shutil
import socket
import subprocess
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld

pytest.importorskip("viser")
iio = pytest.importorskip("imageio.v3")
from lumo_dynamic.viewer import Viewer  # noqa: E402

MODELS = Path(__file__).resolve().parents[2] / "models"
CHROMIUM = next(filter(None, map(shutil.which, ("chromium", "chromium-browser", "google-chrome"))), None)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def silhouette(path):
    """The robot's pixels: the coloured ones (the ground grid and the
    shadows are grey, the background white)."""
    rgb = iio.imread(path).astype(int)
    return rgb.max(axis=2) - rgb.min(axis=2) > 30


@pytest.mark.skipif(CHROMIUM is None, reason="no Chromium found")
def test_snapshots_follow_the_configuration(tmp_path):
    model = ld.parse_urdf_file(str(MODELS / "arm7.urdf"))  # no visuals: the joint tree is drawn
    with Viewer(model, MODELS / "arm7.urdf", port=free_port()) as view:
        # The browser stays on the page; the snapshots are rendered by it and
        # wait (generously) for it to connect and answer.
        browser = subprocess.Popen(
            [CHROMIUM, "--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
             "--window-size=1024,768", f"--user-data-dir={tmp_path / 'profile'}", view.url],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            view.display(ld.neutral(model))
            before = silhouette(view.snapshot(tmp_path / "neutral.png", width=640, height=480, timeout=180))
            view.display(ld.integrate(model, ld.neutral(model), np.full(model.nv, 0.6)))
            after = silhouette(view.snapshot(tmp_path / "bent.png", width=640, height=480, timeout=180))
        finally:
            browser.terminate()
            browser.wait()
    assert before.shape == after.shape == (480, 640)
    assert before.sum() > 500 and after.sum() > 500  # the robot is on the page
    assert (before != after).sum() > 0.3 * min(before.sum(), after.sum())  # and it moved
