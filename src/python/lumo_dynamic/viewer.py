"""A 3-D view of a robot in the web browser, served by viser.

    view = Viewer(model, "robot.urdf")   # open view.url in a browser
    view.display(q)                      # every link where q puts it
    view.play(Q, dt)                     # the rows of Q, one every dt seconds
    view.snapshot("robot.png")           # the picture a connected browser shows

The robot is drawn from the <visual> elements of its URDF: boxes, cylinders,
spheres and meshes (read by trimesh; package:// and relative file names
looked up around the URDF and along ROS_PACKAGE_PATH, a visual whose file is
not found skipped with a warning), each placed on the BODY frame named after
its link. Without a URDF, or when none of its visuals can be drawn, the
view shows the joint tree: a sphere at every joint and a rod from each joint
to its children. `frames=True` adds axes at every frame of the model
(x red, y green, z blue).

The poses come from lumo_dynamic's own kinematics (forwardKinematics and
updateFramePlacements on a Data the viewer keeps), so that the picture is
the model the algorithms see. viser and trimesh are imported only when a
Viewer is made (`pip install lumo_dynamic[viewer]`). A snapshot is rendered
by a browser showing the page: one must be connected (a headless Chromium
will do, see docs/viewer.rst).
"""

from __future__ import annotations

import os
import re
import time
import warnings
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional, Union

import numpy as np

import lumo_dynamic as ld

__all__ = ["Viewer"]

_DEFAULT_COLOR = (170, 178, 196)
_JOINT_COLOR = (230, 120, 40)
_BONE_COLOR = (90, 110, 150)


@dataclass
class _Visual:
    """One <visual> of a link: its shape in the link's frame."""
    kind: str  # "box", "cylinder", "sphere" or "mesh"
    origin: np.ndarray  # 4x4, the shape's frame in the link's
    size: tuple[float, ...] = ()  # box: x y z; cylinder: radius length; sphere: radius; mesh: scale
    path: Optional[Path] = None  # mesh file
    color: Optional[tuple[int, int, int]] = None
    mesh: Any = None  # the mesh read from path (a trimesh.Trimesh), scaled

    def corners(self) -> np.ndarray:
        """The corners of the shape's bounding box, in the link's frame (8x3)."""
        if self.kind == "mesh":
            low, high = self.mesh.bounds
        else:
            if self.kind == "box":
                high = 0.5 * np.array(self.size)
            elif self.kind == "cylinder":
                high = np.array([self.size[0], self.size[0], 0.5 * self.size[1]])
            else:
                high = np.full(3, self.size[0])
            low = -high
        box = np.array([[(low, high)[(k >> j) & 1][j] for j in range(3)] for k in range(8)])
        return box @ self.origin[:3, :3].T + self.origin[:3, 3]


@dataclass
class _Tree:
    """What the model's summary says of its tree: the parent of every joint,
    and the name, kind and parent joint of every frame."""
    parents: list[int] = field(default_factory=list)
    frames: list[tuple[str, str, int]] = field(default_factory=list)


def _model_tree(model: ld.Model) -> _Tree:
    info = model.to_string_info()
    tree = _Tree()
    for m in re.finditer(r"^Joint (\d+): .* \(parent: (\d+)\)$", info, re.M):
        tree.parents.append(int(m.group(2)))
    for m in re.finditer(r"^Frame (\d+): (.*) \(type: FrameType\((\w+)\), parent: (\d+)\)$", info, re.M):
        tree.frames.append((m.group(2), m.group(3), int(m.group(4))))
    if len(tree.parents) != model.njoints or len(tree.frames) != model.nframes:
        raise RuntimeError(f"cannot read the joint tree of model {model.name!r} from its summary")
    return tree


# ---------------------------------------------------------------- URDF visuals
def _floats(text: Optional[str], default: tuple[float, ...]) -> tuple[float, ...]:
    if text is None:
        return default
    values = tuple(float(x) for x in text.split())
    if len(values) != len(default):
        raise ValueError(f"expected {len(default)} numbers, got {text!r}")
    return values


def _rpy_matrix(roll: float, pitch: float, yaw: float) -> np.ndarray:
    """R = Rz(yaw) Ry(pitch) Rx(roll), as URDF writes orientations."""
    cr, sr, cp, sp, cy, sy = np.cos(roll), np.sin(roll), np.cos(pitch), np.sin(pitch), np.cos(yaw), np.sin(yaw)
    return np.array([[cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr],
                     [sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr],
                     [-sp, cp * sr, cp * cr]])


