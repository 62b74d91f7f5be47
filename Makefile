# make demo   installs what is missing, builds the module, runs the demo
# make test   installs what is missing, runs the C++ and the Python tests
# make bench  C++ benchmarks and Python timings
# make fuzz   fuzzes the URDF reader and builder for FUZZ_SECONDS (clang installed if missing)
# make docs   the documentation site in build/docs/html (warnings are errors)
# make dist   sdist and wheel in dist/ (python -m build), the wheel retagged by auditwheel
PYTHON ?= python3
JOBS ?= 2
CPP_BUILD ?= build/cpp
PIP_INSTALL = $(PYTHON) -m pip install -q --disable-pip-version-check --no-build-isolation

.PHONY: setup install demo test test-cpp test-python bench fuzz clean

setup:
	PYTHON=$(PYTHON) bash scripts/setup.sh

install: setup
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PIP_INSTALL) .

demo: install
	$(PYTHON) examples/demo.py

test-cpp: setup
	cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_TESTS=ON
	cmake --build $(CPP_BUILD) -j $(JOBS)
	cd $(CPP_BUILD) && ctest --output-on-failure -j $(JOBS)

test-python: install
	$(PYTHON) -m pytest tests/python -q

test: test-cpp test-python test-package

# Benchmarks pinned to one CPU (PIN=, to run unpinned): every algorithm on the
# sample models and chains (medians), the side-by-side run against KDL and
# MuJoCo (installed here when missing; each is skipped when absent), then
# every free function from Python beside its C++ median.
PIN ?= $(shell command -v taskset >/dev/null && [ $$(nproc) -gt 1 ] && echo taskset -c 1)
BENCH_PEERS = liborocos-kdl-dev libmujoco-dev
bench: install
	@missing=; for p in $(BENCH_PEERS); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then SUDO=; [ "$$(id -u)" -eq 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing \
	  || echo "peers not installed:$$missing (their columns are skipped)"; fi
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_BENCHMARKS=ON
	cmake --build build/bench -j $(JOBS)
	$(PIN) ./build/bench/lumo_benchmarks --benchmark_repetitions=5 --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
	  --benchmark_out=build/bench/core.json
	$(PIN) ./build/bench/lumo_peers
	$(PIN) $(PYTHON) benchmarks/time_python.py build/bench/core.json

# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer. New inputs
# go to $(FUZZ_BUILD)/corpus; the sample models and, when present, the real
# robots of ../shared are read-only seeds. A finding is written to
# $(FUZZ_BUILD)/crash-* and fails the target.
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= build/fuzz
FUZZ_SOURCES = fuzz/urdf_fuzzer.cpp src/urdf_parser/reader.cpp src/urdf_parser/builder.cpp \
	src/model/model.cpp src/algorithms/joints.cpp
fuzz:
	@if ! command -v clang++ >/dev/null || ! clang++ -fsanitize=fuzzer -x c++ /dev/null -o /dev/null 2>/dev/null; then \
	  SUDO=; [ "$$(id -u)" -eq 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends clang && \
	  v=$$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1) && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends libclang-rt-$$v-dev; \
	fi
	mkdir -p $(FUZZ_BUILD)/corpus
	clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
	  -Isrc $$(pkg-config --cflags eigen3) $(FUZZ_SOURCES) -lpugixml -o $(FUZZ_BUILD)/urdf_fuzzer
	./$(FUZZ_BUILD)/urdf_fuzzer $(FUZZ_BUILD)/corpus models $$(ls -d ../shared/robots ../shared/robots/quirks 2>/dev/null) \
	  -dict=fuzz/urdf.dict -max_len=8192 -timeout=10 -max_total_time=$(FUZZ_SECONDS) \
	  -artifact_prefix=$(FUZZ_BUILD)/ -print_final_stats=1

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

docs: install
	$(PYTHON) -m sphinx -E -W --keep-going -q -b html docs build/docs/html
	@echo "docs: build/docs/html/index.html"

package-check: setup
	rm -rf $(PKG_BUILD)/dist $(PKG_BUILD)/venv
	$(PYTHON) -m build --sdist --no-isolation --outdir $(PKG_BUILD)/dist . > /dev/null
	$(PYTHON) -m venv --without-pip --system-site-packages $(PKG_BUILD)/venv
	@# When $(PYTHON) is itself a venv, its packages are not the system's: named in a .pth file.
	$(PYTHON) -c 'import site; print("\n".join(site.getsitepackages()))' > \
	  "$$($(PKG_BUILD)/venv/bin/python -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')/parent.pth"
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PKG_BUILD)/venv/bin/python -m pip wheel -q \
	  --disable-pip-version-check --no-build-isolation --no-deps -w $(PKG_BUILD)/dist $(PKG_BUILD)/dist/lumo_dynamic-*.tar.gz
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
