#include <gtest/gtest.h>

#include <cstdio>

#include "support/netns.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string why = enter_private_netns();
  if (!why.empty())
    std::fprintf(stderr, "note: staying in the shared network namespace (%s)\n", why.c_str());
  return RUN_ALL_TESTS();
}
