"""Builds a small 7-joint arm joint by joint, moves it, and prints the model
and workspace reports."""
import numpy as np

import lumo_dynamic as ld


def rot_x(angle):
    c, s = np.cos(angle), np.sin(angle)
    return np.array([[1.0, 0.0, 0.0], [0.0, c, -s], [0.0, s, c]])


def build_arm():
    """A 7-joint arm: each joint about its local z, alternately tilted by ±90°."""
    model = ld.Model()
    model.set_name("demo_arm")
    z = np.array([0.0, 0.0, 1.0])
    offsets = [0.333, 0.0, 0.316, 0.0825, 0.384, 0.0, 0.088]
    parent = 0
    for k, offset in enumerate(offsets):
        tilt = rot_x(-np.pi / 2 if k % 2 else np.pi / 2) if k > 0 else np.eye(3)
        placement = ld.SE3(tilt, np.array([0.0, 0.0, offset]))
        parent = model.add_joint(parent, "revolute", z, placement, f"joint{k + 1}")
    model.add_joint(parent, "fixed", z, ld.SE3(np.eye(3), np.array([0.0, 0.0, 0.107])), "flange")
    return model


def main():
    model = build_arm()
    data = model.createData()

    q = ld.neutral(model)
    v = np.array([0.3, -0.2, 0.1, -0.5, 0.2, 0.4, -0.1])
    q = ld.integrate(model, q, v)  # one unit step along v
    ld.forwardKinematics(model, data, q)

    flange = model.get_joint_id("flange")
    print("q =", np.round(q, 4))
    print("flange position:", np.round(data.get_joint_translation(flange), 4))
    print()
    model.print_info()
    data.print_info()


if __name__ == "__main__":
    main()
