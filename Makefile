# The two set-up commands of the README, and a few conveniences.
JOBS ?= $(shell nproc)
HOME_DIR ?= $(CURDIR)/device

.PHONY: run test tsan deps build-run build-test bench clean fuzz fuzz-deps

deps:
	@./scripts/install-deps.sh

build/run/build.ninja: | deps
	cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFW_SANITIZE=OFF

build/test/build.ninja: | deps
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFW_SANITIZE=ON

build-run: deps build/run/build.ninja
	cmake --build build/run --target ferrowick -j $(JOBS)

build-test: deps build/test/build.ninja
	cmake --build build/test -j $(JOBS)

run: build-run
	./build/run/ferrowick --home "$(HOME_DIR)"

# The benchmarks are built here too (not run), so a change that breaks them fails the tests.
test: build-test
	cmake --build build/test --target benchmarks -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS) --timeout 600

build/tsan/build.ninja: | deps
	cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFW_TSAN=ON

# The whole suite under ThreadSanitizer (a separate build; not part of `make test`).
tsan: deps build/tsan/build.ninja
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && ctest --output-on-failure -j $(JOBS) --timeout 1200

bench: deps build/run/build.ninja
	cmake --build build/run --target benchmarks -j $(JOBS)
	@failed=""; for b in build/run/bench/bench_*; do "$$b" || failed="$$failed $$b"; done; \
	if [ -n "$$failed" ]; then echo "benchmarks that failed:$$failed"; exit 1; fi

# Fuzzing with clang's libFuzzer in its own build folder; each target runs FUZZ_SECONDS,
# FUZZ_JOBS at once (FUZZ_TARGETS picks some by name, e.g. "value_json url").
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 4
FUZZ_TARGETS ?=

fuzz-deps:
	@./scripts/install-fuzz-deps.sh

build/fuzz/build.ninja: | deps fuzz-deps
	CC=clang-19 CXX=clang++-19 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DFW_FUZZ=ON -DFW_SANITIZE=OFF

fuzz: deps fuzz-deps build/fuzz/build.ninja
	cmake --build build/fuzz --target fuzz_targets -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_JOBS=$(FUZZ_JOBS) tests/fuzz/run-fuzzers.sh build/fuzz $(FUZZ_TARGETS)

clean:
	rm -rf build
