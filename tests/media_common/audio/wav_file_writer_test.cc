#include "media_common/audio/wav_file_writer.h"

#include <gtest/gtest.h>

#include "media_common/audio/interleave_wave.h"
#include "media_common/audio/wav_file_reader.h"
#include "tests/media_common/audio/wav_bytes.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

// Exposes the byte count so that tests reach the size limits without writing
// gigabytes.
class PretendLargeWriter : public WAVFileWriter {
 public:
  void pretendWritten(uint64_t bytes) { data_bytes_ = bytes; }
};

class WAVFileWriterTest : public ::testing::Test {
 protected:
  // A file's format as "channels@rate:samples".
  std::string formatOf(std::string const& name) const {
    WAVHeader header;
    std::vector<short> read;
    if (!WAVFileReader::readFromFile(dir_.file(name), &read, &header)) return "unreadable";
    return std::to_string(header.num_channels) + "@" + std::to_string(header.sampling_rate) + ":" +
           std::to_string(read.size());
  }

  testing::ScopedTempDir dir_;
  testing::LogCapture log_{"wav_file_writer:5,check:1"};
};

TEST_F(WAVFileWriterTest, OneSecondOfStereoHasTheExactHeader) {
  using namespace wav_bytes;
  std::vector<short> const second(2 * 8000, 7);
  ASSERT_TRUE(WAVFileWriter::writeToFile(dir_.file("s.wav"), second, 2, 8000));
  std::string bytes;
  ASSERT_TRUE(File::readFileToStringIfExists(dir_.file("s.wav"), &bytes));
  ASSERT_EQ(bytes.size(), 44u + 32000u);
  // RIFF size, then PCM, 2 channels, 8000 Hz, byte rate (at 28), block
  // alignment (at 32), 16 bits, and the data size.
  EXPECT_EQ(bytes.substr(0, 44), "RIFF" + le32(32036) + "WAVEfmt " + le32(16) + le16(1) + le16(2) +
                                     le32(8000) + le32(32000) + le16(4) + le16(16) + "data" +
                                     le32(32000));
}

TEST_F(WAVFileWriterTest, FormatChangesContinueInPartFilesAndNothingIsTruncated) {
  short const a[] = {1, 2, 3, 4};
  WAVFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("rec")));  // no ".wav": parts append "_partN"
  writer.writeSamples(a, 1, 8000, 4);              // reopens rec.wav as mono
  writer.writeSamples(a + 2, 1, 8000, 4);
  writer.writeSamples(a, 2, 8000, 8);
  writer.writeSamples(a, 2, 16000, 4);
  writer.close();
  EXPECT_EQ(formatOf("rec"), "1@8000:4");
  EXPECT_EQ(formatOf("rec_part1"), "2@8000:4");
  EXPECT_EQ(formatOf("rec_part2"), "2@16000:2");
  // Samples already in the provisional format stay where they are.
  ASSERT_TRUE(writer.openFile(dir_.file("keep.wav")));
  writer.writeSamples(a, 2, 44000, 8);
  writer.writeSamples(a, 1, 8000, 2);
  writer.close();
  EXPECT_EQ(formatOf("keep.wav"), "2@44000:4");
  EXPECT_EQ(formatOf("keep_part1.wav"), "1@8000:1");

  ASSERT_TRUE(WAVFileWriter::writeToFile(dir_.file("e.wav"), std::vector<short>(), 1, 16000));
  EXPECT_EQ(formatOf("e.wav"), "1@16000:0") << "the header has the real format";
  EXPECT_FALSE(WAVFileWriter::writeToFile(dir_.file("r.wav"), {{1, 2}, {3}}, 8000));
  EXPECT_FALSE(WAVFileWriter::writeToFile(dir_.file("z.wav"), {1, 2}, 0, 8000));
}

TEST_F(WAVFileWriterTest, SizeLimitsSplitAndWarn) {
  short const a[] = {1, 2};
  PretendLargeWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("big.wav")));
  writer.writeSamples(a, 2, 44000, 4);
  writer.pretendWritten((uint64_t{1} << 30) - 44);  // exactly 2^30: not beyond
  writer.writeSamples(a, 2, 44000, 4);
  EXPECT_FALSE(File::exists(dir_.file("big_part1.wav")));
  writer.writeSamples(a, 2, 44000, 4);
  EXPECT_TRUE(File::exists(dir_.file("big_part1.wav")));

  writer.pretendWritten(uint64_t{5} << 30);
  writer.close();
  EXPECT_EQ(log_.messages("wav_file_writer"),
            std::vector<std::string>{"WAV file > 2GB will probably be invalid."});
  std::string header;
  ASSERT_TRUE(File::readFileToStringIfExists(dir_.file("big_part1.wav"), &header));
  EXPECT_EQ(header.substr(4, 4), wav_bytes::le32(0xFFFFFFFF)) << "sizes past 4 GiB saturate";
  EXPECT_EQ(header.substr(40, 4), wav_bytes::le32(0xFFFFFFFF));
}

TEST_F(WAVFileWriterTest, UncreatableFilesAreLoggedAndSamplesDroppedWithoutInventingParts) {
  std::string const name = dir_.file("missing/dir/x.wav");
  WAVFileWriter writer;
  EXPECT_FALSE(writer.openFile(name));
  short const a[] = {1, 2};
  writer.writeSamples(a, 2, 44000, 4);
  writer.close();
  EXPECT_EQ(log_.messages("wav_file_writer"),
            std::vector<std::string>{"Could not create file " + name});
  EXPECT_FALSE(writer.openFile(""));  // an empty name never invents a part file
  writer.writeSamples(a, 1, 8000, 4);
  writer.writeSamples(a, 2, 8000, 4);
  EXPECT_FALSE(File::exists("_part1"));
}

TEST(InterleaveWaveTest, AppendsFrameByFrameAndRefusesRaggedChannels) {
  std::vector<short> out = {9};
  interleaveWave({{1, 2, 3}, {4, 5, 6}}, &out);
  EXPECT_EQ(out, (std::vector<short>{9, 1, 4, 2, 5, 3, 6}));
  testing::LogCapture checks("check:1");
  interleaveWave({{1, 2}, {3}}, &out);
  interleaveWave({}, &out);
  EXPECT_EQ(out.size(), 7u);
  EXPECT_EQ(checks.messages("check"),
            (std::vector<std::string>{"Check failed samples[0].size() == samples[i].size() ",
                                      "Check failed !samples.empty() "}));
}

}  // namespace
}  // namespace dravo::media
