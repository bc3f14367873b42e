# libFuzzer targets (fuzz/*_fuzz.cpp). They need clang, so they are built only in a clang build
# folder configured with -DTIVEL_FUZZ=ON (mk/fuzz.mk does that); the ordinary g++ build skips
# this file's targets entirely.
#
# Each target links the helper's own sources, compiled a second time here with coverage
# instrumentation and ASan/UBSan, so the fuzzers drive the real code. The kernel behind the WiFi
# source is the stand-in of sim/ (also instrumented), except for targets that are their own
# kernel (TIVEL_FUZZ_OWN_KERNEL).
option(TIVEL_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(TIVEL_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(TIVEL_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
                            -fno-omit-frame-pointer)
  set(TIVEL_FUZZ_OWN_KERNEL netlink_fuzz)

  add_library(tivel_core_fuzz STATIC ${TIVEL_CORE_SOURCES})
  target_include_directories(tivel_core_fuzz PUBLIC src ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(tivel_core_fuzz PRIVATE -fsanitize=fuzzer-no-link ${TIVEL_FUZZ_SANITIZERS})

  file(GLOB TIVEL_FUZZ_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
  list(FILTER TIVEL_FUZZ_SIM_SOURCES EXCLUDE REGEX "sim/sim_main\\.cpp$")
  add_library(tivel_fake_kernel_fuzz OBJECT ${TIVEL_FUZZ_SIM_SOURCES})
  target_include_directories(tivel_fake_kernel_fuzz PUBLIC ${CMAKE_SOURCE_DIR}/sim src
                                                           ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(tivel_fake_kernel_fuzz PRIVATE -fsanitize=fuzzer-no-link
                                                        ${TIVEL_FUZZ_SANITIZERS})

  file(GLOB TIVEL_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
  add_custom_target(fuzzers)
  foreach(source IN LISTS TIVEL_FUZZ_SOURCES)
    get_filename_component(name ${source} NAME_WE)
    # The kit's JSON reader and socket writes, built with the fuzzers' own flags.
    add_executable(${name} ${source} ${CMAKE_SOURCE_DIR}/tests/support/json_reader.cpp
                           ${CMAKE_SOURCE_DIR}/tests/support/sockets.cpp)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    # The harness itself (its reference checks) gets no coverage instrumentation: only the
    # helper's code should steer the fuzzer, and the checks run faster without it.
    target_compile_options(${name} PRIVATE ${TIVEL_FUZZ_SANITIZERS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer ${TIVEL_FUZZ_SANITIZERS})
    if(NOT name IN_LIST TIVEL_FUZZ_OWN_KERNEL)
      target_link_libraries(${name} PRIVATE tivel_fake_kernel_fuzz)
    endif()
    target_link_libraries(${name} PRIVATE tivel_core_fuzz)
    add_dependencies(fuzzers ${name})
  endforeach()
endif()
