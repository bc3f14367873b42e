# The test kit (tests/support): one WebSocket client, one JSON/UTF-8 reader, one starter for the
# helper and the simulator, loopback sockets. Plain sockets and the standard library only (no
# GoogleTest), so the tests, the benchmark and the kernel probe (fully static) all link it; it
# lives here rather than under tests/ so the benchmark has it in builds without the tests.
set(TIVEL_KIT_DIR ${CMAKE_SOURCE_DIR}/tests/support)
add_library(tivel_test_kit STATIC
  ${TIVEL_KIT_DIR}/helper_process.cpp ${TIVEL_KIT_DIR}/json_check.cpp
  ${TIVEL_KIT_DIR}/json_reader.cpp ${TIVEL_KIT_DIR}/sockets.cpp ${TIVEL_KIT_DIR}/ws_client.cpp)
target_include_directories(tivel_test_kit PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(tivel_test_kit PUBLIC
  TIVEL_HELPER_PATH="$<TARGET_FILE:tamberline-tivel-helper>")
add_dependencies(tivel_test_kit tamberline-tivel-helper)
