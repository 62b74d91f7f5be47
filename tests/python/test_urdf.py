"""parse_urdf_file and parse_urdf_from_string: models, frames, limits, errors."""
import subprocess
import sys
import warnings
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld
from geometry import rot

REPO = Path(__file__).resolve().parents[2]
ROBOTS = REPO.parent / "shared" / "robots"
TWO_LINK = """<robot name="two_link">
  <link name="base"/>
  <link name="upper"><inertial><origin xyz="0.5 0 0"/><mass value="2"/>
    <inertia ixx="0.01" ixy="0" ixz="0" iyy="0.2" iyz="0" izz="0.2"/></inertial></link>
  <link name="tool"/>
  <joint name="shoulder" type="revolute"><parent link="base"/><child link="upper"/>
    <origin xyz="0 0 0.3" rpy="0 0 1.5707963267948966"/><axis xyz="0 1 0"/>
    <limit lower="-1.25" upper="2.5" effort="10" velocity="1"/></joint>
  <joint name="tcp" type="fixed"><parent link="upper"/><child link="tool"/><origin xyz="1 0 0"/></joint>
</robot>"""


def test_model_from_string_and_file():
    assert ld.parse_urdf_from_string.__text_signature__ == "(urdf_string)"
    assert ld.parse_urdf_file.__text_signature__ == "(filename)"
    model = ld.parse_urdf_from_string(urdf_string=TWO_LINK)
    assert (model.name, model.njoints, model.nq, model.nv, model.nframes) == ("two_link", 3, 1, 1, 6)
    assert model.names == ["universe", "shoulder", "tcp"]
    assert [model.getFrameId(n) for n in ["universe", "base", "shoulder", "upper", "tcp", "tool"]] == list(range(6))
    assert (model.lowerPositionLimit.tolist(), model.upperPositionLimit.tolist()) == ([-1.25], [2.5])
    data = model.createData()
    ld.forwardKinematics(model, data, np.array([0.6]))
    tool = np.array([0, 0, 0.3]) + rot((0, 0, 1), np.pi / 2) @ rot((0, 1, 0), 0.6) @ [1.0, 0, 0]
    np.testing.assert_allclose(data.get_joint_translation(2), tool, atol=1e-12)
    humanoid = ld.parse_urdf_file(filename=str(REPO / "models" / "humanoid.urdf"))
    assert (humanoid.nq, humanoid.nv, humanoid.names[1]) == (38, 37, "root_joint")


def test_errors_and_causes(tmp_path):
    missing = str(tmp_path / "absent.urdf")
    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_file(missing)
    assert str(info.value) == f"Failed to parse URDF: Failed to parse URDF file: {missing}"
    assert type(info.value.__cause__) is RuntimeError
    assert str(info.value.__cause__) == f"cannot read file '{missing}': No such file or directory"
    with pytest.raises(RuntimeError, match="Failed to parse URDF file") as info:
        ld.parse_urdf_file(str(tmp_path))
    assert "Is a directory" in str(info.value.__cause__)

    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_from_string(TWO_LINK.replace('"revolute"', '"Revolute"'))
    assert str(info.value) == "Failed to parse URDF: Failed to parse URDF from string"
    assert str(info.value.__cause__) == "joint 'shoulder' at line 6: unknown joint type 'Revolute'"

    for text, message in [('<robot name="r"/>', "No root link found in URDF"),
                          (TWO_LINK.replace("</robot>", '<joint name="back" type="fixed"><parent link="tool"/>'
                                                        '<child link="upper"/></joint></robot>'),
                           "Cycle in the link graph: 'upper' -> 'tool' -> 'upper'")]:
        with pytest.raises(RuntimeError) as info:
            ld.parse_urdf_from_string(text)
        assert str(info.value) == f"Failed to parse URDF: {message}" and info.value.__cause__ is None


@pytest.mark.skipif(not ROBOTS.is_dir(), reason="../shared/robots not present")
def test_real_robots():
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # clean files import silently
        for path in sorted(ROBOTS.glob("*.urdf")):
            ld.parse_urdf_file(str(path))
        ld.parse_urdf_from_string(TWO_LINK)
    fetch = ld.parse_urdf_file(str(ROBOTS / "fetch.urdf"))
    assert (fetch.njoints, fetch.nq, fetch.nv, fetch.nframes) == (26, 20, 15, 52)
    text = (ROBOTS / "quirks" / "deepmimic_humanoid.urdf").read_text()
    assert text.endswith("\0") and ld.parse_urdf_from_string(text).nq == 36


def cause_of(text):
    with pytest.raises(RuntimeError) as info:
        ld.parse_urdf_from_string(text)
    return str(info.value), str(info.value.__cause__)


def test_impossible_numbers_axes_and_encodings():
    for old, new, cause in [('xyz="0.5 0 0"', 'xyz="0.5 nan 0"', "non-finite number 'nan'"),
                            ('value="2"', 'value="inf"', "non-finite number 'inf'"),
                            ('iyy="0.2"', 'iyy="nan(0x1)"', "non-finite number 'nan(0x1)'"),
                            ('upper="2.5"', 'upper="-inf"', "non-finite number '-inf'"),
                            ('value="2"', 'value="-4"', "link 'upper' at line 3: attribute 'value' of <mass> (line 3): negative mass -4")]:
        message, reason = cause_of(TWO_LINK.replace(old, new))
        assert message == "Failed to parse URDF: Failed to parse URDF from string" and cause in reason
    assert cause_of(TWO_LINK.replace('<axis xyz="0 1 0"/>', '<axis xyz="0 0 0"/>'))[0] == (
        "Failed to parse URDF: joint 'shoulder' at line 6: Joint axis must be non-zero")
    tiny = ld.parse_urdf_from_string(TWO_LINK.replace('<axis xyz="0 1 0"/>', '<axis xyz="0 1e-200 0"/>'))
    ref = ld.parse_urdf_from_string(TWO_LINK)
    q = np.array([0.4])
    np.testing.assert_allclose(ld.rnea(tiny, tiny.createData(), q, q, q), ld.rnea(ref, ref.createData(), q, q, q), atol=1e-15)


