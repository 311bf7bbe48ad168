// Our WAV files against the command-line tools that play and convert them,
// both ways.

#include <gtest/gtest.h>

#include <cstring>

#include "media_common/audio/wav_file_reader.h"
#include "media_common/audio/wav_file_writer.h"
#include "tests/media_common/audio/wav_bytes.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using testing::runCommand;

std::vector<short> testSignal(size_t count) {
  std::vector<short> samples(count);
  uint32_t state = 1;
  for (auto& s : samples) s = short((state = state * 1103515245 + 12345) >> 16);
  if (count >= 2) samples[0] = -32768, samples[1] = 32767;
  return samples;
}

std::vector<short> fromS16le(std::string const& raw) {
  std::vector<short> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  return samples;
}

TEST(WAVInteropTest, SoxAndFfmpegReadOurFilesIncludingPartFiles) {
  SKIP_WITHOUT_TOOL("sox");
  SKIP_WITHOUT_TOOL("ffmpeg");
  testing::ScopedTempDir dir;
  // A recording split by a format change: every part is a valid file.
  WAVFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir.file("rec.wav")));
  auto const samples = testSignal(1001 * 2);
  writer.writeSamples(samples.data(), 1, 8000, 1200);
  writer.writeSamples(samples.data(), 2, 44100, 1001 * 4);
  writer.close();
  std::string const part = dir.file("rec_part1.wav");
  EXPECT_EQ(testing::commandOutput("sox " + dir.file("rec.wav") + " -t raw -"),
            wav_bytes::samples16({samples.begin(), samples.begin() + 600}));
  EXPECT_EQ(testing::commandOutput("sox --i -c " + part), "2\n");
  EXPECT_EQ(testing::commandOutput("sox --i -r " + part), "44100\n");
  EXPECT_EQ(testing::commandOutput("ffmpeg -v error -i " + part + " -f s16le -"),
            wav_bytes::samples16(samples));
}

TEST(WAVInteropTest, WeReadWhatSoxAndFfmpegWrite) {
  SKIP_WITHOUT_TOOL("sox");
  SKIP_WITHOUT_TOOL("ffmpeg");
  testing::ScopedTempDir dir;
  // Odd 8-bit frame counts give odd data chunks with a pad byte; ffmpeg adds
  // its INFO list.
  std::string const from_sox = dir.file("sox.wav");
  testing::commandOutput("sox -V1 -r 8000 -n -c 2 -b 8 -e unsigned-integer " + from_sox +
                         " synth 801s sine 440 sine 1000");
  std::string const from_ffmpeg = dir.file("ffmpeg.wav");
  testing::commandOutput(
      "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=11025:duration=0.1 "
      "-ac 2 -c:a pcm_s16le " +
      from_ffmpeg);
  // The tools' own decoding to 16 bits is the reference.
  struct Case {
    std::string path;
    std::string raw;
    int bits;
    unsigned rate;
    size_t count;
  } const cases[] = {
      {from_sox, testing::commandOutput("sox " + from_sox + " -t raw -e signed -b 16 -"), 8, 8000,
       2 * 801},
      {from_ffmpeg, testing::commandOutput("ffmpeg -v error -i " + from_ffmpeg + " -f s16le -"), 16,
       11025, 2 * 1103},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<short> samples;
    WAVHeader header;
    ASSERT_TRUE(WAVFileReader::readFromFile(c.path, &samples, &header));
    EXPECT_EQ(samples, fromS16le(c.raw));
    EXPECT_EQ(samples.size(), c.count);
    EXPECT_EQ(header.num_channels, 2);
    EXPECT_EQ(header.sampling_rate, c.rate);
    EXPECT_EQ(header.bits_per_sample, c.bits);
  }
}

}  // namespace
}  // namespace dravo::media