def _origin(element: Optional[ET.Element]) -> np.ndarray:
    T = np.eye(4)
    if element is not None:
        T[:3, :3] = _rpy_matrix(*_floats(element.get("rpy"), (0.0, 0.0, 0.0)))
        T[:3, 3] = _floats(element.get("xyz"), (0.0, 0.0, 0.0))
    return T


def _rgba(material: Optional[ET.Element], named: dict[str, tuple[int, int, int]]) -> Optional[tuple[int, int, int]]:
    if material is None:
        return None
    color = material.find("color")
    if color is not None and color.get("rgba"):
        rgba = _floats(color.get("rgba"), (0.0, 0.0, 0.0, 1.0))
        return (int(round(255 * rgba[0])), int(round(255 * rgba[1])), int(round(255 * rgba[2])))
    return named.get(material.get("name", ""))


def _mesh_file(filename: str, urdf_dir: Path) -> Optional[Path]:
    """The file a mesh's filename names, best effort: file:// and relative
    names from the URDF's folder; package://NAME/REST as REST under a folder
    NAME found beside the URDF or above it, or on ROS_PACKAGE_PATH, or as
    REST from a folder above the URDF."""
    if filename.startswith("file://"):
        filename = filename[len("file://"):]
    if not filename.startswith("package://"):
        path = Path(filename)
        path = path if path.is_absolute() else urdf_dir / path
        return path.resolve() if path.is_file() else None
    package, _, rest = filename[len("package://"):].partition("/")
    roots = [urdf_dir, *urdf_dir.parents]
    candidates = [root / rest for root in roots if root.name == package]
    candidates += [root / package / rest for root in roots]
    candidates += [Path(p) / package / rest for p in os.environ.get("ROS_PACKAGE_PATH", "").split(os.pathsep) if p]
    candidates += [root / rest for root in roots]
    return next((c.resolve() for c in candidates if c.is_file()), None)


def _read_visuals(urdf_path: Path) -> dict[str, list[_Visual]]:
    """The visuals of every link, by link name; those that cannot be drawn
    are left out with a warning."""
    robot = ET.parse(urdf_path).getroot()
    named = {}
    for material in robot.findall("material"):
        rgb = _rgba(material, {})
        if rgb is not None:
            named[material.get("name", "")] = rgb
    visuals: dict[str, list[_Visual]] = {}
    for link in robot.iter("link"):
        name = link.get("name", "")
        for element in link.findall("visual"):
            geometry = element.find("geometry")
            shape = None if geometry is None or len(geometry) == 0 else geometry[0]
            if shape is None:
                continue
            visual = _Visual(shape.tag, _origin(element.find("origin")), color=_rgba(element.find("material"), named))
            if shape.tag == "box":
                visual.size = _floats(shape.get("size"), (1.0, 1.0, 1.0))
            elif shape.tag == "cylinder":
                visual.size = (float(shape.get("radius", 1.0)), float(shape.get("length", 1.0)))
            elif shape.tag == "sphere":
                visual.size = (float(shape.get("radius", 1.0)),)
            elif shape.tag == "mesh":
                visual.size = _floats(shape.get("scale"), (1.0, 1.0, 1.0))
                visual.path = _mesh_file(shape.get("filename", ""), urdf_path.parent)
                if visual.path is None:
                    warnings.warn(f"link {name!r}: mesh {shape.get('filename')!r} not found, not drawn", stacklevel=3)
                    continue
            else:
                warnings.warn(f"link {name!r}: visual geometry <{shape.tag}> not drawn", stacklevel=3)
                continue
            visuals.setdefault(name, []).append(visual)
    return visuals


def _read_meshes(visuals: dict[str, list[_Visual]]) -> dict[str, list[_Visual]]:
    """The visuals with their meshes read (and scaled); a mesh that trimesh
    cannot read, or that has no triangle, is left out with a warning."""
    import trimesh

    kept: dict[str, list[_Visual]] = {}
    for name, shapes in visuals.items():
        for v in shapes:
            if v.kind == "mesh":
                try:
                    v.mesh = trimesh.load(v.path, force="mesh")
                    if len(v.mesh.faces) == 0:
                        raise ValueError("no triangles")
                except Exception as error:  # whatever the reader raises: the visual is skipped
                    warnings.warn(f"link {name!r}: cannot read {v.path}: {error}", stacklevel=4)
                    continue
                v.mesh.apply_scale(v.size)
            kept.setdefault(name, []).append(v)
    return kept


