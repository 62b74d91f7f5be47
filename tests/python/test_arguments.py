"""Argument conversion: accepted kinds, rejected kinds with their messages, check order."""
import numpy as np
import pytest

import lumo_dynamic as ld

Q7 = np.linspace(0.1, 0.7, 7)
STRIDED = np.repeat(Q7, 2)[::2]
fk, integrate, I = ld.forwardKinematics, ld.integrate, ld.SE3.identity()


def matches(text, message):
    """Exact match; a message ending in ": " (or empty) only gives the start."""
    return text.startswith(message) if message.endswith(": ") or not message else text == message


def conv(name, type_name, target="PyArray<T, D>"):
    return f"argument '{name}': '{type_name}' object cannot be converted to '{target}'"


class Holder:
    class Inner:  # named by its qualified name, Holder.Inner
        pass


class OddMeta(type):  # makes __qualname__ an int: messages fall back to the type's own name
    def __getattribute__(cls, name):
        return 5 if name == "__qualname__" else super().__getattribute__(name)


Odd = OddMeta("Odd", (), {})


BAD_CALLS = [  # (call on the 7-joint arm and a Data for it, exception, message or its start)
    (lambda m, d: fk(m, d, list(Q7)), TypeError, conv("q", "list")),
    (lambda m, d: fk(m, d, tuple(Q7)), TypeError, conv("q", "tuple")),
    (lambda m, d: fk(m, d, np.arange(7)), TypeError, conv("q", "ndarray")),
    (lambda m, d: fk(m, d, Q7.astype(np.float32)), TypeError, conv("q", "ndarray")),
    (lambda m, d: fk(m, d, Q7.astype(">f8")), TypeError, conv("q", "ndarray")),
    (lambda m, d: fk(m, d, Q7.reshape(7, 1)), TypeError, conv("q", "ndarray")),
    (lambda m, d: fk(m, d, STRIDED), TypeError, "The given array is not contiguous"),
    (lambda m, d: fk(m, d, Q7[:6]), ValueError, "Configuration vector length 6 does not match model nq 7"),
    (lambda m, d: fk(d, d, Q7), TypeError, conv("model", "Data", "Model")),
    (lambda m, d: fk(m, m, Q7), TypeError, conv("data", "Model", "Data")),
    (lambda m, d: ld.neutral(None), TypeError, conv("model", "NoneType", "Model")),
    (lambda m, d: ld.neutral(Holder.Inner()), TypeError, conv("model", "Holder.Inner", "Model")),
    (lambda m, d: ld.neutral(Odd()), TypeError, conv("model", "Odd", "Model")),
    (lambda m, d: integrate(m, Q7[:6], Q7[:5]), ValueError, "Configuration vector size mismatch: expected 7, got 6"),
    (lambda m, d: integrate(m, Q7, np.r_[Q7, 0]), ValueError, "Velocity vector size mismatch: expected 7, got 8"),
    # types of all arguments first, then contiguity, then sizes
    (lambda m, d: integrate(m, STRIDED, list(Q7)), TypeError, conv("v", "list")),
    (lambda m, d: integrate(m, Q7[:6], STRIDED), TypeError, "The given array is not contiguous"),
    (lambda m, d: fk(m, None, list(Q7)), TypeError, conv("data", "NoneType", "Data")),
    (lambda m, d: m.add_joint(0, "revolute", STRIDED[:3], np.eye(4), "a"), TypeError, conv("placement", "ndarray", "SE3")),
    (lambda m, d: m.add_joint(0, "revolute", STRIDED[:3], I, 7), TypeError, conv("name", "int", "PyString")),
    (lambda m, d: m.add_joint(0, "fixed", STRIDED, I, "a"), TypeError, "The given array is not contiguous"),
    (lambda m, d: m.add_joint(0, "revolute", [0.0, 0, 1], I, "a"), TypeError, conv("axis", "list")),
    (lambda m, d: m.add_joint(0, b"fixed", Q7, I, "a"), TypeError, conv("joint_type", "bytes", "PyString")),
    (lambda m, d: m.add_joint(-1, "fixed", Q7, I, "a"), OverflowError, ""),
    (lambda m, d: m.add_joint(0.0, "fixed", Q7, I, "a"), TypeError, "argument 'parent': "),
    (lambda m, d: m.set_gravity(np.array([0, 0, -9])), TypeError, conv("gravity", "ndarray")),
    (lambda m, d: ld.Data(None), TypeError, conv("model", "NoneType", "Model")),
    # argument counts and keywords
    (lambda m, d: fk(m, d), TypeError, "forwardKinematics() missing 1 required positional argument: 'q'"),
    (lambda m, d: fk(), TypeError, "forwardKinematics() missing 3 required positional arguments: 'model', 'data', and 'q'"),
    (lambda m, d: fk(m, d, Q7, Q7), TypeError, "forwardKinematics() takes 3 positional arguments but 4 were given"),
    (lambda m, d: fk(m, d, Q7, x=1), TypeError, "forwardKinematics() got an unexpected keyword argument 'x'"),
    (lambda m, d: fk(m, d, Q7, q=Q7), TypeError, "forwardKinematics() got multiple values for argument 'q'"),
    (lambda m, d: m.add_joint(0, "fixed"), TypeError,
     "Model.add_joint() missing 3 required positional arguments: 'axis', 'placement', and 'name'"),
    (lambda m, d: m.add_joint(0, "fixed", Q7, I, "a", "b"), TypeError,
     "Model.add_joint() takes 5 positional arguments but 6 were given"),
    (lambda m, d: d.get_joint_placement(1, joint_id=1), TypeError,
     "Data.get_joint_placement() got multiple values for argument 'joint_id'"),
    (lambda m, d: ld.Data(), TypeError, "Data() missing 1 required positional argument: 'model'"),
    (lambda m, d: ld.Model(1), TypeError, "Model() takes 0 positional arguments but 1 was given"),
    # methods without parameters use the same wording
    (lambda m, d: m.createData(x=1), TypeError, "Model.createData() got an unexpected keyword argument 'x'"),
    (lambda m, d: d.to_string_info(1), TypeError, "Data.to_string_info() takes 0 positional arguments but 1 was given"),
    (lambda m, d: ld.SE3.identity(1), TypeError, "SE3.identity() takes 0 positional arguments but 1 was given"),
]


