# Cross build for 64-bit ARM Linux with Debian's cross compiler (g++-aarch64-linux-gnu), e.g.
#   cmake -S . -B build/aarch64 --toolchain cmake/toolchains/aarch64-linux-gnu.cmake -DTIVEL_STATIC=ON
# Libraries and packages come from the cross sysroot only, never from the build machine; programs
# (tar, gzip, dpkg tools) from the build machine. qemu-user runs what the build makes.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TIVEL_QEMU_AARCH64 qemu-aarch64-static)
if(TIVEL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TIVEL_QEMU_AARCH64})
endif()
