// WAV files: the reader on hand-made, broken and outside tools' files, the
// writer's exact header and part files.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "media_common/audio/wav_file_reader.h"
#include "media_common/audio/wav_file_writer.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using namespace std::string_literals;

std::string le16(uint32_t v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// A chunk whose size field is `declared` (by default the payload's size).
std::string chunk(std::string const& id, std::string const& payload, int64_t declared = -1) {
  return id + le32(declared < 0 ? uint32_t(payload.size()) : uint32_t(declared)) + payload;
}

std::string fmtChunk(uint32_t channels, uint32_t rate, uint32_t bits, int64_t block_align = -1) {
  if (block_align < 0) block_align = channels * bits / 8;
  return chunk("fmt ", le16(1) + le16(channels) + le32(rate) + le32(uint32_t(rate * block_align)) +
                           le16(uint32_t(block_align)) + le16(bits));
}

std::string riff(std::string const& body) { return chunk("RIFF", "WAVE" + body); }

std::string samples16(std::vector<short> const& samples) {
  std::string bytes;
  for (short s : samples) bytes += le16(uint16_t(s));
  return bytes;
}

// A temporary folder and the log lines of the reader and writer.
class WAVTest : public ::testing::Test {
 protected:
  std::string fileWith(std::string const& bytes) {
    EXPECT_TRUE(File::writeStringToFile(dir_.file("in.wav"), bytes));
    return dir_.file("in.wav");
  }
  // The interleaved samples of a file; `format` gets "channels@rate".
  std::vector<short> samplesOf(std::string const& path, std::string* format = nullptr) {
    std::vector<short> samples;
    WAVHeader header;
    EXPECT_TRUE(WAVFileReader::readFromFile(path, &samples, &header)) << path;
    if (format)
      *format = std::to_string(header.num_channels) + "@" + std::to_string(header.sampling_rate);
    return samples;
  }

  testing::ScopedTempDir dir_;
  testing::LogCapture log_{"wav_file_reader:5,wav_file_writer:5,riff:5,check:1"};
};

// One row per refusal: headers that cannot be read, and layouts that open
// but never convert.
TEST_F(WAVTest, ReaderRefusesBrokenHeadersAndUnsupportedLayoutsWithTheirLogLines) {
  std::string const data = chunk("data", samples16({1, 2, 3, 4, 5, 6}));
  std::pair<std::string, std::string> const cases[] = {
      {"RIFX"s + le32(4) + "WAVE" + fmtChunk(1, 8000, 16) + data,
       "riff::readList(f_, \"RIFF\", &total_size, fourcc)"},
      {chunk("RIFF", "AVI " + fmtChunk(1, 8000, 16) + data), "0 == strcmp(fourcc, \"WAVE\")"},
      {riff(chunk("junk", "", 0xFFFFFFF0) + fmtChunk(1, 8000, 16) + data),
       "riff::readChunkHeader(f_, &chunk)"},
      {riff(chunk("fmt ", "\1\0\1\0"s, 16)),
       "f_->read(header_.get(), sizeof(WAVHeader)) == sizeof(WAVHeader)"},
      {riff(data + fmtChunk(1, 8000, 16)), "header_->num_channels > 0"},
      {riff(fmtChunk(1, 0, 16) + data), "header_->sampling_rate > 0"},
      {riff(fmtChunk(1, 0x80000000, 16) + data), "Sampling rate 2147483648 not supported."},
      {riff(fmtChunk(1, 8000, 24) + data), "24 bits per sample not supported."},
      {riff(fmtChunk(2, 8000, 16, 0) + data),
       "A block alignment of 0 bytes cannot hold 2 channels of 16 bits."},
  };
  for (auto const& [bytes, line] : cases) {
    log_.clear();
    std::vector<std::vector<short>> channels;
    EXPECT_FALSE(WAVFileReader::readFromFile(fileWith(bytes), &channels, nullptr)) << line;
    EXPECT_TRUE(log_.contains(line)) << line;
  }
}

TEST_F(WAVTest, ReaderSkipsOtherChunksAndFramePaddingAndBoundsTheDataByTheRealFile) {
  // A long format chunk with 2 x 16 bits in 6-byte frames, chunks around the
  // data, and a data size (4 GiB) that the file does not hold.
  std::string const fmt18 = chunk("fmt ", fmtChunk(2, 16000, 16, 6).substr(8) + "\0\0"s);
  WAVFileReader reader;
  ASSERT_TRUE(reader.openFile(fileWith(riff(chunk("LIST", "INFOabcd") + fmt18 +
                                            chunk("junk", "abc") + chunk("data", "", 0xFFFFFFFF)) +
                                       samples16({1, -2, 99, 32767, -32768, 99, 5, 6}))));
  EXPECT_EQ(reader.getDataSize(), 16u);
  short out[4] = {};
  ASSERT_TRUE(reader.readFrames(2, out));
  EXPECT_EQ((std::vector<short>(out, out + 4)), (std::vector<short>{1, -2, 32767, -32768}));
  EXPECT_FALSE(reader.readFrames(1, out) || reader.readFrames(1, out)) << "the last is cut short";
  EXPECT_TRUE(reader.eof());

  // 8-bit samples are unsigned around 128.
  EXPECT_EQ(samplesOf(fileWith(riff(fmtChunk(1, 8000, 8) + chunk("data", "\x80\xFF\x00\x01"s)))),
            (std::vector<short>{0, 127 * 256, -128 * 256, -127 * 256}));
  // A 65535-channel header in a tiny file allocates nothing it claims.
  std::vector<std::vector<short>> channels;
  EXPECT_TRUE(WAVFileReader::readFromFile(
      fileWith(riff(fmtChunk(65535, 8000, 8) + chunk("data", "", 0x7FFFFFFF) + "xy")), &channels,
      nullptr));
  EXPECT_TRUE(channels.size() == 65535u && channels[0].empty());
}

// Every prefix of a valid file either fails cleanly or reads a prefix of its
// samples (the WAV fuzzer covers corrupted files).
TEST_F(WAVTest, ReaderSurvivesTruncation) {
  std::vector<short> const samples = {100, -100, 200, -200, 300, -300, 400, -400};
  std::string const valid =
      riff(chunk("LIST", "INFOabcd") + fmtChunk(2, 8000, 16) + chunk("data", samples16(samples)));
  for (size_t length = 0; length <= valid.size(); ++length) {
    std::vector<short> read;
    bool const opened =
        WAVFileReader::readFromFile(fileWith(valid.substr(0, length)), &read, nullptr);
    EXPECT_TRUE(!opened || (read.size() <= samples.size() &&
                            std::equal(read.begin(), read.end(), samples.begin())))
        << length;
  }
}

// Files from the tools, with odd 8-bit data chunks and ffmpeg's INFO list;
// the tools' own decoding to 16 bits is the reference.
TEST_F(WAVTest, ReaderReadsWhatSoxAndFfmpegWrite) {
  SKIP_WITHOUT_TOOL("sox");
  SKIP_WITHOUT_TOOL("ffmpeg");
  std::string const sox = dir_.file("sox.wav"), ffmpeg = dir_.file("ffmpeg.wav");
  testing::commandOutput("sox -V1 -r 8000 -n -c 2 -b 8 -e unsigned-integer " + sox +
                         " synth 801s sine 440 sine 1000");
  testing::commandOutput(
      "ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=11025:duration=0.1 -ac 2 "
      "-c:a pcm_s16le " +
      ffmpeg);
  for (auto [path, decode, format] :
       {std::tuple{sox, "sox " + sox + " -t raw -e signed -b 16 -", "2@8000"},
        std::tuple{ffmpeg, "ffmpeg -v error -i " + ffmpeg + " -f s16le -", "2@11025"}}) {
    std::string const reference = testing::commandOutput(decode);
    std::vector<short> expected(reference.size() / 2);
    std::memcpy(expected.data(), reference.data(), expected.size() * 2);
    std::string read_format;
    EXPECT_EQ(samplesOf(path, &read_format), expected) << path;
    EXPECT_TRUE(read_format == format && expected.size() > 1000) << read_format;
  }
}

TEST_F(WAVTest, WriterWritesTheExactHeader) {
  ASSERT_TRUE(
      WAVFileWriter::writeToFile(dir_.file("s.wav"), std::vector<short>(2 * 8000, 7), 2, 8000));
  std::string bytes;
  ASSERT_TRUE(File::readFileToStringIfExists(dir_.file("s.wav"), &bytes));
  ASSERT_EQ(bytes.size(), 44u + 32000u);
  // RIFF size, then PCM, 2 channels, 8000 Hz, byte rate (at 28), block
  // alignment (at 32), 16 bits, and the data size.
  EXPECT_EQ(bytes.substr(0, 44), "RIFF" + le32(32036) + "WAVEfmt " + le32(16) + le16(1) + le16(2) +
                                     le32(8000) + le32(32000) + le16(4) + le16(16) + "data" +
                                     le32(32000));
  // And sox reads it as written.
  SKIP_WITHOUT_TOOL("sox");
  std::string const wav = dir_.file("s.wav");
  EXPECT_EQ(
      testing::commandOutput("sox --i -c " + wav) + testing::commandOutput("sox --i -r " + wav),
      "2\n8000\n");
  EXPECT_EQ(testing::commandOutput("sox " + wav + " -t raw -"), bytes.substr(44));
}

TEST_F(WAVTest, WriterContinuesFormatChangesInPartFilesAndTruncatesNothing) {
  short const a[] = {1, 2, 3, 4};
  WAVFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("rec")));  // no ".wav": parts append "_partN"
  writer.writeSamples(a, 1, 8000, 4);              // reopens rec.wav as mono
  writer.writeSamples(a + 2, 1, 8000, 4);
  writer.writeSamples(a, 2, 16000, 4);
  writer.close();
  std::string format;
  EXPECT_EQ(samplesOf(dir_.file("rec"), &format), (std::vector<short>{1, 2, 3, 4}));
  EXPECT_EQ(format, "1@8000");
  EXPECT_EQ(samplesOf(dir_.file("rec_part1"), &format).size(), 2u);
  EXPECT_EQ(format, "2@16000");
  // Channels are interleaved frame by frame; ragged ones are refused.
  ASSERT_TRUE(WAVFileWriter::writeToFile(dir_.file("i.wav"), {{1, 2, 3}, {4, 5, 6}}, 8000));
  EXPECT_EQ(samplesOf(dir_.file("i.wav")), (std::vector<short>{1, 4, 2, 5, 3, 6}));
  EXPECT_FALSE(WAVFileWriter::writeToFile(dir_.file("r.wav"), {{1, 2}, {3}}, 8000));
}

// Exposes the byte count so that tests reach the size limits without writing
// gigabytes.
class PretendLargeWriter : public WAVFileWriter {
 public:
  void pretendWritten(uint64_t bytes) { data_bytes_ = bytes; }
};

TEST_F(WAVTest, WriterSplitsAtOneGiBAndSaturatesSizesPastFour) {
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
  EXPECT_EQ(header.substr(4, 4) + header.substr(40, 4), le32(0xFFFFFFFF) + le32(0xFFFFFFFF));
}

TEST_F(WAVTest, WriterLogsUncreatableFilesAndDropsSamplesWithoutInventingParts) {
  WAVFileWriter writer;
  short const a[] = {1, 2};
  EXPECT_FALSE(writer.openFile(dir_.file("missing/dir/x.wav")));
  writer.writeSamples(a, 2, 44000, 4);
  EXPECT_TRUE(log_.contains("Could not create file " + dir_.file("missing/dir/x.wav")));
  EXPECT_FALSE(writer.openFile(""));  // an empty name never invents a part file
  writer.writeSamples(a, 1, 8000, 4);
  EXPECT_FALSE(File::exists("_part1"));
}

}  // namespace
}  // namespace dravo::media