@pytest.mark.parametrize("call, exc, message", BAD_CALLS, ids=[f"{k}-{c[2][:50]}" for k, c in enumerate(BAD_CALLS)])
def test_bad_arguments(arm, call, exc, message):
    data, before = arm.createData(), (repr(arm), str(arm))
    with pytest.raises(exc) as info:
        call(arm, data)
    assert matches(str(info.value), message)
    assert all(np.array_equal(M.homogeneous, np.eye(4)) for M in data.oMi)  # nothing computed
    assert (repr(arm), str(arm)) == before


@pytest.mark.parametrize("joint_id, exc, message", [
    (-1, OverflowError, ""), (2**64, OverflowError, ""),
    (1.0, TypeError, "argument 'joint_id': "), ("1", TypeError, "argument 'joint_id': "),
    (8, IndexError, "Joint ID 8 out of range (max: 7)"),
    (2**64 - 1, IndexError, "Joint ID 18446744073709551615 out of range (max: 7)"),
])
@pytest.mark.parametrize("method", ["get_joint_placement", "get_joint_translation"])
def test_bad_joint_index(arm, method, joint_id, exc, message):
    with pytest.raises(exc) as info:
        getattr(arm.createData(), method)(joint_id)
    assert matches(str(info.value), message)


def test_accepted_inputs_and_keywords(arm):
    readonly = Q7.copy()
    readonly.flags.writeable = False
    misaligned = np.frombuffer(b"\0" + Q7.tobytes(), dtype=np.float64, offset=1)
    subclass = Q7.view(type("Sub", (np.ndarray,), {}))
    data = ld.Data(model=arm)
    fk(arm, data, Q7)
    for q in (readonly, misaligned, subclass):
        other = arm.createData()
        assert fk(q=q, data=other, model=arm) is None
        np.testing.assert_array_equal(other.get_joint_translation(joint_id=np.int64(7)), data.get_joint_translation(7))
    np.testing.assert_array_equal(integrate(arm, v=Q7, q=Q7), 2 * Q7)
    np.testing.assert_array_equal(ld.neutral(model=arm), np.zeros(7))
    assert ld.neutral(type("MyModel", (ld.Model,), {})()).shape == (0,)  # subclasses are accepted
    assert arm.add_joint(parent=np.uint8(7), joint_type="fixed", axis=Q7, placement=I, name="tip") == 8


