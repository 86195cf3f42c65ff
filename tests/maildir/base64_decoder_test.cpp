// The part decoder against GMime's own: the same bytes for the same blocks,
// whatever the text holds.
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "host/maildir/base64_decoder.h"

namespace {

// Decodes text in blocks of the given sizes (the last takes the rest),
// with GMime's step or with ours.
std::string DecodeInBlocks(const std::string &text, const std::vector<size_t> &blocks, bool gmime) {
  std::string out;
  int state = 0;
  guint32 save = 0;
  size_t at = 0;
  for (size_t b = 0; at < text.size(); ++b) {
    const size_t n = b < blocks.size() ? std::min(blocks[b], text.size() - at) : text.size() - at;
    std::vector<unsigned char> buffer(n + 4);
    const auto *in = reinterpret_cast<const unsigned char *>(text.data() + at);
    const size_t made = gmime ? g_mime_encoding_base64_decode_step(in, n, buffer.data(), &state, &save)
                              : maildir::Base64DecodeStep(in, n, buffer.data(), &state, &save);
    out.append(reinterpret_cast<const char *>(buffer.data()), made);
    at += n;
  }
  return out;
}

TEST(Base64DecoderTest, DecodesEveryTextAsGMimeDoesInEveryBlocking) {
  g_mime_init();
  const std::string encoded76 =
      "TWFpbCBmcm9tIGFub3RoZXIgcHJvZ3JhbTogYSBsaW5lIG9mIHNldmVudHktc2l4IGNoYXJhY3Rl\n"
      "cnMsIHRoZW4gYSBzaG9ydCBvbmUu\n";
  const struct {
    std::string text;
    const char *why;
  } rows[] = {
      {encoded76, "lines of 76 with a short last one"},
      {"QUJD\r\nREVG\r\nRw==\r\n", "CRLF line ends and padding at the end"},
      {"QQ==QkM=", "padding in the middle, as two parts glued together: the first '=' ends the text"},
      {"QUJ\n=D\n", "'=' among the digits"},
      {"QUJDRA=", "one '=' where two belong"},
      {"QQ===", "three of them"},
      {"Q U J D !* RU\tZH", "blanks and junk among the digits"},
      {"=", "padding alone"},
      {"QUJDRA", "a group cut short"},
      {"====", "nothing but padding"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.why);
    for (size_t first = 1; first <= row.text.size(); ++first) {
      const std::vector<size_t> blocks = {first, 1, 2, 3};
      EXPECT_EQ(DecodeInBlocks(row.text, blocks, false), DecodeInBlocks(row.text, blocks, true)) << first;
    }
  }
  // Random texts over the alphabet, padding, line ends and junk, in random
  // blocks: the quartets taken at once must never cross what GMime does
  // byte by byte.
  std::mt19937 random(20261208);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const size_t length = random() % 300;
    for (size_t i = 0; i < length; ++i) {
      const unsigned pick = random() % 100;
      if (pick < 80) text += alphabet[random() % 64];
      else if (pick < 86) text += '=';
      else if (pick < 93) text += '\n';
      else if (pick < 95) text += '\r';
      else text += static_cast<char>(random() % 256);
    }
    std::vector<size_t> blocks;
    for (size_t left = text.size(); left > 0;) {
      const size_t n = 1 + random() % (round % 2 == 0 ? 8 : 200);
      blocks.push_back(n);
      left -= std::min(n, left);
    }
    ASSERT_EQ(DecodeInBlocks(text, blocks, false), DecodeInBlocks(text, blocks, true)) << "text: " << text;
  }
}

}  // namespace
