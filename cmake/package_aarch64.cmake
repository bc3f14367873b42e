# The helper for 64-bit ARM in the test build: the release build made with Debian's cross compiler
# (cmake/toolchains/aarch64-linux-gnu.cmake), fully static like the released binary, so the
# protocol and end-to-end suites can run it and its simulator under qemu-user. It is built twice,
# the second time from a copy of the sources at another path into another folder, and
# package.reproducible compares the two. `make package` keeps a cross build tree of its own.
#
# For the suites: TIVEL_AARCH64_ENV, the environment that points the test kit at these binaries
# (see tests/support/helper_process.h), and TIVEL_AARCH64_DIR, TIVEL_AARCH64_AGAIN_DIR (the two
# build folders) and TIVEL_AARCH64_EMULATOR. Left empty where the cross tools are missing.
# (The file name sorts after package.cmake, whose TIVEL_SOURCE_DATE_EPOCH both builds are given.)
set(TIVEL_AARCH64_ENV "")
if(NOT TIVEL_TESTS OR TIVEL_SANITIZE OR CMAKE_CROSSCOMPILING)
  return()
endif()
find_program(TIVEL_AARCH64_CXX aarch64-linux-gnu-g++)
find_program(TIVEL_AARCH64_EMULATOR qemu-aarch64-static)
if(NOT TIVEL_AARCH64_CXX OR NOT TIVEL_AARCH64_EMULATOR)
  # Nothing to tell someone who only wants to run the helper (make run, make devpage).
  if(NOT "$ENV{TIVEL_CONFIGURE_FOR_RUN}")
    message(WARNING "No aarch64-linux-gnu-g++ or qemu-aarch64-static: the aarch64 suites are left "
                    "out (scripts/install-deps.sh installs them)")
  endif()
  return()
endif()

include(ExternalProject)
set(TIVEL_AARCH64_DIR ${CMAKE_BINARY_DIR}/aarch64)
set(TIVEL_AARCH64_AGAIN_DIR ${CMAKE_BINARY_DIR}/reproduce/aarch64-built-again)
set(tivel_aarch64_args
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/aarch64-linux-gnu.cmake
    -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF -DTIVEL_STATIC=ON
    -DTIVEL_SOURCE_DATE_EPOCH=${TIVEL_SOURCE_DATE_EPOCH}
    # CPack installs what the build step made, without building everything else first.
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
# Only what the suites and the release need. Under make, a recursive make shares the jobs of the
# parent build (-j) instead of running one job at a time beside it.
set(tivel_aarch64_targets tivel_release tamberline-tivel-helper-sim)
if(CMAKE_GENERATOR MATCHES "Make")
  set(tivel_aarch64_build $(MAKE) ${tivel_aarch64_targets})
else()
  set(tivel_aarch64_build ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${tivel_aarch64_targets})
endif()

ExternalProject_Add(
  tivel_aarch64
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${TIVEL_AARCH64_DIR}
  PREFIX ${CMAKE_BINARY_DIR}/aarch64-stamps
  CMAKE_ARGS ${tivel_aarch64_args}
  BUILD_COMMAND ${tivel_aarch64_build}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  LOG_CONFIGURE ON
  LOG_OUTPUT_ON_FAILURE ON)

# The copy is refreshed on every build (the update step), keeping time stamps so that only what
# changed is compiled again.
set(tivel_again_source ${CMAKE_BINARY_DIR}/reproduce/sources-copied-elsewhere)
ExternalProject_Add(
  tivel_aarch64_again
  SOURCE_DIR ${tivel_again_source}
  BINARY_DIR ${TIVEL_AARCH64_AGAIN_DIR}
  PREFIX ${CMAKE_BINARY_DIR}/reproduce/stamps
  DOWNLOAD_COMMAND ""
  UPDATE_COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/copy-tree.sh ${CMAKE_SOURCE_DIR} ${tivel_again_source}
  CMAKE_ARGS ${tivel_aarch64_args}
  BUILD_COMMAND ${tivel_aarch64_build}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  LOG_CONFIGURE ON
  LOG_OUTPUT_ON_FAILURE ON)

set(TIVEL_AARCH64_ENV
    "TIVEL_HELPER=${TIVEL_AARCH64_DIR}/tamberline-tivel-helper"
    "TIVEL_SIM=${TIVEL_AARCH64_DIR}/tamberline-tivel-helper-sim"
    "TIVEL_EMULATOR=${TIVEL_AARCH64_EMULATOR}")
