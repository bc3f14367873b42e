// How watch reads "hz" and "secs" from a command the helper never parses as JSON.
#include <gtest/gtest.h>

#include "protocol/live_stream.h"

namespace {

struct Case {
  const char* command;
  int hz;    // what read_watch_number gives for "hz" (default 10, at most 20)
  int secs;  // and for "secs" (default 60, at most 600)
};

void expect_cases(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(read_watch_number(c.command, "hz", 10, 20), c.hz) << c.command;
    EXPECT_EQ(read_watch_number(c.command, "secs", 60, 600), c.secs) << c.command;
  }
}

}  // namespace

TEST(WatchParameters, DefaultsAndClamps) {
  expect_cases({{"{\"cmd\":\"watch\"}", 10, 60},
                {"{\"hz\":0}", 1, 60},
                {"{\"hz\":1}", 1, 60},
                {"{\"hz\":5}", 5, 60},
                {"{\"hz\":20}", 20, 60},
                {"{\"hz\":50}", 20, 60},
                {"{\"hz\":99999999999999999999}", 20, 60},
                {"{\"hz\":2.5}", 2, 60},
                {"{\"secs\":0}", 10, 1},
                {"{\"secs\":600}", 10, 600},
                {"{\"secs\":601}", 10, 600}});
}

TEST(WatchParameters, OnlyColonsAndBlanksMayPrecedeTheDigits) {
  expect_cases({{"{\"hz\": 5}", 5, 60},
                {"{\"hz\" : 5}", 5, 60},
                {"{\"hz\"::  :7}", 7, 60},
                {"{\"hz\":\t5}", 10, 60},
                {"{\"hz\":\n5}", 10, 60},
                {"{\"hz\":-5}", 10, 60},
                {"{\"hz\":\"5\"}", 10, 60},
                {"{\"hz\":", 10, 60}});
}

TEST(WatchParameters, TheQuotedKeyIsFoundAnywhere) {
  expect_cases({{"{\"cmd\":\"watch\",\"note\":\"hz\"}", 10, 60},
                {"{\"note\":\"hz\",\"hz\":3}", 10, 60},
                {"{\"cmd\":\"watch\",\"secs\":5,\"hz\":2}", 2, 5}});
}
