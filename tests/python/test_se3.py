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


def twist_matrix(xi):
    X = np.zeros((4, 4))
    X[:3, :3] = [[0, -xi[5], xi[4]], [xi[5], 0, -xi[3]], [-xi[4], xi[3], 0]]
    X[:3, 3] = xi[:3]
    return X


@pytest.mark.parametrize("angle", [0.0, 1e-7, 0.5, 2.0, np.pi - 1e-6])
def test_exp_log_and_their_jacobians(angle):
    expm = pytest.importorskip("scipy.linalg").expm
    rng = np.random.default_rng(3)
    axis = rng.normal(size=3)
    xi = np.concatenate([rng.normal(size=3), angle * axis / np.linalg.norm(axis)])
    T = ld.SE3.exp(xi)
    np.testing.assert_allclose(T.homogeneous, expm(twist_matrix(xi)), atol=1e-12)
    np.testing.assert_allclose(T.log(), xi, atol=1e-12)
    np.testing.assert_allclose(ld.SE3.exp_jacobian(xi) @ T.log_jacobian(), np.eye(6), atol=1e-10)
    A, B = se3(RA, TA), se3(RB, TB)
    np.testing.assert_allclose(ld.SE3.interpolate(A, B, 0.0).homogeneous, A.homogeneous, atol=1e-12)
    np.testing.assert_allclose(ld.SE3.interpolate(a=A, b=B, t=1).homogeneous, B.homogeneous, atol=1e-12)


@pytest.mark.parametrize("call, exc, message", [
    (lambda: ld.SE3.exp(np.zeros(5)), ValueError, "xi must have 6 elements, got 5"),
    (lambda: ld.SE3.exp_jacobian(np.zeros(7)), ValueError, "xi must have 6 elements, got 7"),
    (lambda: ld.SE3.exp([0.0] * 6), TypeError, "argument 'xi': 'list' object cannot be converted to 'PyArray<T, D>'"),
    (lambda: ld.SE3.interpolate(ld.SE3.identity(), np.eye(4), 0.5), TypeError,
     "argument 'b': 'ndarray' object cannot be converted to 'SE3'"),
    (lambda: ld.SE3.interpolate(ld.SE3.identity(), ld.SE3.identity(), "half"), TypeError,
     "argument 't': 'str' object cannot be converted to 'float'"),
    (lambda: ld.SE3.identity().log(1), TypeError, "SE3.log() takes 0 positional arguments but 1 was given"),
])
def test_exp_log_argument_errors(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert str(info.value) == message
