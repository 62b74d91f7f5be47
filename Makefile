# make demo   installs what is missing, builds the module, runs the demo and the examples that draw
# make test   installs what is missing, runs the C++ and the Python tests
# make bench  C++ benchmarks and Python timings
# make sanitize  the C++ tests, the Python tests and the demo under ASan and UBSan
# make fuzz   fuzzes the URDF import and every algorithm for FUZZ_SECONDS (clang installed if missing)
# make fuzz-record  fuzzes the model record reader (pickled models) the same way
# make fuzz-mjcf    fuzzes the MJCF import the same way
# make docs   the documentation site in build/docs/html (warnings are errors)
# make dist   sdist and wheel in dist/ (python -m build), the wheel retagged by auditwheel
# make test-pythons  the module built and tests/python run with each CPython of the supported range
SHELL := /bin/bash
PYTHON ?= python3
JOBS ?= 2
CPP_BUILD ?= build/cpp
PIP_INSTALL = $(PYTHON) -m pip install -q --disable-pip-version-check --no-build-isolation
# Every C++ build goes through ccache once setup has installed it (expanded
# when a recipe runs): the tests' build, the module's and the wheel built
# from the sdist compile the same sources, which paths relative to the
# checkout let them share.
export CMAKE_CXX_COMPILER_LAUNCHER = $(shell command -v ccache)
export CCACHE_BASEDIR = $(CURDIR)

.PHONY: setup install demo test check-layers test-cpp test-python test-pythons sanitize bench fuzz fuzz-build fuzz-record fuzz-mjcf clean

# Everything installs here: scripts/setup.sh, with the extras a target asks
# for (bench: the peers; fuzz: clang with libFuzzer).
SETUP_EXTRAS ?=
setup:
	PYTHON=$(PYTHON) SETUP_EXTRAS="$(SETUP_EXTRAS)" bash scripts/setup.sh

install: setup
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PIP_INSTALL) .

demo: install
	$(PYTHON) examples/demo.py
	$(PYTHON) examples/simulate.py --output build/simulate.png
	$(PYTHON) examples/lqr_balance.py --output build/lqr_balance.png
	$(PYTHON) examples/ik_reach.py --output build/ik_reach.png
	$(PYTHON) examples/quadruped_stand.py --output build/quadruped_stand.png
	$(PYTHON) examples/swing_up.py --output build/swing_up.png
	$(PYTHON) examples/swing_up_jax.py --output build/swing_up_jax.png

test-cpp: setup
	cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=ON
	cmake --build $(CPP_BUILD) -j $(JOBS)
	cd $(CPP_BUILD) && ctest --output-on-failure -j $(JOBS)

test-python: install
	$(PYTHON) -m pytest tests/python -q

# Each CPython that pyproject.toml's classifiers name (PYTHON_VERSIONS="3.9
# 3.13" for some), when this machine has it: the wheel built in a venv of its
# own, build/pythons/3.X/venv, with numpy and pytest only, and tests/python
# run (the optional faces' tests skip). Not part of make test: five cold
# builds take longer than the rest of it.
test-pythons:
	JOBS=$(JOBS) PYTHON_VERSIONS="$(PYTHON_VERSIONS)" bash scripts/test_pythons.sh

# The include graph of src/ runs one way (ground <- model <- data <- algorithms
# <- urdf_parser <- python).
check-layers:
	$(PYTHON) scripts/check_layers.py

test: check-layers test-cpp test-python test-package

