# Fuzzing (clang, libFuzzer with ASan/UBSan) in its own build folder, apart from the g++ builds:
#   make fuzz                     every target for 60 s
#   make fuzz FUZZ_SECONDS=300    longer
#   make fuzz FUZZ_TARGETS="http_intake ws_receive"
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
FUZZ_DIR ?= build/fuzz

.PHONY: fuzz
fuzz: deps
	FUZZ_DIR=$(FUZZ_DIR) JOBS=$(JOBS) bash fuzz/run_fuzzers.sh $(FUZZ_SECONDS) $(FUZZ_TARGETS)
