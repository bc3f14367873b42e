# The first hello through socket activation beside a running helper (bench/activation_bench.cpp);
# `make bench-activation` builds and runs it. Not part of `all`.
add_executable(tivel_activation_bench EXCLUDE_FROM_ALL bench/activation_bench.cpp)
target_link_libraries(tivel_activation_bench PRIVATE tivel_test_kit)