# AddressSanitizer and UndefinedBehaviorSanitizer over the core, the C++
# tests (but the allocation test, which replaces malloc) and the module,
# built in $(SAN_BUILD) and never installed: the Python tests and the demo
# import it from there, with libasan preloaded into the interpreter. Every
# report goes to a file under $(SAN_BUILD)/logs (so that no capture hides
# it), and any such file fails the target. Leak checking is on for the C++
# tests and off for the interpreter, whose own allocations at exit would
# drown any report. libstdc++ is preloaded too, so that ASan finds the C++
# exception functions it intercepts (python itself does not link them).
SAN_BUILD ?= build/sanitize
SAN_LOGS = $(CURDIR)/$(SAN_BUILD)/logs
SAN_UBSAN = UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(SAN_LOGS)/ubsan
sanitize: setup
	rm -rf $(SAN_LOGS) && mkdir -p $(SAN_LOGS)
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" -DLUMO_SANITIZE=ON \
	  -DLUMO_BUILD_TESTS=ON -DLUMO_BUILD_PYTHON=ON -DPython_EXECUTABLE=$$(command -v $(PYTHON))
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:log_path=$(SAN_LOGS)/asan $(SAN_UBSAN) \
	  ./lumo_tests --gtest_brief=1
	ASAN_OPTIONS=detect_leaks=0:log_path=$(SAN_LOGS)/asan $(SAN_UBSAN) \
	  LD_PRELOAD="$$($(CXX) -print-file-name=libasan.so) $$($(CXX) -print-file-name=libstdc++.so)" \
	  PYTHONPATH=$(CURDIR)/$(SAN_BUILD) \
	  sh -c '$(PYTHON) -m pytest tests/python -q -p no:cacheprovider && $(PYTHON) examples/demo.py >/dev/null'
	@if [ -n "$$(ls -A $(SAN_LOGS))" ]; then cat $(SAN_LOGS)/*; echo "sanitizer reports in $(SAN_LOGS)"; exit 1; fi
	@echo "sanitize: no report"

# Benchmarks pinned to one CPU (PIN=, to run unpinned): every algorithm on the
# sample models and chains (medians), the side-by-side run against KDL and
# MuJoCo (installed by make setup's bench extra; each is skipped when absent),
# then every free function from Python beside its C++ median, the calls users
# make from Python against MuJoCo and PyBullet (likewise), constrained
# dynamics on the quadruped against MuJoCo's equality constraints, then the batch
# functions (unpinned: they are timed on one and on two threads) beside the
# C++ medians and MuJoCo's Batch, and value and gradient of rnea and aba
# through lumo_dynamic.torch and .jax against adam-robotics and MJX
# (unpinned, two threads; the JAX peers compile for minutes on a first run),
# and the MJCF import of a humanoid against MuJoCo's compiler.
PIN ?= $(shell command -v taskset >/dev/null && [ $$(nproc) -gt 1 ] && echo taskset -c 1)
bench: SETUP_EXTRAS += bench
bench: install
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_BENCHMARKS=ON
	cmake --build build/bench -j $(JOBS)
	$(PIN) ./build/bench/lumo_benchmarks --benchmark_repetitions=5 --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
	  --benchmark_out=build/bench/core.json
	$(PIN) ./build/bench/lumo_peers
	$(PIN) $(PYTHON) benchmarks/time_python.py build/bench/core.json
	$(PIN) $(PYTHON) benchmarks/python_peers.py
	$(PIN) $(PYTHON) benchmarks/constraints_peers.py
	$(PYTHON) benchmarks/batch_bench.py build/bench/core.json
	$(PYTHON) benchmarks/batch_rows.py build/bench/core.json
	$(PYTHON) benchmarks/autograd_peers.py
	$(PIN) $(PYTHON) benchmarks/mjcf_import.py

# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, built by
# CMake with clang (LUMO_BUILD_FUZZERS) in $(FUZZ_BUILD). New inputs go to
# $(FUZZ_BUILD)/corpus; the sample models and, when present, the real robots
# of ../shared are read-only seeds. A finding is written to
# $(FUZZ_BUILD)/crash-* and fails the target (scripts/fuzz.sh).
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= build/fuzz
fuzz-build: SETUP_EXTRAS += fuzz
fuzz-build: setup
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DLUMO_BUILD_FUZZERS=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target urdf_fuzzer mjcf_fuzzer model_record_fuzzer

fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh $(FUZZ_BUILD)/urdf_fuzzer $(FUZZ_BUILD)/corpus \
	  models $$(ls -d ../shared/robots ../shared/robots/quirks 2>/dev/null) \
	  -- -dict=fuzz/urdf.dict -max_len=8192 -timeout=10 -artifact_prefix=$(FUZZ_BUILD)/

# The MJCF import the same way; seeds: fuzz/mjcf_seeds and, when installed,
# gymnasium's MuJoCo models.
fuzz-mjcf: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh $(FUZZ_BUILD)/mjcf_fuzzer $(FUZZ_BUILD)/mjcf_corpus \
	  fuzz/mjcf_seeds $$($(PYTHON) -c 'import importlib.util as u, pathlib as p; s = u.find_spec("gymnasium"); \
	  print(p.Path(s.submodule_search_locations[0], "envs", "mujoco", "assets") if s else "")' 2>/dev/null) \
	  -- -max_len=16384 -timeout=10 -artifact_prefix=$(FUZZ_BUILD)/mjcf-

# Seeds: the records of the sample models and, when present, the real robots.
fuzz-record: fuzz-build install
	$(PYTHON) scripts/record_seeds.py $(FUZZ_BUILD)/record_seeds models/*.urdf $$(ls ../shared/robots/*.urdf 2>/dev/null)
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh $(FUZZ_BUILD)/model_record_fuzzer $(FUZZ_BUILD)/record_corpus \
	  $(FUZZ_BUILD)/record_seeds -- -max_len=65536 -rss_limit_mb=1024 -malloc_limit_mb=256 -timeout=10 \
	  -artifact_prefix=$(FUZZ_BUILD)/record-

clean:
	rm -rf build

# ---------------------------------------------------------------- packaging
# typecheck      installed stubs current and complete, stubtest, mypy --strict
#                on examples/, the typed signature seen by mypy
# cpp-package    the C++ package installed into a temporary prefix, the
#                consumer in examples/cpp built against it and run
# docs           the Sphinx site, warnings as errors
# package-check  an sdist built, installed into a fresh venv (reusing the
#                installed numpy, nanobind and scikit-build-core) and imported;
#                auditwheel show on the wheel that pip built from it
PKG_BUILD ?= build/package
.PHONY: test-package typecheck cpp-package docs package-check dist
test-package: typecheck cpp-package docs package-check

typecheck: install
	$(PYTHON) scripts/check_typing.py

cpp-package: setup
	cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=ON > /dev/null
	cmake --build $(CPP_BUILD) -j $(JOBS) --target lumo_core
	rm -rf $(PKG_BUILD)/prefix $(PKG_BUILD)/consumer
	cmake --install $(CPP_BUILD) --prefix $(PKG_BUILD)/prefix > /dev/null
	cmake -S examples/cpp -B $(PKG_BUILD)/consumer -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_PREFIX_PATH=$(abspath $(PKG_BUILD)/prefix) > /dev/null
	cmake --build $(PKG_BUILD)/consumer
	./$(PKG_BUILD)/consumer/rnea_crba models/arm7.urdf
	@# A file that cannot be read: a message and exit status 1.
	./$(PKG_BUILD)/consumer/rnea_crba no_such_robot.urdf; test $$? -eq 1

docs: install
	$(PYTHON) -m sphinx -E -W --keep-going -q -b html docs build/docs/html
	@echo "docs: build/docs/html/index.html"

package-check: setup
	rm -rf $(PKG_BUILD)/dist $(PKG_BUILD)/venv $(PKG_BUILD)/sdist
	$(PYTHON) -m build --sdist --no-isolation --outdir $(PKG_BUILD)/dist . > /dev/null
	@# Unpacked inside the checkout, so that ccache finds the objects of make install.
	mkdir -p $(PKG_BUILD)/sdist && tar -xzf $(PKG_BUILD)/dist/lumo_dynamic-*.tar.gz -C $(PKG_BUILD)/sdist
	$(PYTHON) -m venv --without-pip --system-site-packages $(PKG_BUILD)/venv
	@# When $(PYTHON) is itself a venv, its packages are not the system's: named in a .pth file.
	$(PYTHON) -c 'import site; print("\n".join(site.getsitepackages()))' > \
	  "$$($(PKG_BUILD)/venv/bin/python -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')/parent.pth"
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PKG_BUILD)/venv/bin/python -m pip wheel -q \
	  --disable-pip-version-check --no-build-isolation --no-deps -w $(PKG_BUILD)/dist $(PKG_BUILD)/sdist/lumo_dynamic-*/
	$(PKG_BUILD)/venv/bin/python -m pip install -q --disable-pip-version-check --no-deps --ignore-installed $(PKG_BUILD)/dist/lumo_dynamic-*.whl
	cd $(PKG_BUILD) && venv/bin/python -c 'import pathlib, sys, lumo_dynamic as ld; \
	  here = pathlib.Path(ld.__file__).parent; assert here.is_relative_to(sys.prefix), here; \
	  assert (here / "lumo_dynamic-stubs" / "__init__.pyi").is_file(); \
	  m = ld.parse_urdf_file("$(abspath models/arm7.urdf)"); q = ld.neutral(m) + 0.1; z = 0 * q; \
	  print("sdist installed:", ld.__version__, here, "gravity torques:", ld.rnea(m, m.createData(), q, z, z).round(3))'
	$(PYTHON) -m auditwheel show $(PKG_BUILD)/dist/lumo_dynamic-*.whl

dist: setup
	rm -rf dist
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PYTHON) -m build --outdir dist .
	$(PYTHON) -m auditwheel repair -w dist dist/lumo_dynamic-*-linux_*.whl && rm dist/lumo_dynamic-*-linux_*.whl