# ---------------------------------------------------------------- poses
def _wxyz(R: np.ndarray) -> np.ndarray:
    """The unit quaternion (w, x, y, z) of a rotation matrix (Shepperd's
    method: the largest of the four squared components first)."""
    t = np.trace(R)
    k = int(np.argmax([t, R[0, 0], R[1, 1], R[2, 2]]))
    if k == 0:
        s = 2.0 * np.sqrt(1.0 + t)
        q = [0.25 * s, (R[2, 1] - R[1, 2]) / s, (R[0, 2] - R[2, 0]) / s, (R[1, 0] - R[0, 1]) / s]
    elif k == 1:
        s = 2.0 * np.sqrt(1.0 + R[0, 0] - R[1, 1] - R[2, 2])
        q = [(R[2, 1] - R[1, 2]) / s, 0.25 * s, (R[0, 1] + R[1, 0]) / s, (R[0, 2] + R[2, 0]) / s]
    elif k == 2:
        s = 2.0 * np.sqrt(1.0 + R[1, 1] - R[0, 0] - R[2, 2])
        q = [(R[0, 2] - R[2, 0]) / s, (R[0, 1] + R[1, 0]) / s, 0.25 * s, (R[1, 2] + R[2, 1]) / s]
    else:
        s = 2.0 * np.sqrt(1.0 + R[2, 2] - R[0, 0] - R[1, 1])
        q = [(R[1, 0] - R[0, 1]) / s, (R[0, 2] + R[2, 0]) / s, (R[1, 2] + R[2, 1]) / s, 0.25 * s]
    return np.array(q) / np.linalg.norm(q)


def _z_onto(d: np.ndarray) -> np.ndarray:
    """A rotation taking the z axis onto the unit vector d."""
    z = np.array([0.0, 0.0, 1.0])
    axis = np.cross(z, d)
    s, c = np.linalg.norm(axis), float(d @ z)
    if s < 1e-12:
        return np.eye(3) if c > 0 else np.diag([1.0, -1.0, -1.0])
    k = axis / s
    K = np.array([[0.0, -k[2], k[1]], [k[2], 0.0, -k[0]], [-k[1], k[0], 0.0]])
    return np.eye(3) + s * K + (1.0 - c) * K @ K


