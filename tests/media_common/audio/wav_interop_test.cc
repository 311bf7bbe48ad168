// Our WAV files against the command-line tools that play and convert them,
// both ways.

#include <gtest/gtest.h>

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

std::vector<short> fromBytes(std::string const& raw, int bits) {
  std::vector<short> samples;
  if (bits == 8) {
    for (unsigned char b : raw) samples.push_back(short((b - 128) * 256));
  } else {
    for (size_t i = 0; i + 1 < raw.size(); i += 2)
      samples.push_back(short(uint8_t(raw[i]) | uint8_t(raw[i + 1]) << 8));
  }
  return samples;
}

TEST(WAVInteropTest, SoxAndFfprobeReadOurFiles) {
  SKIP_WITHOUT_TOOL("sox");
  SKIP_WITHOUT_TOOL("ffprobe");
  testing::ScopedTempDir dir;
  struct Case {
    int channels, rate, frames;
  } const cases[] = {{1, 8000, 801}, {2, 44100, 1001}, {2, 16000, 0}};
  for (auto const& c : cases) {
    std::string const path = dir.file("ours" + std::to_string(c.channels) + ".wav");
    SCOPED_TRACE(path);
    auto const samples = testSignal(size_t(c.channels) * c.frames);
    ASSERT_TRUE(WAVFileWriter::writeToFile(path, samples, c.channels, c.rate));
    EXPECT_EQ(testing::commandOutput("sox --i -c " + path), std::to_string(c.channels) + "\n");
    EXPECT_EQ(testing::commandOutput("sox --i -r " + path), std::to_string(c.rate) + "\n");
    EXPECT_EQ(testing::commandOutput("sox --i -s " + path), std::to_string(c.frames) + "\n");
    EXPECT_EQ(testing::commandOutput("sox --i -b " + path), "16\n");
    EXPECT_EQ(testing::commandOutput("sox " + path + " -t raw -"), wav_bytes::samples16(samples));
    EXPECT_EQ(testing::commandOutput(
                  "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,"
                  "duration_ts -of default=nw=1 " +
                  path),
              "codec_name=pcm_s16le\nsample_rate=" + std::to_string(c.rate) +
                  "\nchannels=" + std::to_string(c.channels) +
                  "\nduration_ts=" + (c.frames ? std::to_string(c.frames) : "N/A") + "\n");
  }

  // A recording split by a format change: every part is a valid file.
  WAVFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir.file("rec.wav")));
  auto const samples = testSignal(600);
  writer.writeSamples(samples.data(), 1, 8000, 1200);
  writer.writeSamples(samples.data(), 2, 22050, 1200);
  writer.close();
  EXPECT_EQ(testing::commandOutput("sox " + dir.file("rec.wav") + " -t raw -"),
            wav_bytes::samples16(samples));
  EXPECT_EQ(testing::commandOutput("sox --i -s -r -c " + dir.file("rec_part1.wav")), "2\n");
  EXPECT_EQ(testing::commandOutput("sox --i -r " + dir.file("rec_part1.wav")), "22050\n");
  EXPECT_EQ(testing::commandOutput("sox --i -s " + dir.file("rec_part1.wav")), "300\n");
}

TEST(WAVInteropTest, WeReadWhatSoxWrites) {
  SKIP_WITHOUT_TOOL("sox");
  testing::ScopedTempDir dir;
  struct Case {
    int bits;
    char const* encoding;
    int channels;
    int frames;  // odd counts give odd 8-bit data chunks with a pad byte
  } const cases[] = {{8, "unsigned-integer", 1, 11},
                     {8, "unsigned-integer", 2, 801},
                     {16, "signed-integer", 1, 801},
                     {16, "signed-integer", 2, 11},
                     {8, "unsigned-integer", 1, 1601}};
  for (auto const& c : cases) {
    std::string const path =
        dir.file("sox" + std::to_string(c.bits) + "_" + std::to_string(c.channels) + "_" +
                 std::to_string(c.frames) + ".wav");
    SCOPED_TRACE(path);
    testing::commandOutput("sox -V1 -r 8000 -n -c " + std::to_string(c.channels) + " -b " +
                           std::to_string(c.bits) + " -e " + c.encoding + " " + path + " synth " +
                           std::to_string(c.frames) + "s sine 440" +
                           (c.channels == 2 ? " sine 1000" : ""));
    auto const expected = fromBytes(testing::commandOutput("sox " + path + " -t raw -"), c.bits);
    ASSERT_EQ(expected.size(), size_t(c.channels) * c.frames);

    std::vector<short> samples;
    WAVHeader header;
    ASSERT_TRUE(WAVFileReader::readFromFile(path, &samples, &header));
    EXPECT_EQ(samples, expected);
    EXPECT_EQ(header.num_channels, c.channels);
    EXPECT_EQ(header.sampling_rate, 8000u);
    EXPECT_EQ(header.bits_per_sample, c.bits);
  }
}

TEST(WAVInteropTest, WeReadWhatFfmpegWritesWithItsInfoList) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  testing::ScopedTempDir dir;
  for (auto const& [codec, bits] : {std::pair{"pcm_s16le", 16}, std::pair{"pcm_u8", 8}}) {
    std::string const path = dir.file(std::string(codec) + ".wav");
    SCOPED_TRACE(path);
    testing::commandOutput(
        "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=11025:duration=0.1 "
        "-ac 2 -c:a " +
        std::string(codec) + " " + path);
    auto const raw = testing::commandOutput("ffmpeg -v error -i " + path + " -f " +
                                            (bits == 8 ? "u8" : "s16le") + " -");
    std::vector<short> samples;
    ASSERT_TRUE(WAVFileReader::readFromFile(path, &samples, nullptr));
    EXPECT_EQ(samples, fromBytes(raw, bits));
    EXPECT_EQ(samples.size(), 2u * 1103u);
  }
}

}  // namespace
}  // namespace dravo::media
