# Long-running checks of the real binary, kept out of `make test`:
#   make soak                      10000 visits; descriptors and memory must stay flat
#   make soak SOAK_CYCLES=50000
#   make valgrind                  the integration suite with the helper under valgrind memcheck
SOAK_CYCLES ?= 10000
VALGRIND_DIR ?= build/valgrind

.PHONY: soak valgrind
soak: build
	cd $(RELEASE_DIR) && TIVEL_SOAK_CYCLES=$(SOAK_CYCLES) tests/hardening/soak_test

valgrind: deps
	VALGRIND_DIR=$(VALGRIND_DIR) JOBS=$(JOBS) bash tests/hardening/run_valgrind.sh
