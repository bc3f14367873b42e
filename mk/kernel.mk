# The real-kernel test alone (it also runs in `make test`): boots a Debian kernel with simulated
# WiFi radios and compares the helper's replies with iw. Downloads are cached in build/kernel-cache.
.PHONY: test-kernel
test-kernel: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=ON >/dev/null
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target tamberline-tivel-helper-static tivel-ws-probe
	cd $(RELEASE_DIR) && ctest --output-on-failure -L kernel