def test_wide_encodings_are_named(tmp_path):
    for encoding, name in [("utf-16", "UTF-16"), ("utf-16-be", "UTF-16"), ("utf-32", "UTF-32")]:
        path = tmp_path / f"{encoding}.urdf"
        path.write_bytes(TWO_LINK.encode(encoding))
        with pytest.raises(RuntimeError) as info:
            ld.parse_urdf_file(str(path))
        assert str(info.value.__cause__) == f"the text is {name}; URDF must be UTF-8"


def test_one_warning_names_what_was_ignored():
    text = TWO_LINK.replace("</robot>", """<link name="tool"/>
  <link name="island"/><link name="reef"/>
  <joint name="tcp" type="fixed"><parent link="island"/><child link="reef"/></joint>
  <joint name="ghost" type="fixed"><parent link="tool"/><child link="nothing"/></joint>
  <link name="tip"/><joint name="shoulder" type="fixed"><parent link="tool"/><child link="tip"/></joint>
</robot>""")
    with pytest.warns(ld.UrdfWarning) as record:
        model = ld.parse_urdf_from_string(text)
    assert len(record) == 1 and model.names == ["universe", "shoulder", "tcp", "shoulder"]
    assert str(record[0].message) == "\n  ".join([
        "URDF import ignored or found doubtful 6 items:",
        "link 'tool' at line 10 is ignored: it repeats the name of the link 'tool' at line 5",
        "link 'island' at line 11 is a second root link: it and its subtree are ignored",
        "link 'reef' at line 11 is ignored: it is not reachable from the root link 'base'",
        "joint 'tcp' at line 12 is ignored: its parent link 'island' is not reachable from the root link 'base'",
        "joint 'ghost' at line 13 is ignored: its child link 'nothing' does not exist",
        "joint 'shoulder' at line 14 repeats the name of the joint 'shoulder' at line 6; a lookup by name finds the first"])
    with warnings.catch_warnings():
        warnings.simplefilter("error", ld.UrdfWarning)
        with pytest.raises(ld.UrdfWarning):
            ld.parse_urdf_from_string(text)


ODD_FILES = r"""
import ctypes, os, signal, sys, tempfile, threading
import lumo_dynamic as ld
tmp = tempfile.mkdtemp()
fifo = os.path.join(tmp, "fifo")
os.mkfifo(fifo)
for path in (fifo, "/dev/zero"):
    try:
        ld.parse_urdf_file(path)
    except RuntimeError as e:
        print("refused" if "is not a regular file" in str(e.__cause__) else e.__cause__)
big = os.path.join(tmp, "big.urdf")
with open(big, "wb") as f:
    f.truncate((256 << 20) + 1)  # sparse, over the limit of a URDF file
try:
    ld.parse_urdf_file(big)
except RuntimeError as e:
    print("refused" if "larger than 256 MiB" in str(e.__cause__) else e.__cause__)
size = 255 << 20
with open(big, "wb") as f:
    f.truncate(size)  # sparse, under the limit of a URDF file: long to read
# A watcher thread sends SIGINT once it sees the read under way: the file
# open with an offset short of its end. It looks and signals holding the
# interpreter lock (PyDLL calls keep it, and the long switch interval keeps
# it from being taken away), so the read, which takes the lock back between
# chunks, cannot finish in between: the next chunk boundary sees the signal.
# That the watcher ran at all while the file was open shows that the read
# released the lock. Should the whole read pass while the watcher is not
# scheduled, the attempt proves nothing and is made again.
libc, buf = ctypes.PyDLL(None), ctypes.create_string_buffer(4096)
libc.read.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t]
fd = os.open(big, os.O_RDONLY)
os.close(fd)  # the number the reader's descriptor will have: nothing else opens files
def offset():  # of the reader's descriptor, None while it is not open
    info = libc.open(b"/proc/self/fdinfo/%d" % fd, os.O_RDONLY)
    if info < 0:
        return None
    n = libc.read(info, buf, len(buf))
    libc.close(info)
    return int(buf.raw[:n].split(b"pos:")[1].split()[0])
ticks, over = [], threading.Event()
def watch():
    while not over.wait(0.001):  # the lock is free while waiting
        pos = offset()
        if pos and pos < size:
            ticks.append(1)
            libc.kill(os.getpid(), signal.SIGINT)
            return
switch = sys.getswitchinterval()
for attempt in range(10):
    over.clear()
    watcher = threading.Thread(target=watch)
    watcher.start()
    sys.setswitchinterval(1000)
    try:
        ld.parse_urdf_file(big)
        print("read to the end")
    except KeyboardInterrupt:
        print("interrupted", len(ticks))
    except RuntimeError:
        continue  # read through before the watcher looked
    finally:
        sys.setswitchinterval(switch)
        over.set()
        watcher.join()
    break
"""


def test_odd_files_neither_hang_nor_hold_the_lock():
    run = subprocess.run([sys.executable, "-c", ODD_FILES], capture_output=True, text=True, timeout=60)
    assert run.stdout.split("\n") == ["refused", "refused", "refused", "interrupted 1", ""], run.stderr
