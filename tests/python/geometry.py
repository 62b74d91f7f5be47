"""Closed-form rigid-body geometry in plain numpy, used as ground truth."""
import numpy as np

import lumo_dynamic as ld


def rot(axis, angle):
    """Rotation by `angle` about `axis` (any non-zero length), Rodrigues' formula."""
    u = np.asarray(axis, float) / np.linalg.norm(axis)
    K = np.array([[0, -u[2], u[1]], [u[2], 0, -u[0]], [-u[1], u[0], 0]])
    return np.eye(3) + np.sin(angle) * K + (1 - np.cos(angle)) * K @ K


def hom(R=np.eye(3), t=(0, 0, 0)):
    H = np.eye(4)
    H[:3, :3], H[:3, 3] = R, t
    return H


def se3(R=np.eye(3), t=(0, 0, 0)):
    return ld.SE3(np.array(R, float), np.array(t, float))


def quat(axis, angle):
    """Unit quaternion (x, y, z, w) of a rotation."""
    return np.r_[np.sin(angle / 2) * np.asarray(axis) / np.linalg.norm(axis), np.cos(angle / 2)]


def quat_rot(q):
    """Rotation matrix of the quaternion (x, y, z, w), normalised first."""
    x, y, z, w = np.asarray(q, float) / np.linalg.norm(q)
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])
