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

# For running only (make run, make devpage): a new release tree is configured without the tests,
# so the compiler and CMake are all it needs; a tree that has them keeps them. Its warnings about
# test tools are left out. The build's own lines go to a log that is shown only when it fails, so
# the terminal holds the helper's output alone.
RUN_CONFIGURE = TIVEL_CONFIGURE_FOR_RUN=1 cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release \
  $(if $(wildcard $(RELEASE_DIR)/CMakeCache.txt),,-DTIVEL_TESTS=OFF) >/dev/null
run_build = if [ ! -x $(RELEASE_DIR)/$(1) ] || [ -n "$$(find src -newer $(RELEASE_DIR)/$(1) -print -quit)" ]; then \
	  echo "Building $(1) in $(RELEASE_DIR) (the first build takes a minute or two)..."; fi; \
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target $(1) >$(RELEASE_DIR)/run-build.log 2>&1 || \
	  { cat $(RELEASE_DIR)/run-build.log; echo "make: building $(1) failed (log: $(RELEASE_DIR)/run-build.log)" >&2; exit 1; }

# Builds a release binary and runs it in the foreground: make run ARGS="--port 47850"
run:
	@$(RUN_CONFIGURE)
	@$(call run_build,tamberline-tivel-helper)
	@exec $(RELEASE_DIR)/tamberline-tivel-helper $(ARGS)

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
