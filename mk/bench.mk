# Benchmarks; not part of `make test` (only their smoke run is).
#   make bench        the peer table (helper, TCP echo, npm ws), memory, live stream, then the
#                     scan-report microbenchmark. Results also land in $(RELEASE_DIR)/bench-*.md.
#   make bench-idle   the helper idle (no page, idle page, 20 Hz stream) beside a blocking wait
#                     and a 25 ms wait loop, with wake-ups and the exit time after SIGINT (60 s).
# BENCH_ARGS passes options to the client, e.g. make bench BENCH_ARGS="--rounds 5".
BENCH_ARGS ?=
BENCH_CPU = $(shell echo $$(( $$(nproc) - 1 )))

.PHONY: bench bench-idle bench-build bench-deps

# Only what the benchmarks need (see scripts/deps/bench.*), not every test tool.
BENCH_APT = util-linux libbenchmark-dev
bench-deps:
	@for p in $(BENCH_APT); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null \
	  | grep -q 'install ok installed' || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then echo "bench: installing$$missing"; \
	  apt-get -o DPkg::Lock::Timeout=600 update -qq && DEBIAN_FRONTEND=noninteractive \
	  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends $$missing; fi
	@[ -d bench/node_modules/ws ] || (cd bench && npm ci --no-audit --no-fund --silent)

bench-build:
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=ON >/dev/null
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target tivel_bench tivel_scan_report_bench tivel_peer_owner_bench

bench: bench-deps bench-build
	$(RELEASE_DIR)/tivel_bench run --cpu $(BENCH_CPU) --work $(RELEASE_DIR)/bench-work \
	  --out $(RELEASE_DIR)/bench-table.md $(BENCH_ARGS)
	@echo
	taskset -c $(BENCH_CPU) $(RELEASE_DIR)/tivel_scan_report_bench --benchmark_color=false \
	  | tee $(RELEASE_DIR)/bench-scan-report.md
	@echo
	taskset -c $(BENCH_CPU) $(RELEASE_DIR)/tivel_peer_owner_bench --benchmark_color=false \
	  | tee $(RELEASE_DIR)/bench-peer-owner.md

bench-idle: bench-deps bench-build
	$(RELEASE_DIR)/tivel_bench idle --cpu $(BENCH_CPU) --work $(RELEASE_DIR)/bench-work \
	  --out $(RELEASE_DIR)/bench-idle.md $(BENCH_ARGS)
