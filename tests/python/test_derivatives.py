"""computeRNEADerivatives, computeABADerivatives and
computeGeneralizedGravityDerivatives from Python: central differences along
integrate, the identities between them, argument checks."""
from pathlib import Path

import numpy as np
import pytest

import lumo_dynamic as ld

MODELS = Path(__file__).resolve().parents[2] / "models"


@pytest.fixture(params=["arm7.urdf", "all_joints.urdf"])
def model(request):
    return ld.parse_urdf_file(str(MODELS / request.param))


def test_against_central_differences(model):
    data = model.createData()
    rng = np.random.default_rng(11)
    nv = model.nv
    q = ld.integrate(model, ld.neutral(model), rng.uniform(-1, 1, nv))
    v, a = rng.uniform(-1, 1, nv), rng.uniform(-1, 1, nv)
    dq, dv, da = ld.computeRNEADerivatives(model, data, q, v, a)
    eps, E = 1e-6, np.eye(nv)
    fd_q = np.array([ld.rnea(model, data, ld.integrate(model, q, eps * e), v, a)
                     - ld.rnea(model, data, ld.integrate(model, q, -eps * e), v, a) for e in E]).T / (2 * eps)
    fd_v = np.array([ld.rnea(model, data, q, v + eps * e, a) - ld.rnea(model, data, q, v - eps * e, a) for e in E]).T / (2 * eps)
    scale = max(np.abs(fd_q).max(), np.abs(fd_v).max(), 1.0)
    np.testing.assert_allclose(dq, fd_q, atol=1e-6 * scale)
    np.testing.assert_allclose(dv, fd_v, atol=1e-6 * scale)
    M = ld.crba(model, data, q)
    np.testing.assert_allclose(da, np.triu(M) + np.triu(M, 1).T, atol=1e-12)

    tau = ld.rnea(model, data, q, v, a)
    ddq_dq, ddq_dv, Minv = ld.computeABADerivatives(model, data, q, v, tau)
    np.testing.assert_allclose(Minv, ld.computeMinverse(model, data, q), atol=1e-10)
    np.testing.assert_allclose(ddq_dq, -Minv @ dq, atol=1e-9 * scale)
    np.testing.assert_allclose(ddq_dv, -Minv @ dv, atol=1e-9 * scale)

    dg = ld.computeGeneralizedGravityDerivatives(model, data, q)
    dq0, _, _ = ld.computeRNEADerivatives(model, data, q, np.zeros(nv), np.zeros(nv))
    np.testing.assert_allclose(dg, dq0, atol=1e-10 * scale)
    for r in (dq, dv, da, ddq_dq, ddq_dv, Minv, dg):
        assert r.shape == (nv, nv) and r.flags.c_contiguous and r.flags.owndata


def test_signatures_and_checks():
    arm = ld.parse_urdf_file(str(MODELS / "arm7.urdf"))
    data, Z = arm.createData(), np.zeros(7)
    for fn, text in [(ld.computeRNEADerivatives, "(model, data, q, v, a, fext=None)"),
                     (ld.computeABADerivatives, "(model, data, q, v, tau, fext=None)"),
                     (ld.computeGeneralizedGravityDerivatives, "(model, data, q)")]:
        assert fn.__text_signature__ == text and fn.__name__ in ld.__all__
    with pytest.raises(ValueError, match=r"^a length 6 != nv 7$"):
        ld.computeRNEADerivatives(arm, data, Z, Z, Z[:6])
    with pytest.raises(ValueError, match=r"^tau length 8 != nv 7$"):
        ld.computeABADerivatives(arm, data, Z, Z, np.zeros(8))
    with pytest.raises(ValueError, match=r"^q length 6 != nq 7$"):
        ld.computeGeneralizedGravityDerivatives(arm, data, Z[:6])
    with pytest.raises(TypeError, match="argument 'v'"):
        ld.computeABADerivatives(arm, data, Z, list(Z), Z)
