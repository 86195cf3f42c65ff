// The base64 file stream against GMime's own encoder: a message written
// from it must be the message GMime's filter would have written, byte for
// byte, so every length around a line's and a read block's end is compared.
#include "host/maildir/base64_file_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/host_fixture.h"

namespace {

std::string GMimeBase64(const std::string &bytes) {
  GMimeStream *memory = g_mime_stream_mem_new();
  GMimeStream *filtered = g_mime_stream_filter_new(memory);
  GMimeFilter *encoder = g_mime_filter_basic_new(GMIME_CONTENT_ENCODING_BASE64, TRUE);
  g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered), encoder);
  g_object_unref(encoder);
  g_mime_stream_write(filtered, bytes.data(), bytes.size());
  g_mime_stream_flush(filtered);
  GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
  std::string text(reinterpret_cast<const char *>(array->data), array->len);
  g_object_unref(filtered);
  g_object_unref(memory);
  return text;
}

// Everything the stream gives, read in pieces of `piece` bytes.
std::string ReadAll(GMimeStream *stream, size_t piece) {
  std::string text;
  std::string buffer(piece, '\0');
  ssize_t n;
  while ((n = g_mime_stream_read(stream, &buffer[0], piece)) > 0) text.append(buffer, 0, static_cast<size_t>(n));
  return text;
}

TEST(Base64FileStreamTest, GivesWhatGMimesEncoderWrites) {
  g_mime_init();
  testing_support::TestHost scratch;  // its temporary directory
  const size_t block = 57 * 1024;
  const size_t lengths[] = {0, 1, 2, 3, 56, 57, 58, 114, 115, block - 1, block, block + 1, 3 * block + 58};
  uint32_t seed = 7;
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    std::string bytes;
    for (size_t i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      bytes.push_back(static_cast<char>(seed >> 24));
    }
    const std::string path = scratch.root() + "/part";
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
    const std::string expected = GMimeBase64(bytes);
    GMimeStream *stream = OpenBase64FileStream(path.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(g_mime_stream_length(stream), static_cast<gint64>(expected.size()));
    EXPECT_EQ(Base64LinesLength(static_cast<int64_t>(length)), static_cast<int64_t>(expected.size()));
    EXPECT_EQ(ReadAll(stream, 4096), expected);
    EXPECT_TRUE(g_mime_stream_eos(stream));
    // GMime resets a part's content before it copies it, and again after.
    ASSERT_EQ(g_mime_stream_reset(stream), 0);
    EXPECT_EQ(ReadAll(stream, 77 * 3 + 5), expected) << "read again in odd pieces";
    EXPECT_EQ(g_mime_stream_tell(stream), static_cast<gint64>(expected.size()));
    EXPECT_EQ(g_mime_stream_seek(stream, 1, GMIME_STREAM_SEEK_SET), -1) << "only the start can be sought";
    // The splicing writer takes the text block by block, in place, after a
    // read has begun it.
    ASSERT_EQ(g_mime_stream_reset(stream), 0);
    std::string blocks(100, '\0');
    const ssize_t first = g_mime_stream_read(stream, &blocks[0], blocks.size());
    ASSERT_EQ(first, static_cast<ssize_t>(std::min<size_t>(100, expected.size())));
    blocks.resize(static_cast<size_t>(first));
    const char *text = nullptr;
    ssize_t n;
    while ((n = Base64FileStreamNextBlock(stream, &text)) > 0) blocks.append(text, static_cast<size_t>(n));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(blocks, expected) << "taken in blocks";
    EXPECT_EQ(g_mime_stream_tell(stream), static_cast<gint64>(expected.size()));
    g_object_unref(stream);
  }
  EXPECT_EQ(OpenBase64FileStream((scratch.root() + "/missing").c_str()), nullptr);
}

}  // namespace
