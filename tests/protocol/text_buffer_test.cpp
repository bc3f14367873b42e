// The text buffer's growth rule and the JSON string writer, byte for byte.
#include "protocol/text_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "protocol/text_allocator.h"

namespace {

// A block resizer that can be told to fail.
int failures_left_after = -1;  // -1: never fail; n: succeed n more times, then fail
size_t last_requested = 0;

void* failing_resize(void* block, size_t size) {
  last_requested = size;
  if (failures_left_after == 0) return nullptr;
  if (failures_left_after > 0) --failures_left_after;
  return std::realloc(block, size);
}

struct Text {
  TextBuffer buffer{};
  ~Text() { text_release(buffer); }
  std::string str() const { return buffer.data ? std::string(buffer.data, buffer.len) : ""; }
};

std::string json(const std::string& input) {
  Text text;
  text_append_json_string(text.buffer, input.c_str());
  return text.str();
}

class TextBufferTest : public testing::Test {
 protected:
  void SetUp() override {
    failures_left_after = -1;
    text_use_resize(failing_resize);
  }
  void TearDown() override { text_use_resize(nullptr); }
};

}  // namespace

TEST_F(TextBufferTest, JsonEscapesQuoteBackslashAndControlBytes) {
  for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
           {"", "\"\""},
           {"a\"b\\c", "\"a\\\"b\\\\c\""},
           {"\n", "\"\\u000a\""},
           {"\t", "\"\\u0009\""},
           {"\x7f", "\"\\u007f\""},
           {"\x1f", "\"\\u001f\""},
           {" ~/", "\" ~/\""},
       })
    EXPECT_EQ(json(input), output) << input;
}

TEST_F(TextBufferTest, JsonCopiesValidUtf8AndEscapesEveryOtherHighByte) {
  for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
           {"\xc3\xa9", "\"\xc3\xa9\""},
           {"\xe9", "\"\\u00e9\""},
           {"\xc3"
            "A",
            "\"\\u00c3A\""},
           {"x\xe2\x82", "\"x\\u00e2\\u0082\""},
           {"\xc0\x80", "\"\\u00c0\\u0080\""},
           {"\xf5", "\"\\u00f5\""},
           {"\xff", "\"\\u00ff\""},
           {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
           {"\xe2\x82\xac", "\"\xe2\x82\xac\""},
           {"\xed\x9f\xbf", "\"\xed\x9f\xbf\""},          // U+D7FF, last before surrogates
           {"\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},  // U+10FFFF
       })
    EXPECT_EQ(json(input), output) << input;
}

TEST_F(TextBufferTest, JsonEscapesOverlongSurrogateAndOutOfRangeSequencesByteByByte) {
  // Browsers fail the connection on these, so they must never be copied through.
  for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
           {"\xe0\x80\x80", "\"\\u00e0\\u0080\\u0080\""},
           {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},
           {"\xed\xbf\xbf", "\"\\u00ed\\u00bf\\u00bf\""},
           {"\xf0\x80\x80\x80", "\"\\u00f0\\u0080\\u0080\\u0080\""},
           {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
       })
    EXPECT_EQ(json(input), output) << input;
  // After a failed lead byte the scan resumes at the next byte, which may start a valid one.
  EXPECT_EQ(json("\xe0\xc3\xa9"), "\"\\u00e0\xc3\xa9\"");
}

TEST_F(TextBufferTest, GrowthStartsAt1024AndDoubles) {
  Text text;
  text_append(text.buffer, "a", 1);
  EXPECT_EQ(text.buffer.cap, 1024u);
  EXPECT_EQ(last_requested, 1024u);
  text_append(text.buffer, std::string(1022, 'b').c_str(), 1022);
  EXPECT_EQ(text.buffer.len, 1023u);
  EXPECT_EQ(text.buffer.cap, 1024u);
  text_append(text.buffer, "c", 1);
  EXPECT_EQ(text.buffer.cap, 2048u);
  text_append(text.buffer, std::string(2100, 'd').c_str(), 2100);
  EXPECT_EQ(text.buffer.cap, 4096u);
  text_append(text.buffer, std::string(5000 - 3124 - 1, 'e').c_str(), 5000 - 3124 - 1);
  EXPECT_EQ(text.buffer.len, 4999u);
  EXPECT_EQ(text.buffer.cap, 8192u);
  EXPECT_EQ(text.buffer.data[text.buffer.len], '\0');
}

TEST_F(TextBufferTest, FailedGrowthDropsOnlyThatAppend) {
  Text text;
  text_append(text.buffer, std::string(1000, 'a').c_str(), 1000);
  failures_left_after = 0;
  text_append(text.buffer, std::string(100, 'b').c_str(), 100);  // needs 2048: refused
  EXPECT_EQ(text.buffer.len, 1000u);
  EXPECT_EQ(text.buffer.cap, 1024u);
  text_append(text.buffer, "cd", 2);  // fits without growing
  EXPECT_EQ(text.str(), std::string(1000, 'a') + "cd");
  failures_left_after = -1;
  text_append(text.buffer, "e", 1);
  EXPECT_EQ(text.str().back(), 'e');
}

TEST_F(TextBufferTest, NoBlockMeansNothingIsSentAndEachAppendTriesAgain) {
  failures_left_after = 0;
  TextBuffer buffer;
  text_seed(buffer, "{\"type\":\"stopped\"}");
  EXPECT_EQ(buffer.data, nullptr);
  EXPECT_EQ(buffer.cap, 0u);
  failures_left_after = -1;
  text_append(buffer, "x", 1);
  EXPECT_EQ(std::string(buffer.data), "x");
  text_release(buffer);
  EXPECT_EQ(buffer.data, nullptr);
}

TEST_F(TextBufferTest, JsonStringUnderExhaustionDropsPiecesButKeepsGoing) {
  Text text;
  text_append(text.buffer, std::string(1018, 'a').c_str(), 1018);
  failures_left_after = 0;
  // Five bytes of room and no growth: the run "xyz\xc3\xa9" does not fit whole, so it goes
  // piece by piece; the two-byte letter no longer fits, the closing quote still does.
  text_append_json_string(text.buffer, "xyz\xc3\xa9");
  EXPECT_EQ(text.str(), std::string(1018, 'a') + "\"xyz\"");
}

TEST_F(TextBufferTest, FormatIsCutAt511Bytes) {
  Text text;
  text_append_format(text.buffer, "%s", std::string(600, 'q').c_str());
  EXPECT_EQ(text.buffer.len, 511u);
  text_append_format(text.buffer, "%s", "");
  EXPECT_EQ(text.buffer.len, 511u);
  Text exact;
  text_append_format(exact.buffer, "%s", std::string(510, 'r').c_str());
  EXPECT_EQ(exact.buffer.len, 510u);
}

TEST_F(TextBufferTest, HexIsLowercasePairs) {
  Text text;
  const uint8_t bytes[] = {0x00, 0x04, 0x48, 0x6f, 0x6d, 0x65, 0xab, 0xff};
  text_append_hex(text.buffer, bytes, sizeof bytes);
  EXPECT_EQ(text.str(), "0004486f6d65abff");
}
