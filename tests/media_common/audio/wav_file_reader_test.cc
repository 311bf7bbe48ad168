#include "media_common/audio/wav_file_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/media_common/audio/wav_bytes.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

using namespace wav_bytes;
using namespace std::string_literals;
using Channels = std::vector<std::vector<short>>;

class WAVFileReaderTest : public ::testing::Test {
 protected:
  std::string fileWith(std::string const& bytes) {
    std::string const path = dir_.file("in.wav");
    EXPECT_TRUE(File::writeStringToFile(path, bytes));
    return path;
  }
  std::vector<std::string> readerLog() const { return log_.messages("wav_file_reader"); }

  testing::ScopedTempDir dir_;
  testing::LogCapture log_{"wav_file_reader:5,riff:5"};
};

TEST_F(WAVFileReaderTest, ConvertsEightBitSamplesAndKeepsSixteenBitOnes) {
  Channels channels;
  WAVHeader header;
  ASSERT_TRUE(WAVFileReader::readFromFile(
      fileWith(riff(fmtChunk(2, 8000, 8) + chunk("data", "\x80\xFF\x00\x7F\x81\x80"s))), &channels,
      &header));
  EXPECT_EQ(channels, (Channels{{0, -32768, 256}, {(255 - 128) * 256, -256, 0}}));
  EXPECT_EQ(header.sampling_rate, 8000u);
  EXPECT_EQ(header.bits_per_sample, 8);

  // A frame wider than its samples (block alignment 6 for 2 x 16 bits): the
  // padding is skipped.
  std::vector<short> interleaved;
  ASSERT_TRUE(WAVFileReader::readFromFile(
      fileWith(riff(fmtChunk(2, 8000, 16, 6) +
                    chunk("data", samples16({1, -2, 99, 32767, -32768, 99})))),
      &interleaved, nullptr));
  EXPECT_EQ(interleaved, (std::vector<short>{1, -2, 32767, -32768}));
}

TEST_F(WAVFileReaderTest, SkipsOtherChunksAndLongFormatChunks) {
  std::string const fmt18 = chunk("fmt ", fmtChunk(1, 16000, 16).substr(8) + "\0\0"s);
  std::string const odd_unpadded = chunk("junk", "abc");
  std::string const list = "LIST"s + le32(8) + "INFOabcd";
  WAVFileReader reader;
  ASSERT_TRUE(reader.openFile(
      fileWith(riff(list + fmt18 + odd_unpadded + chunk("data", samples16({5, 6, 7})) + list))));
  EXPECT_EQ(reader.getSamplingRate(), 16000);
  EXPECT_EQ(reader.getDataSizeInSamples(), 3u);
  short out[3] = {};
  ASSERT_TRUE(reader.readFrames(3, out));
  EXPECT_EQ(out[2], 7);
  EXPECT_FALSE(reader.eof());
  EXPECT_FALSE(reader.readFrames(1, out));
  EXPECT_TRUE(reader.eof()) << "the LIST after the data is not data";
  reader.restart();
  EXPECT_FALSE(reader.eof());
  ASSERT_TRUE(reader.readFrames(1, out));
  EXPECT_EQ(out[0], 5);
}

TEST_F(WAVFileReaderTest, RefusesBrokenHeadersWithTheirLogLines) {
  std::string const data = chunk("data", samples16({1, 2}));
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
      {riff(fmtChunk(0, 8000, 16) + data), "header_->num_channels > 0"},
      {riff(fmtChunk(1, 0, 16) + data), "header_->sampling_rate > 0"},
      {riff(fmtChunk(1, 0x80000000, 16) + data), "Sampling rate 2147483648 not supported."},
      {riff(chunk("junk", "", 0xFFFFFFF0) + fmtChunk(1, 8000, 16) + data),
       "riff::readChunkHeader(f_, &chunk)"},
      {riff("LIST"s + le32(0) + "INFO" + fmtChunk(1, 8000, 16) + data),
       "riff::readChunkHeader(f_, &chunk)"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.log);
    log_.clear();
    std::string const path = fileWith(c.bytes);
    WAVFileReader reader;
    EXPECT_FALSE(reader.openFile(path));
    EXPECT_EQ(readerLog(), (std::vector<std::string>{c.log, "Can't read WAV file " + path}));
    short out[2];
    EXPECT_FALSE(reader.readFrames(1, out)) << "no file stays open";
  }
  EXPECT_FALSE(WAVFileReader().openFile(dir_.file("missing.wav")));
}

TEST_F(WAVFileReaderTest, UnsupportedSampleLayoutsOpenButNeverConvert) {
  struct Case {
    std::string fmt;
    std::string log;
  } const cases[] = {
      {fmtChunk(1, 8000, 24), "24 bits per sample not supported."},
      {fmtChunk(2, 8000, 32), "32 bits per sample not supported."},
      {fmtChunk(2, 8000, 16, 0), "A block alignment of 0 bytes cannot hold 2 channels of 16 bits."},
      {fmtChunk(4, 8000, 8, 3), "A block alignment of 3 bytes cannot hold 4 channels of 8 bits."},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.log);
    std::string const path = fileWith(riff(c.fmt + chunk("data", std::string(96, '\x11'))));
    WAVFileReader reader;
    ASSERT_TRUE(reader.openFile(path));
    log_.clear();
    short out[64];
    EXPECT_FALSE(reader.readFrames(4, out));
    EXPECT_EQ(readerLog(), std::vector<std::string>{c.log});
    Channels channels;
    EXPECT_FALSE(WAVFileReader::readFromFile(path, &channels, nullptr));
  }
}

TEST_F(WAVFileReaderTest, DataSizeIsBoundedByTheRealFile) {
  // A header written before the recording ended, or a hostile one: 4 GiB of
  // data claimed, 5 frames present (the last one cut short).
  std::string const path = fileWith(riff(fmtChunk(2, 8000, 16) + chunk("data", "", 0xFFFFFFFF)) +
                                    samples16({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  WAVFileReader reader;
  ASSERT_TRUE(reader.openFile(path));
  EXPECT_EQ(reader.getDataSize(), 22u);
  std::vector<short> all;
  ASSERT_TRUE(WAVFileReader::readFromFile(path, &all, nullptr));
  EXPECT_EQ(all, (std::vector<short>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

  // Asking for more frames than the file holds fails like a short read, and
  // the next call reports the end.
  std::vector<short> out(2 * 1000);
  EXPECT_FALSE(reader.readFrames(1000, out.data()));
  EXPECT_FALSE(reader.readFrames(1, out.data()));
  EXPECT_TRUE(reader.eof());

  // A 65535-channel header in a tiny file allocates nothing it claims.
  Channels channels;
  EXPECT_TRUE(WAVFileReader::readFromFile(
      fileWith(riff(fmtChunk(65535, 8000, 8) + chunk("data", "", 0x7FFFFFFF) + "xy")), &channels,
      nullptr));
  EXPECT_EQ(channels.size(), 65535u);
  EXPECT_TRUE(channels[0].empty());
}

// Every prefix of a valid file, and many corrupted copies of it, either fail
// cleanly or read a prefix of its samples.
TEST_F(WAVFileReaderTest, SurvivesTruncationAndCorruption) {
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

  std::mt19937 random(12345);
  for (int round = 0; round < 500; ++round) {
    std::string bytes = valid;
    for (int i = 0; i < 3; ++i) bytes[random() % bytes.size()] = char(random());
    std::vector<short> read;
    WAVFileReader::readFromFile(fileWith(bytes), &read, nullptr);  // must not crash
  }
}

}  // namespace
}  // namespace dravo::media