class Viewer:
    """A robot in a viser scene, posed by display(q); see the module's text.

    model: the Model to pose (its own Data is kept inside); urdf_path: the URDF
    whose <visual> elements are drawn, each on the BODY frame of its link
    (None: the joint tree); port, host: where the page is served (127.0.0.1:8080,
    see url); frames: axes at every frame of the model. The scene starts at
    neutral(model), the ground at z = 0 in world coordinates. Needs viser and
    trimesh (ImportError otherwise); a context manager that closes the server
    on exit.

    >>> from lumo_dynamic.viewer import Viewer
    >>> with Viewer(ld.parse_urdf_file("models/arm7.urdf"), "models/arm7.urdf") as view:
    ...     view.display(np.full(7, 0.3))   # open view.url in a browser
    """

    def __init__(self, model: ld.Model, urdf_path: Union[str, os.PathLike[str], None] = None, *,
                 port: int = 8080, frames: bool = False, host: str = "127.0.0.1") -> None:
        if not isinstance(model, ld.Model):
            raise TypeError(f"argument 'model': expected a lumo_dynamic.Model, got '{type(model).__name__}'")
        try:
            import viser
        except ImportError as error:
            raise ImportError("lumo_dynamic.viewer needs viser and trimesh: "
                              "pip install 'lumo_dynamic[viewer]'") from error
        self._model = model
        self._data = model.createData()
        tree = _model_tree(model)
        visuals = _read_visuals(Path(urdf_path)) if urdf_path is not None else {}
        bodies = {name: k for k, (name, kind, _) in reversed(list(enumerate(tree.frames))) if kind == "BODY"}
        missing = sorted(set(visuals) - set(bodies))
        if missing:
            warnings.warn(f"links without a BODY frame in model {model.name!r}, not drawn: {missing}", stacklevel=2)
        visuals = {name: v for name, v in visuals.items() if name in bodies}
        if any(v.kind == "mesh" for shapes in visuals.values() for v in shapes):
            visuals = _read_meshes(visuals)

        # The size of the robot in its neutral configuration sets the
        # thickness of the joint tree, the axes, the ground and the camera.
        q0 = ld.neutral(model)
        ld.forwardKinematics(model, self._data, q0)
        ld.updateFramePlacements(model, self._data)
        joints = np.array([self._data.get_joint_placement(i).homogeneous for i in range(model.njoints)])
        frames_at = [ld.getFramePlacement(model, self._data, f).homogeneous for f in range(model.nframes)]
        points = np.vstack([joints[:, :3, 3], [T[:3, 3] for T in frames_at]] +
                           [v.corners() @ frames_at[bodies[name]][:3, :3].T + frames_at[bodies[name]][:3, 3]
                            for name, shapes in visuals.items() for v in shapes])
        centre = 0.5 * (points.min(axis=0) + points.max(axis=0))
        extent = max(float(np.max(np.linalg.norm(points - centre, axis=1))), 0.1)
        # A robot reaching below the ground z = 0 (a floating base at the
        # origin) is looked at as it would stand on it.
        centre[2] += max(0.0, -float(points[:, 2].min()))

        self._server = viser.ViserServer(host=host, port=port, verbose=False)
        self._closed = False
        scene = self._server.scene
        # The camera a browser starts from, looking at the robot. A snapshot
        # waits for the browser to report it (a page just opened first
        # renders from a camera of its own).
        self._home = (centre + extent * np.array([1.5, 1.1, 0.8]), centre)
        self._home_tolerance = 1e-2 * extent
        self._at_home: set[int] = set()
        self._server.initial_camera.position = tuple(self._home[0])
        self._server.initial_camera.look_at = tuple(self._home[1])
        self._server.on_client_connect(self._welcome)
        scene.add_grid("/ground", width=3 * extent, height=3 * extent, cell_size=extent / 5,
                       section_size=extent, position=(centre[0], centre[1], 0.0))

        # Scene nodes posed in the world by display(): one per link drawn
        # (its BODY frame) or one per joint for the joint tree, and one per
        # frame for the axes; the shapes are their children, fixed in them.
        self._nodes: list[tuple[str, int, Any]] = []  # ("joint" or "frame", index, handle)
        with self._server.atomic():
            if visuals:
                self._add_visuals(scene, visuals, bodies)
            else:
                self._add_joint_tree(scene, tree, joints, extent)
            if frames:
                for f in range(model.nframes):
                    handle = scene.add_frame(f"/frames/{f}", axes_length=0.12 * extent,
                                             axes_radius=0.006 * extent)
                    self._nodes.append(("frame", f, handle))
        self.display(q0)

    def _add_visuals(self, scene: Any, visuals: dict[str, list[_Visual]], bodies: dict[str, int]) -> None:
        for name, shapes in visuals.items():
            frame = bodies[name]
            node = f"/robot/body_{frame}"
            self._nodes.append(("frame", frame, scene.add_frame(node, show_axes=False)))
            for k, v in enumerate(shapes):
                pose = {"wxyz": _wxyz(v.origin[:3, :3]), "position": v.origin[:3, 3]}
                color = v.color or _DEFAULT_COLOR
                child = f"{node}/visual_{k}"
                if v.kind == "box":
                    scene.add_box(child, color=color, dimensions=v.size, **pose)
                elif v.kind == "cylinder":
                    scene.add_cylinder(child, radius=v.size[0], height=v.size[1], color=color, **pose)
                elif v.kind == "sphere":
                    scene.add_icosphere(child, radius=v.size[0], color=color, **pose)
                elif v.color is not None:
                    scene.add_mesh_simple(child, v.mesh.vertices, v.mesh.faces, color=color, **pose)
                else:
                    scene.add_mesh_trimesh(child, v.mesh, **pose)

    def _add_joint_tree(self, scene: Any, tree: _Tree, joints: np.ndarray, extent: float) -> None:
        """A sphere at every joint and a rod from each joint to its children:
        the rod to joint i is fixed in its parent's frame, from the parent's
        origin to joint i's placement (constant, whatever q)."""
        radius = 0.015 * extent
        for i in range(self._model.njoints):
            node = f"/robot/joint_{i}"
            self._nodes.append(("joint", i, scene.add_frame(node, show_axes=False)))
            if i > 0:
                scene.add_icosphere(f"{node}/sphere", radius=2.0 * radius, color=_JOINT_COLOR)
        for i in range(1, self._model.njoints):
            parent = tree.parents[i]
            offset = np.linalg.solve(joints[parent], joints[i])[:3, 3]
            length = float(np.linalg.norm(offset))
            if length < 1e-9:
                continue
            scene.add_cylinder(f"/robot/joint_{parent}/rod_{i}", radius=radius, height=length, color=_BONE_COLOR,
                               wxyz=_wxyz(_z_onto(offset / length)), position=0.5 * offset)

    def _welcome(self, client: Any) -> None:
        """Moves a new browser's camera home, and notes when it reports being there."""
        def note(camera: Any) -> None:
            if np.linalg.norm(camera.position - self._home[0]) < self._home_tolerance:
                self._at_home.add(client.client_id)

        client.camera.on_update(note)
        note(client.camera)  # the browser's last report: nothing has been written to it yet
        client.camera.position = self._home[0]
        client.camera.look_at = self._home[1]

    @property
    def url(self) -> str:
        """The address of the page to open in a browser."""
        host = self._server.get_host()
        host = "localhost" if host in ("0.0.0.0", "::", "") else host
        return f"http://{host}:{self._server.get_port()}"

    def display(self, q: Any) -> None:
        """Poses every link at configuration q (nq numbers).

        q: any array-like of nq floats (a quaternion of a floating base, [x, y,
        z, w], need not be normalised); ValueError for another shape. Runs
        forwardKinematics and updateFramePlacements on the viewer's Data and
        moves the scene nodes; returns at once."""
        q = np.ascontiguousarray(q, dtype=np.float64)
        if q.shape != (self._model.nq,):
            raise ValueError(f"q has shape {q.shape}; expected ({self._model.nq},)")
        ld.forwardKinematics(self._model, self._data, q)
        ld.updateFramePlacements(self._model, self._data)
        with self._server.atomic():
            for kind, index, handle in self._nodes:
                placement = (self._data.get_joint_placement(index) if kind == "joint"
                             else ld.getFramePlacement(self._model, self._data, index))
                T = placement.homogeneous
                handle.position = T[:3, 3]
                handle.wxyz = _wxyz(T[:3, :3])

    def play(self, Q: Any, dt: float) -> None:
        """Displays the rows of Q (configurations) one every dt seconds of
        wall time, the k-th at k·dt after the first; returns after the last.

        Q: an array-like of shape (n, nq), one configuration a row; dt: seconds,
        > 0. ValueError otherwise."""
        Q = np.asarray(Q, dtype=np.float64)
        if Q.ndim != 2 or Q.shape[1] != self._model.nq:
            raise ValueError(f"Q has shape {Q.shape}; expected (n, {self._model.nq}), one configuration a row")
        if not dt > 0.0:
            raise ValueError(f"dt must be positive; got {dt}")
        start = time.monotonic()
        for k, q in enumerate(Q):
            wait = start + k * dt - time.monotonic()
            if wait > 0.0:
                time.sleep(wait)
            self.display(q)

    def snapshot(self, path: Union[str, os.PathLike[str]], *, width: int = 960, height: int = 720,
                 timeout: float = 60.0) -> Path:
        """Writes a PNG of what a connected browser shows (over a white
        background), waiting up to `timeout` seconds for a browser to connect
        and for its picture. width and height should not exceed the browser's
        window. Returns the path written."""
        import imageio.v3 as iio

        deadline = time.monotonic() + timeout
        while True:
            ready = [c for k, c in self._server.get_clients().items() if k in self._at_home]
            if ready:
                break
            if time.monotonic() > deadline:
                raise RuntimeError(f"no browser shows {self.url}: open it (a headless Chromium will do) "
                                   "to take a snapshot")
            time.sleep(0.1)
        client = ready[0]
        rgba = client.get_render(height, width, transport_format="png",
                                 timeout=max(deadline - time.monotonic(), 1.0)).astype(np.float64)
        alpha = rgba[..., 3:] / 255.0
        rgb = rgba[..., :3] * alpha + 255.0 * (1.0 - alpha)
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        iio.imwrite(path, np.round(rgb).astype(np.uint8))
        return path

    def close(self) -> None:
        """Stops the server (once; later calls do nothing)."""
        if not self._closed:
            self._closed = True
            self._server.stop()

    def __enter__(self) -> Viewer:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
