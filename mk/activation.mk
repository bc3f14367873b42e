# make bench-activation [RUNS=30]: the page's first hello when the helper is started on demand by
# socket activation (systemd-socket-activate), beside one already running.
RUNS ?= 30

.PHONY: bench-activation

bench-activation:
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=ON >/dev/null
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target tivel_activation_bench tamberline-tivel-helper
	$(RELEASE_DIR)/tivel_activation_bench $(RUNS)
