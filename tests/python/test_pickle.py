"""Pickling and copying of Model, SE3 and ReferenceFrame; Data refuses."""
import copy
import pickle

import numpy as np
import pytest

import lumo_dynamic as ld
import lumo_dynamic.batch as lb
from test_batch import MODELS, states

try:
    import cloudpickle
except ImportError:  # a test extra; its cases skip
    cloudpickle = None
needs_cloudpickle = pytest.mark.skipif(cloudpickle is None, reason="cloudpickle not installed")

COPIES = [pytest.param(lambda x, p=p: pickle.loads(pickle.dumps(x, protocol=p)), id=f"pickle{p}")
          for p in range(pickle.HIGHEST_PROTOCOL + 1)]
COPIES += [pytest.param(lambda x: cloudpickle.loads(cloudpickle.dumps(x)), id="cloudpickle", marks=needs_cloudpickle),
           pytest.param(copy.copy, id="copy"), pytest.param(copy.deepcopy, id="deepcopy")]


def fields(m):
    return (repr(m), str(m), m.names, m.gravity_full.tobytes(), m.lowerPositionLimit.tobytes(),
            m.upperPositionLimit.tobytes())


def results(m, q, v, a):
    rf = ld.ReferenceFrame.LOCAL_WORLD_ALIGNED
    return [x.tobytes() for x in (lb.rnea(m, q, v, a), lb.crba(m, q), lb.integrate(m, q, v),
                                  lb.computeFrameJacobian(m, q, m.nframes - 1, rf),
                                  lb.framePlacements(m, q, range(m.nframes)))]


def built_model():
    m = ld.Model()
    m.add_joint(0, "floating", np.zeros(3), ld.SE3.identity(), "base")
    m.add_joint(1, "prismatic", np.array([0.3, 0.1, 2.0]), ld.SE3(np.eye(3)[::-1], np.array([1.0, 2, 3])), "p")
    m.set_name("built 'by' hand")
    m.set_gravity_full(np.array([1.0, -2, 3, 0.5, 0, -0.25]))
    return m


@pytest.mark.parametrize("clone", COPIES)
def test_copies_equal_in_every_field_and_result(clone):
    for _, m in MODELS + [("empty", ld.Model()), ("built", built_model())]:
        c = clone(m)
        assert type(c) is ld.Model and c is not m and fields(c) == fields(m)
        q, v, a = states(m, 5)
        assert results(c, q, v, a) == results(m, q, v, a)
    T = ld.SE3(np.array([[0.0, -1, 0], [1, 0, 0], [0, 0, 1]]) * (1 + 1e-16), np.array([0.1, -0.0, 1e300]))
    assert clone(T).homogeneous.tobytes() == T.homogeneous.tobytes()
    for name in ("WORLD", "LOCAL", "LOCAL_WORLD_ALIGNED"):
        assert clone(getattr(ld.ReferenceFrame, name)) is getattr(ld.ReferenceFrame, name)
    assert clone(ld.ReferenceFrame()) is ld.ReferenceFrame.WORLD


def test_bad_records_and_data():
    record = built_model().__reduce__()[2]
    assert record[:4] == b"\x02\x00\x00\x00"  # the version comes first
    m = ld.Model()
    for bad, message in [(record[:-1], "Corrupted model record: truncated"),
                         (record + b"\0", "Corrupted model record: trailing bytes"),
                         (b"\x07" + record[1:], "Unknown model record version 7"),
                         (record[:4] + b"\xff" * 8 + record[12:], "Corrupted model record")]:
        with pytest.raises(ValueError, match=message):
            m.__setstate__(bad)
        assert repr(m) == repr(ld.Model())  # unchanged
    with pytest.raises(TypeError, match="argument 'state'"):
        m.__setstate__("text")
    data = m.createData()
    for dump in (pickle.dumps, copy.copy) + ((cloudpickle.dumps,) if cloudpickle else ()):
        with pytest.raises(TypeError, match=r"^Data cannot be pickled; pickle the Model and call createData\(\)$"):
            dump(data)
