# Thin wrapper over CMake. Build folders: build/ (release with asserts off), build-asan/
# (AddressSanitizer + UndefinedBehaviorSanitizer), build-tsan/ (ThreadSanitizer).
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
GEN     := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan build-tsan demo test test-release test-asan test-tsan tsan test-python bench format clean

all: build

deps:
	@./scripts/deps.sh

build: deps
	@cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: deps
	@cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DDALO_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)

# ThreadSanitizer build of the library, plug-ins (CPU only) and tests.
build-tsan: deps
	@cmake -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DDALO_TSAN=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-tsan -j $(JOBS)

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

# Every suite but the death tests (they fork and abort) under ThreadSanitizer: the pool and
# nested regions, the registries, parallel transforms, einsum, the integer engine and the
# plug-in searches with several threads.
test-tsan: build-tsan
	@cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -E 'Death'
tsan: test-tsan

# The Python package, built with pip into a virtual environment, and its pytest suite.
PYTHON ?= python3
test-python: deps
	@$(PYTHON) -m venv build-python/venv
	@build-python/venv/bin/pip install -q --disable-pip-version-check "./python[test]"
	@cd build-python && venv/bin/python -m pytest -q ../python/tests

test: test-release test-asan test-tsan test-python

bench: deps
	@cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=Release -DDALO_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	@./bench/run.sh build

format:
	@git ls-files --cached --others --exclude-standard '*.c' '*.cpp' '*.h' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan
