import errno
import io
import os
import subprocess
import sys

import numpy as np

import lumo_dynamic as ld
from conftest import ARM_AXES, ARM_OFFSETS
from geometry import hom, rot

FRESH_MODEL = """\
========== Model Information ==========
Model name: {name}
Number of joints: {n}
Number of frames: 1
Number of bodies: {n}
Number of DOF (nq): {nq}
Number of velocity DOF (nv): {nq}

========== Joint Information ==========
Joint 0: universe (parent: 0)
{joints}
========== Frame Information ==========
Frame 0: universe (type: FrameType(FIXED_JOINT), parent: 0)
=======================================
"""

DATA = """\
========== Data Information ==========
Dimensions:
  njoints: {n}
  nq:      {nq}
  nv:      {nq}

Joint Placements (first {k}):
  Joint 0: position = [  0.0000,   0.0000,   0.0000]
{placements}=====================================
"""


def test_fresh_reports():
    model = ld.Model()
    data = ld.Data(model)
    assert model.to_string_info() == str(model) == FRESH_MODEL.format(name="", n=1, nq=0, joints="")
    assert data.to_string_info() == str(data) == DATA.format(n=1, nq=0, k=1, placements="")


def test_arm_reports(arm):
    arm.set_name("arm7")
    joints = "".join(f"Joint {i}: j{i} (parent: {i - 1})\n" for i in range(1, 8))
    assert arm.to_string_info() == str(arm) == FRESH_MODEL.format(name="arm7", n=8, nq=7, joints=joints)

    q = np.array([0.4, -0.7, 1.1, 0.5, -0.3, 0.9, 0.2])
    data = arm.createData()
    ld.forwardKinematics(arm, data, q)
    H, lines = np.eye(4), ""
    for i in range(4):
        H = H @ hom(t=(0, 0, ARM_OFFSETS[i])) @ hom(rot(ARM_AXES[i], q[i]))
        lines += "  Joint {}: position = [{:8.4f}, {:8.4f}, {:8.4f}]\n".format(i + 1, *H[:3, 3])
    expected = DATA.format(n=8, nq=7, k=5, placements=lines + "  ... (3 more joints)\n")
    # a coordinate that is zero up to rounding may print with either sign
    assert data.to_string_info().replace("-0.0000", " 0.0000") == expected.replace("-0.0000", " 0.0000")
    assert str(data) == data.to_string_info()


def test_print_info_writes_to_process_stdout(arm, capfd, monkeypatch):
    data = arm.createData()
    python_stdout = io.StringIO()
    monkeypatch.setattr(sys, "stdout", python_stdout)
    assert arm.print_info() is None and data.print_info() is None
    out, err = capfd.readouterr()
    assert out == arm.to_string_info() + "\n" + data.to_string_info() + "\n"
    assert err == "" and python_stdout.getvalue() == ""


def test_print_info_io_failure_is_an_oserror():
    """A full disk or a closed pipe on standard output: OSError with the errno."""
    script = ("import lumo_dynamic as ld, sys\n"
              "for obj in (ld.Model(), ld.Data(ld.Model())):\n"
              "    try:\n        obj.print_info()\n    except OSError as e:\n        sys.stderr.write(f'{e.errno} ')\n")
    with open("/dev/full", "w") as full:
        run = subprocess.run([sys.executable, "-c", script], stdout=full, stderr=subprocess.PIPE, text=True)
    assert run.stderr == f"{errno.ENOSPC} {errno.ENOSPC} "
    reader, writer = os.pipe()
    os.close(reader)
    run = subprocess.run([sys.executable, "-c", script], stdout=writer, stderr=subprocess.PIPE, text=True)
    os.close(writer)
    assert run.stderr == f"{errno.EPIPE} {errno.EPIPE} "
