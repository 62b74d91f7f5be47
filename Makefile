# make demo   installs what is missing, builds the module, runs the demo
# make test   installs what is missing, runs the C++ and the Python tests
# make bench  C++ benchmarks and Python timings
PYTHON ?= python3
JOBS ?= 2
CPP_BUILD ?= build/cpp
PIP_INSTALL = $(PYTHON) -m pip install -q --disable-pip-version-check --no-build-isolation

.PHONY: setup install demo test test-cpp test-python bench clean

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

test: test-cpp test-python

bench: install
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMO_BUILD_BENCHMARKS=ON
	cmake --build build/bench -j $(JOBS)
	./build/bench/lumo_benchmarks --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	$(PYTHON) benchmarks/time_python.py

clean:
	rm -rf build
