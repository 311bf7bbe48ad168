// WAV files written by the command-line tools that play and convert them.

#include <gtest/gtest.h>

#include <cstring>

#include "media_common/audio/wav_file_reader.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

std::vector<short> fromS16le(std::string const& raw) {
  std::vector<short> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  return samples;
}

// Files from the tools, with odd 8-bit data chunks and ffmpeg's INFO list,
// read by us. Our own headers are checked byte for byte by the writer tests.
TEST(WAVInteropTest, WeReadWhatSoxAndFfmpegWrite) {
  SKIP_WITHOUT_TOOL("sox");
  SKIP_WITHOUT_TOOL("ffmpeg");
  testing::ScopedTempDir dir;
  std::string const from_sox = dir.file("sox.wav"), from_ffmpeg = dir.file("ffmpeg.wav");
  testing::commandOutput("sox -V1 -r 8000 -n -c 2 -b 8 -e unsigned-integer " + from_sox +
                         " synth 801s sine 440 sine 1000");
  testing::commandOutput(
      "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=11025:duration=0.1 "
      "-ac 2 -c:a pcm_s16le " +
      from_ffmpeg);
  // The tools' own decoding to 16 bits is the reference.
  struct Case {
    std::string path, raw;
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
    std::vector<short> read;
    WAVHeader header;
    ASSERT_TRUE(WAVFileReader::readFromFile(c.path, &read, &header));
    EXPECT_EQ(read, fromS16le(c.raw));
    EXPECT_EQ(read.size(), c.count);
    EXPECT_TRUE(header.num_channels == 2 && header.sampling_rate == c.rate &&
                header.bits_per_sample == c.bits);
  }
}

}  // namespace
}  // namespace dravo::media
