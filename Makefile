# The two set-up commands of the README, and a few conveniences.
JOBS ?= $(shell nproc)
HOME_DIR ?= $(CURDIR)/device

.PHONY: run test tsan deps build-run build-test bench clean

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

test: build-test
	cd build/test && ctest --output-on-failure -j $(JOBS) --timeout 600

build/tsan/build.ninja: | deps
	cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFW_TSAN=ON

# The whole suite under ThreadSanitizer (a separate build; not part of `make test`).
tsan: deps build/tsan/build.ninja
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && ctest --output-on-failure -j $(JOBS) --timeout 1200

bench: deps build/run/build.ninja
	cmake --build build/run --target benchmarks -j $(JOBS)
	for b in build/run/bench/bench_*; do "$$b"; done

clean:
	rm -rf build
