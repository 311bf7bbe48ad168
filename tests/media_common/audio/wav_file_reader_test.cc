#include "media_common/audio/wav_file_reader.h"

#include <gtest/gtest.h>

#include "tests/media_common/audio/wav_bytes.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

using namespace wav_bytes;
using namespace std::string_literals;

class WAVFileReaderTest : public ::testing::Test {
 protected:
  std::string fileWith(std::string const& bytes) {
    std::string const path = dir_.file("in.wav");
    EXPECT_TRUE(File::writeStringToFile(path, bytes));
    return path;
  }

  testing::ScopedTempDir dir_;
  testing::LogCapture log_{"wav_file_reader:5,riff:5"};
};

// Headers that cannot be read, and layouts that open but never convert.
TEST_F(WAVFileReaderTest, RefusesBrokenHeadersAndUnsupportedLayoutsWithTheirLogLines) {
  std::string const data = chunk("data", samples16({1, 2, 3, 4, 5, 6}));
  struct Case {
    std::string bytes;
    std::string log;
  } const cases[] = {
      {"RIFX"s + le32(4) + "WAVE" + fmtChunk(1, 8000, 16) + data,
       "riff::readList(f_, \"RIFF\", &total_size, fourcc)"},
      {chunk("RIFF", "AVI " + fmtChunk(1, 8000, 16) + data), "0 == strcmp(fourcc, \"WAVE\")"},
      {riff(fmtChunk(1, 8000, 16)), "riff::readChunkHeader(f_, &chunk)"},
      {riff(chunk("fmt ", "\1\0\1\0"s, 16)),
       "f_->read(header_.get(), sizeof(WAVHeader)) == sizeof(WAVHeader)"},
      {riff(data + fmtChunk(1, 8000, 16)), "header_->num_channels > 0"},
      {riff(fmtChunk(1, 0, 16) + data), "header_->sampling_rate > 0"},
      {riff(fmtChunk(1, 0x80000000, 16) + data), "Sampling rate 2147483648 not supported."},
      {riff(chunk("junk", "", 0xFFFFFFF0) + fmtChunk(1, 8000, 16) + data),
       "riff::readChunkHeader(f_, &chunk)"},
      {riff("LIST"s + le32(0) + "INFO" + fmtChunk(1, 8000, 16) + data),
       "riff::readChunkHeader(f_, &chunk)"},
      {riff(fmtChunk(1, 8000, 24) + data), "24 bits per sample not supported."},
      {riff(fmtChunk(2, 8000, 16, 0) + data),
       "A block alignment of 0 bytes cannot hold 2 channels of 16 bits."},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.log);
    log_.clear();
    std::vector<std::vector<short>> channels;
    EXPECT_FALSE(WAVFileReader::readFromFile(fileWith(c.bytes), &channels, nullptr));
    EXPECT_TRUE(log_.contains(c.log));
  }
  std::string const missing = dir_.file("missing.wav");
  EXPECT_FALSE(WAVFileReader().openFile(missing));
  EXPECT_TRUE(log_.contains("Can't read WAV file " + missing));
}

TEST_F(WAVFileReaderTest, SkipsOtherChunksAndFramePaddingAndBoundsTheDataByTheRealFile) {
  // A long format chunk with 2 x 16 bits in 6-byte frames, chunks around the
  // data, and a data size (4 GiB) that the file does not hold.
  std::string const fmt18 = chunk("fmt ", fmtChunk(2, 16000, 16, 6).substr(8) + "\0\0"s);
  std::string const path = fileWith(riff(chunk("LIST", "INFOabcd") + fmt18 + chunk("junk", "abc") +
                                         chunk("data", "", 0xFFFFFFFF)) +
                                    samples16({1, -2, 99, 32767, -32768, 99, 5, 6}));
  WAVFileReader reader;
  ASSERT_TRUE(reader.openFile(path));
  EXPECT_EQ(reader.getSamplingRate(), 16000);
  EXPECT_EQ(reader.getDataSize(), 16u);
  short out[4] = {};
  ASSERT_TRUE(reader.readFrames(2, out));
  EXPECT_EQ((std::vector<short>(out, out + 4)), (std::vector<short>{1, -2, 32767, -32768}));
  EXPECT_FALSE(reader.readFrames(1, out));  // the last frame is cut short
  EXPECT_FALSE(reader.readFrames(1, out));
  EXPECT_TRUE(reader.eof());
  reader.restart();
  ASSERT_TRUE(reader.readFrames(1, out));
  EXPECT_EQ(out[0], 1);

  // 8-bit samples are unsigned around 128.
  std::vector<short> eight;
  ASSERT_TRUE(WAVFileReader::readFromFile(
      fileWith(riff(fmtChunk(1, 8000, 8) + chunk("data", "\x80\xFF\x00\x01"s))), &eight, nullptr));
  EXPECT_EQ(eight, (std::vector<short>{0, 127 * 256, -128 * 256, -127 * 256}));

  // A 65535-channel header in a tiny file allocates nothing it claims.
  std::vector<std::vector<short>> channels;
  EXPECT_TRUE(WAVFileReader::readFromFile(
      fileWith(riff(fmtChunk(65535, 8000, 8) + chunk("data", "", 0x7FFFFFFF) + "xy")), &channels,
      nullptr));
  EXPECT_EQ(channels.size(), 65535u);
  EXPECT_TRUE(channels[0].empty());
}

// Every prefix of a valid file either fails cleanly or reads a prefix of its
// samples (the WAV fuzzer covers corrupted files).
TEST_F(WAVFileReaderTest, SurvivesTruncation) {
  std::vector<short> const samples = {100, -100, 200, -200, 300, -300, 400, -400};
  std::string const valid =
      riff(chunk("LIST", "INFOabcd") + fmtChunk(2, 8000, 16) + chunk("data", samples16(samples)));
  auto readsPrefix = [&](std::string const& bytes) {
    std::vector<short> read;
    if (!WAVFileReader::readFromFile(fileWith(bytes), &read, nullptr)) return true;
    return read.size() <= samples.size() && std::equal(read.begin(), read.end(), samples.begin());
  };
  for (size_t length = 0; length <= valid.size(); ++length)
    EXPECT_TRUE(readsPrefix(valid.substr(0, length))) << length;
}

}  // namespace
}  // namespace dravo::media
