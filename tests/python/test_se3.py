import numpy as np
import pytest

import lumo_dynamic as ld
from geometry import hom, rot, se3

RA, TA = rot((1, 2, 3), 0.7), np.array([0.3, -1.2, 2.0])
RB, TB = rot((-1, 0.5, 0.2), 2.1), np.array([-0.4, 0.1, 0.9])


def test_construction_and_homogeneous():
    np.testing.assert_array_equal(ld.SE3.identity().to_homogeneous(), np.eye(4))
    R, t = np.arange(1.0, 10.0).reshape(3, 3), np.array([1.0, 2.0, 3.0])  # not a rotation: taken as given
    for view in (R, R.T, np.repeat(np.repeat(R, 2, 0), 2, 1)[::2, ::2]):
        A = ld.SE3(view, t)
        np.testing.assert_array_equal(A.homogeneous, hom(view, t))
        np.testing.assert_array_equal(A.to_homogeneous(), hom(view, t))
    assert repr(ld.SE3(translation=t, rotation=R)) == "SE3(rotation=..., translation=...)"


@pytest.mark.parametrize("rotation, translation, exc, message", [
    (np.eye(3), np.zeros(6)[::2], TypeError, "The given array is not contiguous"),
    (np.eye(3).tolist(), np.zeros(3), TypeError, "argument 'rotation': 'list' object cannot be converted to 'PyArray<T, D>'"),
    (np.eye(3, dtype=int), np.zeros(3), TypeError, "argument 'rotation': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (np.eye(3), np.zeros((3, 1)), TypeError, "argument 'translation': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    (np.eye(4)[:3], np.zeros(3), ValueError, "Rotation must be 3x3 matrix and translation must be 3D vector"),
    (np.eye(3), np.zeros(4), ValueError, "Rotation must be 3x3 matrix and translation must be 3D vector"),
])
def test_constructor_errors(rotation, translation, exc, message):
    with pytest.raises(exc) as info:
        ld.SE3(rotation, translation)
    assert str(info.value) == message


def test_compose_and_inverse_match_matrix_products():
    A, B = se3(RA, TA), se3(RB, TB)
    np.testing.assert_allclose(A.compose(B).homogeneous, hom(RA, TA) @ hom(RB, TB), atol=1e-14)
    np.testing.assert_allclose(A.inverse().homogeneous, np.linalg.inv(hom(RA, TA)), atol=1e-14)
    np.testing.assert_allclose(A.compose(A.inverse()).homogeneous, np.eye(4), atol=1e-14)
    A.homogeneous[0, 3] = 99.0  # results are copies; the transform is immutable
    np.testing.assert_array_equal(A.homogeneous, hom(RA, TA))
    with pytest.raises(AttributeError):
        A.translation = TB
    with pytest.raises(TypeError) as info:
        A.compose(hom(RB, TB))
    assert str(info.value) == "argument 'other': 'ndarray' object cannot be converted to 'SE3'"


def test_reference_frame_identity_semantics():
    RF = ld.ReferenceFrame
    assert RF.WORLD is RF.WORLD and RF.LOCAL is RF.LOCAL
    assert [repr(RF.WORLD), repr(RF.LOCAL), repr(RF.LOCAL_WORLD_ALIGNED), repr(RF())] == [
        "ReferenceFrame.WORLD", "ReferenceFrame.LOCAL", "ReferenceFrame.LOCAL_WORLD_ALIGNED", "ReferenceFrame.WORLD"]
    fresh = RF()
    assert fresh != RF.WORLD and fresh != RF() and RF.WORLD != RF.LOCAL
    assert len({RF.WORLD, RF.WORLD, RF.LOCAL, fresh}) == 3


def test_init_on_an_existing_object_changes_nothing():
    A = ld.SE3(RA, TA)
    A.__init__(RB, TB)
    A.__init__()
    np.testing.assert_array_equal(A.homogeneous, hom(RA, TA))
    RF = ld.ReferenceFrame
    RF.LOCAL.__init__()
    assert repr(RF.LOCAL) == "ReferenceFrame.LOCAL"
    with pytest.raises(TypeError):
        RF(1)
    with pytest.raises(TypeError):
        ld.SE3(RA)
