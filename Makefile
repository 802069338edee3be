# Thin wrapper over CMake. Two build folders: build/ (release with asserts off)
# and build-asan/ (AddressSanitizer + UndefinedBehaviorSanitizer).
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
GEN     := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan demo test test-release test-asan test-python bench format clean

all: build

deps:
	@./scripts/deps.sh

build: deps
	@cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: deps
	@cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DDALO_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)

demo: build
	@./build/examples/expressions
	@./build/tools/dalo solve examples/data/G1 --time-limit 5 --best-known 11624 --quiet \
	  --out build/G1.assignment
	@./build/examples/qap
	@./build/examples/maxcut examples/data/G1 11624 5

test-release: build
	@cd build && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	@cd build-asan && ctest --output-on-failure -j $(JOBS)

# The Python package, built with pip into a virtual environment, and its pytest suite.
PYTHON ?= python3
test-python: deps
	@$(PYTHON) -m venv build-python/venv
	@build-python/venv/bin/pip install -q --disable-pip-version-check "./python[test]"
	@cd build-python && venv/bin/python -m pytest -q ../python/tests

test: test-release test-asan test-python

bench: deps
	@cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=Release -DDALO_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	@./bench/run.sh build

format:
	@git ls-files --cached --others --exclude-standard '*.c' '*.cpp' '*.h' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build build-asan
