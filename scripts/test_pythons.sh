#!/usr/bin/env bash
# Builds the module with every CPython of the supported range found on this
# machine and runs tests/python with each (make test-pythons).
#
# The versions are those pyproject.toml's classifiers name
# ("Programming Language :: Python :: 3.X"), or PYTHON_VERSIONS="3.10 3.13".
# An interpreter is looked for under pyenv ($PYENV_ROOT/versions/3.X.*), then
# on PATH as python3.X; a version without one is skipped with a line.
#
# Each version gets a venv of its own, build/pythons/3.X/venv, holding what
# the build and the tests need: nanobind, scikit-build-core, cmake, ninja,
# numpy and pytest. Nothing else: the tests of the optional faces (PyTorch,
# JAX, Dask, MuJoCo, cloudpickle) skip. The wheel is built there without
# build isolation in a build directory that persists, build/pythons/3.X/build
# (not make install's build/{wheel_tag}, which the same version would
# reconfigure for another interpreter), so that a second run recompiles only
# what changed. No pip here touches the packages of any other interpreter.
set -uo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-2}
BUILD_DEPS=("nanobind>=2.0" "scikit-build-core>=0.10" "cmake>=3.18" ninja)
TEST_DEPS=(numpy pytest)

if [ -z "${PYTHON_VERSIONS:-}" ]; then
  PYTHON_VERSIONS=$(sed -n 's/.*"Programming Language :: Python :: \(3\.[0-9]*\)".*/\1/p' pyproject.toml)
fi

# find_python 3.X: the path of an interpreter that runs as 3.X, or nothing.
find_python() {
  local v=$1 candidates=() c
  candidates+=($(ls -d "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$v".*/bin/python"$v" 2>/dev/null | sort -V -r))
  c=$(command -v "python$v") && candidates+=("$c")
  for c in "${candidates[@]}"; do
    if [ "$("$c" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null)" = "$v" ]; then
      echo "$c"
      return
    fi
  done
}

passed=() failed=() skipped=()
for v in $PYTHON_VERSIONS; do
  py=$(find_python "$v")
  if [ -z "$py" ]; then
    echo "== Python $v: no interpreter found, skipped"
    skipped+=("$v")
    continue
  fi
  dir=build/pythons/$v
  venv=$dir/venv
  echo "== Python $v: $py"
  if [ ! -x "$venv/bin/python" ]; then
    "$py" -m venv "$venv" || { failed+=("$v"); continue; }
  fi
  pip=("$venv/bin/python" -m pip -q --disable-pip-version-check)
  rm -rf "$dir/dist"
  if "${pip[@]}" install "${BUILD_DEPS[@]}" "${TEST_DEPS[@]}" &&
     PATH="$PWD/$venv/bin:$PATH" CMAKE_BUILD_PARALLEL_LEVEL=$JOBS \
       "${pip[@]}" wheel --no-build-isolation --no-deps --config-settings=build-dir="$dir/build" -w "$dir/dist" . &&
     "${pip[@]}" install --no-deps --force-reinstall "$dir"/dist/lumo_dynamic-*.whl &&
     "$venv/bin/python" -m pytest tests/python -q -p no:cacheprovider; then
    passed+=("$v")
  else
    failed+=("$v")
  fi
done

echo "== passed: ${passed[*]:-none}; failed: ${failed[*]:-none}; skipped: ${skipped[*]:-none}"
[ ${#failed[@]} -eq 0 ]