def test_data_from_another_model(arm, planar, floating):
    data = arm.createData()
    fk(arm, data, Q7)
    before = [M.homogeneous for M in data.oMi]
    arm.add_joint(7, "revolute", np.array([1.0, 0, 0]), I, "j8")
    with pytest.raises(ValueError) as info:
        fk(arm, data, np.zeros(8))
    assert str(info.value) == ("Data was created for a model with njoints 8, nq 7, nv 7, "
                               "but this model has njoints 9, nq 8, nv 8")
    assert all(np.array_equal(a, M.homogeneous) for a, M in zip(before, data.oMi))
    with pytest.raises(ValueError) as info:  # same njoints, other sizes
        fk(floating, planar.createData(), ld.neutral(floating))
    assert str(info.value) == ("Data was created for a model with njoints 3, nq 2, nv 2, "
                               "but this model has njoints 3, nq 8, nv 7")


def test_inputs_unchanged_and_results_new(floating):
    q, v = np.array([1, 2, 3, 0, 0, 0, 2, 0.5]), np.arange(1.0, 8.0)
    q0, v0 = q.copy(), v.copy()
    data = floating.createData()
    fk(floating, data, q)
    H = data.get_joint_placement(2).homogeneous
    results = [(integrate(floating, q, v), (8,)), (ld.neutral(floating), (8,)), (floating.gravity, (3,)),
               (floating.gravity_angular, (3,)), (floating.gravity_full, (6,)),
               (floating.lowerPositionLimit, (0,)), (data.g, (7,)), (data.M, (7, 7)), (data.C, (7, 7)),
               (data.get_joint_translation(2), (3,)), (data.oMi[2].homogeneous, (4, 4)),
               (data.get_joint_placement(2).to_homogeneous(), (4, 4))]
    for k, (r, shape) in enumerate(results):
        assert type(r) is np.ndarray and r.dtype == np.float64 and r.shape == shape, k
        assert r.flags.c_contiguous and r.flags.writeable, k
        assert r.flags.owndata or not isinstance(r.base, np.ndarray), k
        r[...] = 7.0  # must reach neither the inputs, the model nor the workspace
    np.testing.assert_array_equal(q, q0)
    np.testing.assert_array_equal(v, v0)
    np.testing.assert_array_equal(floating.gravity_full, [0, 0, -9.81, 0, 0, 0])
    assert not data.g.any() and not data.C.any() and not data.M.any()
    np.testing.assert_array_equal(data.get_joint_placement(2).homogeneous, H)


def test_workspace_of_another_model_is_refused_at_the_boundary(arm, planar):
    """Every function taking a Data checks it against the model before computing: a ValueError in
    the workspace's words, never an internal error."""
    other = planar.createData()
    values = {"Model": arm, "Data": other, "int": 0, "float": 0.0, "ReferenceFrame": ld.ReferenceFrame.WORLD,
              "ConstraintSet": ld.ConstraintSet(arm, [ld.JointCoupling(arm, 2, 1)])}
    for name, (_, _, params, *_) in ld._api.items():
        if "." in name or "data" not in params:
            continue
        args = [None if t.endswith("| None") else Q7 if t.startswith("NDArray") else values[t]
                for t in params.values()]
        with pytest.raises(ValueError, match="^Data was created for a model with njoints 3, nq 2, nv 2, "
                                             "but this model has njoints 8, nq 7, nv 7$"):
            getattr(ld, name)(*args)
