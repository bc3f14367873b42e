// How watch reads "hz" and "secs" from a command the helper never parses as JSON.
#include <gtest/gtest.h>

#include "protocol/live_stream.h"

namespace {
int hz(const char* text) {
  return read_watch_number(text, "hz", 10, 20);
}
int secs(const char* text) {
  return read_watch_number(text, "secs", 60, 600);
}
}  // namespace

TEST(WatchParameters, DefaultsAndClamps) {
  EXPECT_EQ(hz("{\"cmd\":\"watch\"}"), 10);
  EXPECT_EQ(secs("{\"cmd\":\"watch\"}"), 60);
  EXPECT_EQ(hz("{\"hz\":0}"), 1);
  EXPECT_EQ(hz("{\"hz\":1}"), 1);
  EXPECT_EQ(hz("{\"hz\":5}"), 5);
  EXPECT_EQ(hz("{\"hz\":20}"), 20);
  EXPECT_EQ(hz("{\"hz\":50}"), 20);
  EXPECT_EQ(hz("{\"hz\":99999999999999999999}"), 20);
  EXPECT_EQ(hz("{\"hz\":2.5}"), 2);
  EXPECT_EQ(secs("{\"secs\":0}"), 1);
  EXPECT_EQ(secs("{\"secs\":600}"), 600);
  EXPECT_EQ(secs("{\"secs\":601}"), 600);
}

TEST(WatchParameters, OnlyColonsAndBlanksMayPrecedeTheDigits) {
  EXPECT_EQ(hz("{\"hz\": 5}"), 5);
  EXPECT_EQ(hz("{\"hz\" : 5}"), 5);
  EXPECT_EQ(hz("{\"hz\"::  :7}"), 7);
  EXPECT_EQ(hz("{\"hz\":\t5}"), 10);
  EXPECT_EQ(hz("{\"hz\":\n5}"), 10);
  EXPECT_EQ(hz("{\"hz\":-5}"), 10);
  EXPECT_EQ(hz("{\"hz\":\"5\"}"), 10);
  EXPECT_EQ(hz("{\"hz\":"), 10);
}

TEST(WatchParameters, TheQuotedKeyIsFoundAnywhere) {
  EXPECT_EQ(hz("{\"cmd\":\"watch\",\"note\":\"hz\"}"), 10);
  EXPECT_EQ(hz("{\"note\":\"hz\",\"hz\":3}"), 10);
  EXPECT_EQ(secs("{\"cmd\":\"watch\",\"secs\":5,\"hz\":2}"), 5);
}
