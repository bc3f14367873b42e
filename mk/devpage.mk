# The developer page: serves devpage/ on http://127.0.0.1:47900 and runs the helper beside it with
# that origin allowed. `make devpage SIM=1` runs the simulator's demo scene instead of real WiFi
# (TIVEL_SIM_SCENE=file picks another scene). Ctrl+C stops both; so does the helper quitting.
DEVPAGE_PORT ?= 47900
DEVPAGE_BIN := $(if $(SIM),tamberline-tivel-helper-sim,tamberline-tivel-helper)

.PHONY: devpage

devpage:
	@$(RUN_CONFIGURE)
	@$(call run_build,$(DEVPAGE_BIN))
	@exec node devpage/serve.js --port $(DEVPAGE_PORT) --helper $(RELEASE_DIR)/$(DEVPAGE_BIN) -- $(ARGS)

# Regenerates the README's picture, docs/devpage.png: the page in headless Chromium against the
# simulator's demo scene on the default ports (in a private network namespace when run as root, so
# no other helper on this machine is found instead). SCREENSHOT_WIDTH=480 pictures a phone's width.
SCREENSHOT_WIDTH ?= 1280
SCREENSHOT_OUT ?= docs/devpage.png

.PHONY: screenshot

screenshot: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target tamberline-tivel-helper-sim
	sh tests/e2e/in-netns.sh node tests/e2e/screenshot.js $(RELEASE_DIR)/tamberline-tivel-helper-sim \
	  $(SCREENSHOT_OUT) $(SCREENSHOT_WIDTH)
