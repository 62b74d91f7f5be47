"""Fixtures: small models built joint by joint with add_joint."""
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
from geometry import se3

# Seven revolute joints, each offset along z from its parent.
ARM_AXES = [(0, 0, 1), (0, 1, 0), (0, 0, 1), (0, -1, 0), (0, 0, 1), (0, 1, 0), (0, 0, 1)]
ARM_OFFSETS = [0.1, 0.2, 0.3, 0.25, 0.2, 0.15, 0.1]


@pytest.fixture
def arm():
    model = ld.Model()
    for k, (axis, dz) in enumerate(zip(ARM_AXES, ARM_OFFSETS)):
        model.add_joint(k, "revolute", np.array(axis, float), se3(t=(0, 0, dz)), f"j{k + 1}")
    return model


@pytest.fixture
def floating():
    """Floating base (nq 7, nv 6) carrying a revolute joint about x at (0.5, 0, 0)."""
    model = ld.Model()
    model.add_joint(0, "floating", np.zeros(3), ld.SE3.identity(), "base")
    model.add_joint(1, "revolute", np.array([1.0, 0, 0]), se3(t=(0.5, 0, 0)), "elbow")
    return model


@pytest.fixture
def planar():
    """Two revolute joints about z; the second one 1 m along x from the first."""
    model = ld.Model()
    model.add_joint(0, "revolute", np.array([0.0, 0, 1]), ld.SE3.identity(), "shoulder")
    model.add_joint(1, "revolute", np.array([0.0, 0, 1]), se3(t=(1, 0, 0)), "elbow")
    return model


@pytest.fixture
def shared_dir():
    """The shared model directory next to the repository; skips when absent."""
    path = Path(__file__).resolve().parents[3] / "shared"
    if not path.is_dir():
        pytest.skip(f"{path} not available")
    return path
