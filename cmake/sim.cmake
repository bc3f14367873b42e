# The stand-in kernel (sim/) and the simulator executable built on it.

# The WiFi code calls the kernel only through the port chosen at start-up (src/wifi/kernel_port.h);
# fake_kernel_reset() or the simulator's start-up chooses the stand-in.
add_library(tivel_fake_kernel STATIC
  sim/fake_kernel.cpp sim/nl_writer.cpp sim/recordings.cpp sim/scene.cpp sim/scene_kernel.cpp
  sim/scene_width.cpp)
target_include_directories(tivel_fake_kernel PUBLIC ${CMAKE_SOURCE_DIR}/sim)
target_link_libraries(tivel_fake_kernel PUBLIC tivel_core)

# The helper with the stand-in kernel, serving the scene file named by TIVEL_SIM_SCENE (or the
# built-in demo scene). Built for tests, demos and benchmarks; not installed.
add_executable(tamberline-tivel-helper-sim sim/sim_main.cpp)
target_link_libraries(tamberline-tivel-helper-sim PRIVATE tivel_fake_kernel tivel_core)
# Static like the helper in a static build, so an emulator runs it without a foreign sysroot.
if(TIVEL_STATIC)
  target_link_options(tamberline-tivel-helper-sim PRIVATE -static)
endif()

# Link this to learn where the simulator and its scene files are:
# TIVEL_SIM_PATH (the executable) and TIVEL_SIM_SCENES_DIR (sim/scenes in the source tree).
add_library(tivel_sim_path INTERFACE)
target_compile_definitions(tivel_sim_path INTERFACE
  TIVEL_SIM_PATH="$<TARGET_FILE:tamberline-tivel-helper-sim>"
  TIVEL_SIM_SCENES_DIR="${CMAKE_SOURCE_DIR}/sim/scenes")
add_dependencies(tivel_sim_path tamberline-tivel-helper-sim)
