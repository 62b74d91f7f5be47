"""Descriptions of the classes and members whose __doc__ the module keeps fixed.

The classes SE3, Model, Data and ReferenceFrame carry only their text
signature as __doc__, and several methods and properties a fixed line (the
gravity accessors, createData, the placements of Data, ...); the class
constants ReferenceFrame.WORLD, .LOCAL and .LOCAL_WORLD_ALIGNED cannot have
a docstring of their own. Their description lives here, once, keyed by
qualified name, and make_stubs.py (the stubs) and docs/conf.py (the API
pages) append it to whatever __doc__ says. Every other class, method and
property describes itself in its binding's docstring.

A description is reStructuredText that also reads as plain text: `name` is
code, :ref:`...` a link into docs/conventions.rst, and a paragraph of `>>>`
lines an example run from the top of the repository.
"""
from __future__ import annotations

DESCRIPTIONS: dict[str, str] = {
    # ------------------------------------------------------------------ SE3
    "SE3": """\
A rigid transform (R, t): a 3x3 rotation R and a translation t (3,), immutable.

`rotation` is a float64 array of shape (3, 3), any strides; `translation` a contiguous
float64 array of 3 (ValueError for other sizes). R is taken as given: neither checked for
orthonormality nor normalised. As the placement aMb of a frame b in a frame a it maps a
point x of b to R x + t in a; `a.compose(b)` is a * b (R = Ra Rb, t = Ra tb + ta) and
`inverse()` is (R^T, -R^T t). R and t are read through `to_homogeneous()` or `homogeneous`
(a new 4x4 array); `exp`, `log` and `interpolate` work on twists [linear; angular]. Copies
and pickles exactly. See :ref:`conventions-se3`.

>>> import numpy as np, lumo_dynamic as ld
>>> T = ld.SE3(np.eye(3), np.array([0.0, 0.0, 1.0]))
>>> T.compose(T).homogeneous[:3, 3]
array([0., 0., 2.])""",
    "SE3.homogeneous": """\
A new 4x4 float64 array [[R, t], [0, 0, 0, 1]], rows in order: the same as
`to_homogeneous()`.""",

    # ---------------------------------------------------------------- Model
    "Model": """\
A kinematic tree: joints, the bodies they carry, frames, position limits and gravity.

`Model()` is the empty model: joint 0 "universe" (the fixed world) and frame 0. Grow it with
`add_joint`, or read one with `parse_urdf_file` or `parse_mjcf_file`. Joints are numbered in
the order they were added, every parent before its children; a configuration q has `nq`
entries and a velocity `nv`, each joint owning a contiguous slice of both
(:ref:`conventions-configuration`). Algorithms only read the model: their results go to a
`Data` made for it (`createData()`). Pickles as its versioned binary record. Placements and
frames: :ref:`conventions-frames`.

>>> import lumo_dynamic as ld
>>> model = ld.parse_urdf_file("models/arm7.urdf")
>>> model.nq, model.nv, model.njoints
(7, 7, 9)
>>> data = model.createData()""",
    "Model.gravity": """\
A new float64 array of 3, in world axes. Default [0, 0, -9.81]. Every dynamics function
reads it: gravity is applied as an acceleration of the world (the root) opposite to it.""",
    "Model.gravity_angular": """\
A new float64 array of 3, in world axes. Default zero.""",
    "Model.gravity_full": """\
A new float64 array of 6, [linear; angular] (:ref:`conventions-6-vectors`): `gravity`
followed by `gravity_angular`.""",
    "Model.set_gravity": """\
Writes the linear part (world axes) from a contiguous float64 array of 3; the angular part is
kept. ValueError for another size, and the model is unchanged.

>>> model.set_gravity(np.array([0.0, 0.0, -1.62]))""",
    "Model.set_gravity_angular": """\
Writes the angular part (world axes) from a contiguous float64 array of 3; the linear part is
kept. ValueError for another size, and the model is unchanged.""",
    "Model.set_gravity_full": """\
Elements 0-2 become the linear part, 3-5 the angular part
(:ref:`conventions-6-vectors`). ValueError for another size, and the model is unchanged.""",
    "Model.createData": """\
The same as `Data(model)`: a new workspace sized for this model, every result zero and
every placement the identity.""",
    "Model.to_string_info": """\
A multi-line report: the name and the counts (joints, frames, bodies, nq, nv), then one
line per joint (name, parent) and per frame (name, type, joint). `str(model)` is the same
text.""",
    "Model.print_info": """\
Writes the report of `to_string_info()` and a newline to the process's standard output
(the operating-system stream, not `sys.stdout`); returns None.""",

    # ----------------------------------------------------------------- Data
    "Data": """\
The workspace of one model: every algorithm writes its results here.

`Data(model)`, the same as `model.createData()`, is sized for `model` (njoints, nq, nv);
passing it to a function with a model of other sizes raises ValueError. Results stay until
the next algorithm overwrites them, and each algorithm leaves the fields the next ones
read (:ref:`conventions-data`). From Python `M`, `C`, `g` and `oMi` are readable, each read
a new copy. One Data per thread; it cannot be pickled (pickle the model and call
`createData()`).

>>> import numpy as np, lumo_dynamic as ld
>>> model = ld.parse_urdf_file("models/arm7.urdf")
>>> data = ld.Data(model)
>>> tau = ld.rnea(model, data, ld.neutral(model), np.zeros(7), np.zeros(7))
>>> data.oMi[-1].homogeneous[:3, 3].round(3)
array([0.   , 0.788, 0.523])""",
    "Data.M": """\
Filled by `crba` and `computeAllTerms` (and by the functions that run `crba`, such as
`constrainedDynamics`); rows and columns in velocity order. Zero on a new Data.""",
    "Data.C": """\
Filled by `computeCoriolisMatrix`: C v is the velocity-dependent part of the joint torques
(`non_linear_effects` less `compute_gravity`), and dM/dt = C + C^T. Zero on a new Data.""",
    "Data.g": """\
The generalised gravity torques g(q), in velocity order: filled by `compute_gravity` and
`computeAllTerms`. Zero on a new Data.""",
    "Data.oMi": """\
A new list of njoints new SE3, index 0 the root: joint i's placement in the world
(:ref:`conventions-frames`), written by `forwardKinematics` and by every algorithm that
runs a forward pass (`rnea`, `crba`, `computeJointJacobians`, `computeAllTerms`, ...).
Identities on a new Data.""",
    "Data.get_joint_placement": """\
A new SE3, a copy of `oMi[joint_id]` as the last forward pass left it. IndexError for a
joint_id not below njoints.""",
    "Data.get_joint_translation": """\
A new float64 array of 3: the translation of `oMi[joint_id]`, the joint's origin in world
coordinates. IndexError for a joint_id not below njoints.""",
    "Data.to_string_info": """\
A multi-line report: the counts (njoints, nq, nv) and the world positions of the first
five joints in `oMi`. `str(data)` is the same text.""",
    "Data.print_info": """\
Writes the report of `to_string_info()` and a newline to the process's standard output
(the operating-system stream, not `sys.stdout`); returns None.""",

    # ------------------------------------------------------- ReferenceFrame
    "ReferenceFrame": """\
The frame in which a 6-vector or Jacobian is expressed: `WORLD`, `LOCAL` or
`LOCAL_WORLD_ALIGNED`.

The three class constants are the values to pass as `reference_frame`; `ReferenceFrame()`
is a new WORLD. Comparison and hashing are by identity (`ReferenceFrame() ==
ReferenceFrame.WORLD` is false), but every function uses the value. The rows of a result
are [linear; angular]; how each choice moves the linear part and turns the axes is in
:ref:`conventions-reference-frames`.

>>> import lumo_dynamic as ld
>>> ld.ReferenceFrame.LOCAL
ReferenceFrame.LOCAL""",
    "ReferenceFrame.WORLD": """\
World axes, the linear part about the world origin (spatial velocity).""",
    "ReferenceFrame.LOCAL": """\
The frame's own axes, the linear part about its origin (body velocity).""",
    "ReferenceFrame.LOCAL_WORLD_ALIGNED": """\
World axes, the linear part about the frame's origin (the velocity of its origin in the
world, with the angular velocity in world axes).""",

    # ----------------------------------------------------------- exceptions
    "PanicException": """\
Raised by a violated internal bound ("Matrix index out of bounds.", ...) that the argument
checks did not catch: a fault of the library, to be reported with the call that raised it.
`except Exception` does not catch it; `except ld.PanicException` does. The Data of the
failed call may hold partial results; recompute before reading it.""",

    # ---------------------------------------------------- the solver result
    "InverseKinematicsResult": """\
The named tuple `inverseKinematics` returns: `q` (a new float64 array of nq), `converged`,
`iterations` (int) and `error` (the weighted norm of the residual at q); unpacks as
`q, converged, iterations, error = ...`.

>>> arm = ld.parse_urdf_file("models/arm7.urdf")
>>> result = ld.inverseKinematics(arm, arm.getFrameId("tool0"), np.array([0.3, 0.2, 0.6]), ld.neutral(arm))
>>> result.converged, result.q.shape
(True, (7,))""",
    "InverseKinematicsResult.n_fields": "The number of fields: 4.",
    "InverseKinematicsResult.n_sequence_fields": "The number of fields seen by indexing and unpacking: 4.",
    "InverseKinematicsResult.n_unnamed_fields": "The number of fields without a name: 0.",
}


def describe(qualname: str, doc: str | None) -> str:
    """The full description of a class or member: its own docstring (the text
    signature stripped), then this table's text for `qualname`, if any."""
    own = (doc or "").strip()
    extra = DESCRIPTIONS.get(qualname, "").strip()
    return f"{own}\n\n{extra}" if own and extra else own or extra
