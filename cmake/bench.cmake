# The benchmark client, its reference servers and the scan-report microbenchmark (bench/).
# `make bench` and `make bench-idle` run them; only the smoke test in tests/bench is part of
# `make test`.
add_executable(tivel_tcp_echo bench/tcp_echo.cpp)
target_link_libraries(tivel_tcp_echo PRIVATE tivel_test_kit)
add_executable(tivel_idle_wait bench/idle_wait.cpp)

add_executable(tivel_bench
  bench/bench_main.cpp bench/options.cpp bench/setup.cpp bench/procs.cpp bench/wire.cpp
  bench/scenarios.cpp bench/report.cpp bench/sim_scene.cpp bench/peer_mode.cpp
  bench/idle_mode.cpp)
target_compile_definitions(tivel_bench PRIVATE
  TIVEL_BENCH_HELPER="$<TARGET_FILE:tamberline-tivel-helper>"
  TIVEL_BENCH_ECHO="$<TARGET_FILE:tivel_tcp_echo>"
  TIVEL_BENCH_IDLE_WAIT="$<TARGET_FILE:tivel_idle_wait>"
  TIVEL_BENCH_SOURCE_DIR="${CMAKE_SOURCE_DIR}/bench"
  # The simulator serves the scan and the live stream; until it exists they are left out.
  "TIVEL_BENCH_SIM=\"$<$<TARGET_EXISTS:tamberline-tivel-helper-sim>:$<TARGET_FILE:tamberline-tivel-helper-sim>>\"")
find_package(Threads REQUIRED)
target_link_libraries(tivel_bench PRIVATE tivel_test_kit Threads::Threads)
add_dependencies(tivel_bench tamberline-tivel-helper tivel_tcp_echo tivel_idle_wait)
# The simulator's fragment may come later in the include order, so look for it at the end.
function(tivel_bench_use_sim)
  if(TARGET tamberline-tivel-helper-sim)
    add_dependencies(tivel_bench tamberline-tivel-helper-sim)
  endif()
endfunction()
cmake_language(DEFER CALL tivel_bench_use_sim)

find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(tivel_scan_report_bench bench/scan_report_bench.cpp)
  target_link_libraries(tivel_scan_report_bench PRIVATE tivel_core benchmark::benchmark)
  # The owner look-up each accepted connection costs.
  add_executable(tivel_peer_owner_bench bench/peer_owner_bench.cpp)
  target_link_libraries(tivel_peer_owner_bench PRIVATE tivel_core benchmark::benchmark)
  # A scan dump read by the association probe and by the scan command, on the stand-in kernel.
  add_executable(tivel_scan_dump_bench bench/scan_dump_bench.cpp)
  target_link_libraries(tivel_scan_dump_bench PRIVATE tivel_core tivel_fake_kernel
                        benchmark::benchmark)
endif()
