# Thin wrapper over CMake. Build folders: build/ (release with asserts off), build-asan/
# (AddressSanitizer + UndefinedBehaviorSanitizer), build-tsan/ (ThreadSanitizer) and
# build-fuzz/ (libFuzzer targets, clang).
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
GEN     := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan build-tsan build-fuzz demo test test-release test-asan test-tsan tsan fuzz test-python bench format clean

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

# Only what the demo runs: the library, its plug-ins, the examples and the program.
DEMO_TARGETS := dalo_cli expressions qap maxcut
demo: deps
	@cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS) --target $(DEMO_TARGETS)
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

# libFuzzer targets (clang), each run for FUZZ_SECONDS over its seed corpus in tests/fuzz/<name>/;
# new inputs go to build-fuzz/corpus/<name>/, crashes to build-fuzz/artifacts/.
FUZZ_SECONDS ?= 30
FUZZ_TARGETS := einsum ops params_wrapper params_brisk params_kelp params_sweep readers cli
build-fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DDALO_FUZZ=ON -DDALO_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_targets

fuzz: build-fuzz
	@mkdir -p build-fuzz/artifacts
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  build-fuzz/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -rss_limit_mb=4096 -artifact_prefix=build-fuzz/artifacts/$$t- \
	    build-fuzz/corpus/$$t tests/fuzz/$$t 2>build-fuzz/$$t.log \
	    || { tail -40 build-fuzz/$$t.log; exit 1; }; \
	  grep -E "stat::number_of_executed_units" build-fuzz/$$t.log; \
	done

# The Python package, built with pip into a virtual environment, and its pytest suite (the
# wheel test included). The build tools live in the environment, so the wheel test's build
# reuses the package's build folder.
PYTHON ?= python3
test-python: deps
	@$(PYTHON) -m venv build-python/venv
	@build-python/venv/bin/pip install -q --disable-pip-version-check "scikit-build-core>=0.10" "nanobind>=2.0"
	@build-python/venv/bin/pip install -q --disable-pip-version-check --no-build-isolation "./python[test]"
	@cd build-python && venv/bin/python -m pytest -q -m "wheel or not wheel" ../python/tests

test: test-release test-asan test-tsan test-python fuzz

bench: deps
	@cmake -S . -B build $(GEN) -DCMAKE_BUILD_TYPE=Release -DDALO_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	@./bench/run.sh build

format:
	@git ls-files --cached --others --exclude-standard '*.c' '*.cpp' '*.h' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz
