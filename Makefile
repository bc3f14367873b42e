# Thin wrapper around CMake/CTest so a fresh machine needs two commands: `make run` and `make test`.
JOBS ?= $(shell nproc)
RELEASE_DIR ?= build/release
ASAN_DIR ?= build/asan
ARGS ?=

.PHONY: all build run test test-asan test-release deps format clean

all: build

build:
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=ON >/dev/null
	cmake --build $(RELEASE_DIR) -j $(JOBS)

# Builds a release binary and runs it in the foreground: make run ARGS="--port 47850"
run:
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target tamberline-tivel-helper
	exec $(RELEASE_DIR)/tamberline-tivel-helper $(ARGS)

deps:
	@bash scripts/install-deps.sh

# The sanitizer pass first, so the run ends with the release suite's CTest summary.
test: deps
	$(MAKE) test-asan
	$(MAKE) test-release

test-asan:
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DTIVEL_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ctest --output-on-failure -j 2 -LE nosan

test-release: build
	cd $(RELEASE_DIR) && ctest --output-on-failure -j 2

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

# Further targets (devpage, bench, fuzz, test-kernel, package, ...) live in mk/*.mk.
-include $(sort $(wildcard mk/*.mk))
