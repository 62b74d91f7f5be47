"""lumo_dynamic.viewer: the URDF's visuals as the file writes them, and, in a
headless Chromium, a page that shows the robot and follows display(q)
(skipped without viser or without a Chromium)."""
import shutil
import socket
import subprocess
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
from lumo_dynamic.viewer import Viewer, _read_visuals

MODELS = Path(__file__).resolve().parents[2] / "models"
CHROMIUM = next(filter(None, map(shutil.which, ("chromium", "chromium-browser", "google-chrome"))), None)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


URDF = """<robot name="two">
  <material name="steel"><color rgba="0.6 0.6 0.7 1"/></material>
  <link name="base">
    <visual><origin xyz="0 0 0.05"/><geometry><box size="0.3 0.2 0.1"/></geometry><material name="steel"/></visual>
  </link>
  <link name="arm">
    <visual><origin xyz="0 0 0.2" rpy="1.5707963267948966 0 0"/>
      <geometry><cylinder radius="0.03" length="0.4"/></geometry></visual>
    <visual><geometry><sphere radius="0.05"/></geometry><material name="red"><color rgba="1 0 0 1"/></material></visual>
    <visual><geometry><mesh filename="package://pkg/meshes/ring.obj" scale="2 2 2"/></geometry></visual>
    <visual><geometry><mesh filename="../meshes/ring.obj"/></geometry></visual>
    <visual><geometry><mesh filename="package://pkg/meshes/missing.dae"/></geometry></visual>
  </link>
  <joint name="j1" type="revolute"><parent link="base"/><child link="arm"/><axis xyz="0 1 0"/>
    <limit lower="-2" upper="2" effort="10" velocity="1"/></joint>
</robot>"""


def test_urdf_visuals(tmp_path):
    mesh = tmp_path / "pkg" / "meshes" / "ring.obj"
    mesh.parent.mkdir(parents=True)
    mesh.write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")
    urdf = tmp_path / "pkg" / "urdf" / "two.urdf"
    urdf.parent.mkdir()
    urdf.write_text(URDF)
    with pytest.warns(UserWarning, match="missing.dae"):
        visuals = _read_visuals(urdf)
    (box,), (cylinder, sphere, scaled, relative) = visuals["base"], visuals["arm"]
    assert (box.kind, box.size, box.color) == ("box", (0.3, 0.2, 0.1), (153, 153, 178))
    assert (cylinder.kind, cylinder.size, cylinder.color) == ("cylinder", (0.03, 0.4), None)
    np.testing.assert_allclose(cylinder.origin[:3, :3] @ [0, 0, 1], [0, -1, 0], atol=1e-15)  # roll π/2: z to -y
    np.testing.assert_allclose(cylinder.origin[:3, 3], [0, 0, 0.2])
    assert (sphere.kind, sphere.size, sphere.color) == ("sphere", (0.05,), (255, 0, 0))
    assert scaled.path == relative.path == mesh and scaled.size == (2, 2, 2)


def silhouette(path):
    """The robot's pixels: the coloured ones (the ground grid and the
    shadows are grey, the background white)."""
    iio = pytest.importorskip("imageio.v3")
    rgb = iio.imread(path).astype(int)
    return rgb.max(axis=2) - rgb.min(axis=2) > 30


@pytest.mark.skipif(CHROMIUM is None, reason="no Chromium found")
def test_snapshots_follow_the_configuration(tmp_path):
    pytest.importorskip("viser")
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
