import inspect

import pytest

import lumo_dynamic as ld

M, D = ld.Model, ld.Data


def test_version_and_all():
    assert ld.__version__ == "0.1.4" and type(ld.__version__) is str
    functions = ["neutral", "integrate", "forwardKinematics", "rnea", "crba", "computeJointJacobians",
                 "computeJointJacobian", "computeJointJacobiansTimeVariation", "getFrameJacobian",
                 "getFrameJacobianTimeVariation", "non_linear_effects", "compute_gravity", "computeAllTerms",
                 "computeCoriolisMatrix", "parse_urdf_file", "parse_urdf_from_string"]
    present = [f for f in functions if hasattr(ld, f)]  # the table grows as algorithms land
    assert present[:3] == functions[:3]
    head = ["SE3", "Model", "Data", "ReferenceFrame", "RigidConstraint", "JointCoupling", "ConstraintSet", *present]
    assert ld.__all__[:len(head)] == head  # newer functions follow the existing ones
    assert ld.__all__[-3:] == ["__version__", "UrdfWarning", "MjcfWarning"]
    for warning in [ld.UrdfWarning, ld.MjcfWarning]:
        assert issubclass(warning, UserWarning) and warning.__module__ == "lumo_dynamic"


@pytest.mark.parametrize("obj, text_signature", [
    (ld.neutral, "(model)"), (ld.integrate, "(model, q, v)"), (ld.forwardKinematics, "(model, data, q)"),
    (ld.SE3, "(rotation, translation)"), (M, "()"), (D, "(model)"), (ld.ReferenceFrame, "()"),
    (ld.SE3.identity, "()"), (ld.SE3.compose, "($self, other)"), (ld.SE3.inverse, "($self)"),
    (ld.SE3.to_homogeneous, "($self)"), (M.set_gravity, "($self, gravity)"),
    (M.set_gravity_angular, "($self, gravity_angular)"), (M.set_gravity_full, "($self, gravity)"),
    (M.add_joint, "($self, parent, joint_type, axis, placement, name)"), (M.get_joint_id, "($self, name)"),
    (M.getFrameId, "($self, name)"), (M.set_name, "($self, name)"), (M.createData, "($self)"),
    (M.to_string_info, "($self)"), (M.print_info, "($self)"), (D.reset, "($self)"),
    (D.get_joint_placement, "($self, joint_id)"), (D.get_joint_translation, "($self, joint_id)"),
    (D.to_string_info, "($self)"), (D.print_info, "($self)"),
])
def test_text_signatures(obj, text_signature):
    assert obj.__text_signature__ == text_signature
    names = [p.strip().lstrip("$") for p in text_signature[1:-1].split(",") if p]
    assert list(inspect.signature(obj).parameters) == names


def test_docstrings():
    for obj in (ld.neutral, ld.integrate, ld.forwardKinematics, ld.SE3, M, D, ld.ReferenceFrame):
        assert not obj.__doc__  # nothing beyond the text signature
    assert M.createData.__doc__ == "Create a Data object for this model"
    assert M.to_string_info.__doc__ == "Get string representation of model information"
    assert D.get_joint_placement.__doc__ == "Get joint placement in world frame (oMi)"
    assert D.M.__doc__.splitlines() == [
        "Get mass matrix M as a numpy array (nv x nv)", "",
        "Returns the full symmetric mass matrix. CRBA computes only the upper",
        "triangular part internally, but this getter returns the complete matrix",
        "with the lower triangular part mirrored from the upper."]
    assert ld.SE3.homogeneous.__doc__ == "Get homogeneous matrix as a property (alias for to_homogeneous)"
    assert M.gravity.__doc__ == "Get gravity vector (linear part) [x, y, z] in m/s²"


def test_stubs_describe_every_class_and_member(tmp_path, monkeypatch):
    """Every public class, method, property and class constant of the stubs has a
    description, and the examples of the module's own run as written (from the
    repository's top; the viewer's would start a server)."""
    import ast
    import doctest
    import sys
    from pathlib import Path

    import numpy as np

    root = Path(__file__).resolve().parents[2]
    monkeypatch.syspath_prepend(str(root / "src" / "python"))
    monkeypatch.chdir(root)
    import make_stubs

    make_stubs.generate(tmp_path)
    missing, docs = [], {}
    for pyi in sorted(tmp_path.glob("*.pyi")):
        for cls in ast.parse(pyi.read_text(encoding="utf-8")).body:
            if not isinstance(cls, ast.ClassDef) or cls.name.startswith("_"):
                continue
            docs[cls.name] = ast.get_docstring(cls)
            for k, item in enumerate(cls.body):
                if isinstance(item, ast.FunctionDef) and not item.name.startswith("_"):
                    docs[f"{cls.name}.{item.name}"] = ast.get_docstring(item)
                elif isinstance(item, ast.AnnAssign) and "ClassVar" in ast.unparse(item.annotation):
                    after = cls.body[k + 1] if k + 1 < len(cls.body) else None
                    docs[f"{cls.name}.{ast.unparse(item.target)}"] = \
                        after.value.value if isinstance(after, ast.Expr) else None
    missing = [name for name, doc in docs.items() if not doc]
    assert not missing, f"no description in the stubs: {missing}"
    model = ld.parse_urdf_file("models/arm7.urdf")
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    for name, doc in docs.items():
        if not hasattr(ld, name.split(".")[0]):
            continue
        test = doctest.DocTestParser().get_doctest(doc, {"ld": ld, "np": np, "model": model}, name, None, 0)
        runner.run(test, out=sys.stdout.write)
    assert runner.summarize(verbose=False).failed == 0


def test_panic_exception_class():
    P = ld.PanicException
    assert (P.__name__, P.__module__, P.__bases__) == ("PanicException", "pyo3_runtime", (BaseException,))
    assert "PanicException" not in ld.__all__ and "BaseException" in P.__doc__
    with pytest.raises(P):
        try:
            raise P("boom")
        except Exception:  # must not catch it
            pytest.fail("caught by except Exception")


def test_every_function_has_its_full_description_in_api_and_stubs():
    """Each free function, single and batched, has a description in _api (its summary line, its
    fields) that the generated stubs give as the function's docstring."""
    import ast
    import sys
    from pathlib import Path
    sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "src" / "python"))
    import make_stubs
    stubs = {}
    for module, prefix in ((ld, ""), (ld.batch, "batch.")):
        for node in ast.parse(make_stubs.Writer(module, prefix).write()[0]).body:
            if isinstance(node, ast.FunctionDef):
                stubs[prefix + node.name] = ast.get_docstring(node)
    for name, entry in ld._api.items():
        text = entry[4]
        summary = text.split("\n", 1)[0]
        assert summary.endswith(".") and ":param " in text, name
        assert stubs[name] == text, name
