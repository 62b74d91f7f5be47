"""Loads a 7-joint arm from models/arm7.urdf, moves it, and prints the model
and workspace reports."""
from pathlib import Path

import numpy as np

import lumo_dynamic as ld

ARM_URDF = Path(__file__).resolve().parent.parent / "models" / "arm7.urdf"


def build_arm() -> ld.Model:
    """The 7-joint arm of models/arm7.urdf: revolute joints about their local z,
    alternately tilted by ±90°, and a fixed tool flange."""
    return ld.parse_urdf_file(str(ARM_URDF))


def main() -> None:
    model = build_arm()
    data = model.createData()

    q = ld.neutral(model)
    v = np.array([0.3, -0.2, 0.1, -0.5, 0.2, 0.4, -0.1])
    q = ld.integrate(model, q, v)  # one unit step along v
    ld.forwardKinematics(model, data, q)

    flange = model.get_joint_id("flange")
    if flange is None:
        raise SystemExit(f"{ARM_URDF} has no joint named 'flange'")
    print("q =", np.round(q, 4))
    print("flange position:", np.round(data.get_joint_translation(flange), 4))
    print()
    model.print_info()
    data.print_info()


if __name__ == "__main__":
    main()
