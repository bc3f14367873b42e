#include "server/accept_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "server/base64.h"
#include "server/sha1.h"

namespace {

std::string sha1_hex(const std::string& input) {
  std::array<uint8_t, kSha1DigestSize> digest = sha1_digest(input.data(), input.size());
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 15]);
  }
  return hex;
}

std::string base64(const std::string& input) {
  std::string out(base64_encoded_size(input.size()), '#');
  base64_encode(input.data(), input.size(), out.data());
  EXPECT_EQ(out.back(), '\0');
  out.pop_back();
  EXPECT_EQ(std::strlen(out.c_str()), out.size());
  return out;
}

std::string accept_for(const std::string& key) {
  char out[40];
  std::memset(out, '#', sizeof out);
  make_accept_key(key.c_str(), out);
  return out;
}

// Expected digests come from `sha1sum`, not from this code.
TEST(Sha1, Fips180Vectors) {
  for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
           {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
           {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
           {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
       })
    EXPECT_EQ(sha1_hex(input), output) << input;
  EXPECT_EQ(
      sha1_hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmno"
               "pqklmnopqrlmnopqrsmnopqrstnopqrstu"),
      "a49b2446a02c645bf419f995b67091253a04a259");
  EXPECT_EQ(sha1_hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// 55 bytes still fit the length into the final block; from 56 on it takes a second one.
TEST(Sha1, PaddingBoundaries) {
  for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
           {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
           {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
           {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
           {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
           {std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
       })
    EXPECT_EQ(sha1_hex(input), output) << input;
}

TEST(Base64, Rfc4648Vectors) {
  for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
           {"", ""},
           {"f", "Zg=="},
           {"fo", "Zm8="},
           {"foo", "Zm9v"},
           {"foob", "Zm9vYg=="},
           {"fooba", "Zm9vYmE="},
           {"foobar", "Zm9vYmFy"},
       })
    EXPECT_EQ(base64(input), output) << input;
}

TEST(Base64, EveryByteValueUsesTheStandardAlphabet) {
  for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
           {std::string("\xfb\xff\xbf", 3), "+/+/"},
           {std::string("\0\0\0", 3), "AAAA"},
           {std::string("\xff", 1), "/w=="},
       })
    EXPECT_EQ(base64(input), output) << input;
}

// Writes exactly the text and its NUL, nothing past the size it promises.
TEST(Base64, StaysInsideTheOutputSize) {
  for (size_t n = 0; n < 10; ++n) {
    std::string input(n, '\x5a');
    std::string out(base64_encoded_size(n) + 4, '#');
    base64_encode(input.data(), n, out.data());
    EXPECT_EQ(out.substr(base64_encoded_size(n)), "####") << n;
    EXPECT_EQ(std::strlen(out.c_str()) + 1, base64_encoded_size(n)) << n;
  }
}

TEST(AcceptKey, Rfc6455SampleKey) {
  EXPECT_EQ(accept_for("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(AcceptKey, AnyTextIsAKey) {
  EXPECT_EQ(accept_for(""), "Kfh9QIsMVZcl6xEPYxPHzW8SZ8w=");  // the GUID alone
  EXPECT_EQ(accept_for(std::string(127, 'K')), "eQPty5VJM/E0W5oOh1JDwJi2Zzw=");
  EXPECT_EQ(accept_for("DGHLIHNHBXBSZSBUB25JZQ=="), "bTDy/mAkJp3FWz34b2rLauQ1T6E=");
}

TEST(AcceptKey, AlwaysTwentyEightCharactersEndingInOnePad) {
  for (const char* key : {"", "x", "dGhlIHNhbXBsZSBub25jZQ==", "not base64 at all !"}) {
    std::string accept = accept_for(key);
    EXPECT_EQ(accept.size(), kAcceptKeyLength) << key;
    EXPECT_EQ(accept.back(), '=') << key;
    EXPECT_NE(accept[accept.size() - 2], '=') << key;
  }
}

}  // namespace
