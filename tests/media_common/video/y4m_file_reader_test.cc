#include "media_common/video/y4m_file_reader.h"

#include <gtest/gtest.h>

#include "common/file.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

std::string frameBytes(int width, int height, int seed) {
  return avi_testing::packedI420(*avi_testing::makeFrame(width, height, seed));
}

struct ReadResult {
  bool opened = false;
  std::vector<std::string> frames;  // packed I420 bytes
  Duration first_duration;
  bool eof = false;
};

// Reads Y4M files written into a temporary folder.
class Y4MFileReaderTest : public ::testing::Test {
 protected:
  ReadResult readAll(std::string const& contents) {
    EXPECT_TRUE(File::writeStringToFile(path_, contents));
    ReadResult result;
    Y4MFileReader reader;
    result.opened = reader.openFile(path_);
    Duration duration;
    // Bounded: a reader that never ends is a failure, not a hang.
    for (int i = 0; i < 16; ++i) {
      auto frame = reader.readFrame(&duration);
      if (!frame) break;
      result.frames.push_back(avi_testing::packedI420(*frame));
      if (i == 0) result.first_duration = duration;
    }
    EXPECT_EQ(reader.getFrameIndex(), static_cast<int>(result.frames.size()));
    result.eof = reader.getEof();
    return result;
  }

  testing::ScopedTempDir dir_;
  std::string const path_ = dir_.file("clip.y4m");
};

// Frame parameters and unknown header tokens are skipped; missing or
// unusable rates leave 30 frames per second.
TEST_F(Y4MFileReaderTest, ReadsSizesRatesAndFrameParameters) {
  std::vector<std::string> const frames = {frameBytes(5, 3, 1), frameBytes(5, 3, 2)};
  for (auto const& [header, duration] :
       {std::pair{"YUV4MPEG2 W5 H3", Duration::fromSec(1.0 / 30.0f)},
        {"YUV4MPEG2 W5 H3 F25:1 It A16:11 C420jpeg XYSCSS=420JPEG", Duration::fromMSec(40)},
        {"YUV4MPEG2 W5 H3 F1:99999999999999999999", Duration::fromSec(1.0 / 30.0f)}}) {
    SCOPED_TRACE(header);
    ReadResult result =
        readAll(std::string(header) + "\nFRAME\n" + frames[0] + "FRAME Ixyz\n" + frames[1]);
    EXPECT_EQ(result.frames, frames);
    EXPECT_EQ(result.first_duration, duration);
    EXPECT_TRUE(result.eof);
  }
}

// Hostile and damaged files are refused at open or end with the
// invalid-frame line, never reading or allocating beyond the file; every
// prefix of a valid file (from empty to whole) returns the frames whose
// data began (a cut one zero-filled) and ends only at a frame boundary.
TEST_F(Y4MFileReaderTest, HostileAndTruncatedFilesAreRefusedOrEndSafely) {
  std::string const good = frameBytes(4, 2, 3);
  struct Case {
    char const* name;
    std::string contents;
    bool opens;
    size_t frames;
    bool eof;
  } const cases[] = {
      {"magic as a prefix", "YUV4MPEG2X W4 H2\n", false, 0, false},
      {"no height", "YUV4MPEG2 W4\nFRAME\n" + good, false, 0, false},
      {"width beyond 32 bits", "YUV4MPEG2 W99999999999 H2\n", false, 0, false},
      {"over-long header", "YUV4MPEG2 W4 H2 X" + std::string(200, 'x') + "\n", false, 0, false},
      {"header without newline", "YUV4MPEG2 W4 H2", true, 0, true},
      {"over-long frame line", "YUV4MPEG2 W4 H2\nFRAME " + std::string(200, 'x') + "\n" + good,
       true, 0, false},
      {"junk after a frame", "YUV4MPEG2 W4 H2\nFRAME\n" + good + "junk\n", true, 1, false},
      {"size larger than the file", "YUV4MPEG2 W60000 H60000\nFRAME\n" + good, true, 0, false},
      {"zero size", "YUV4MPEG2 W0 H0\nFRAME\n", true, 0, false},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    testing::LogCapture log("y4m_file_reader:2");
    ReadResult result = readAll(c.contents);
    EXPECT_EQ(result.opened, c.opens);
    EXPECT_EQ(result.frames.size(), c.frames);
    EXPECT_EQ(result.eof, c.eof);
    if (!c.opens) {
      EXPECT_TRUE(log.contains("Can't read Y4M file " + path_));
    } else if (!c.eof) {
      EXPECT_TRUE(log.contains("Frame " + std::to_string(c.frames) + " invalid at " + path_ + ":"));
    }
  }

  std::string const header = "YUV4MPEG2 W5 H3 F25:1 Ip A1:1\n";
  std::string whole = header;
  for (int i = 0; i < 3; ++i) whole += "FRAME\n" + frameBytes(5, 3, i);
  size_t const stride = 6 + 27;
  testing::LogCapture quiet;
  for (size_t length = 0; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    ReadResult result = readAll(whole.substr(0, length));
    if (length < header.size()) {
      // A cut header may still name a size; it never yields picture data.
      EXPECT_TRUE(result.frames.empty());
      continue;
    }
    ASSERT_TRUE(result.opened);
    size_t const body = length - header.size();
    size_t const started = (body + stride - 7) / stride;  // frames with >= 1 data byte
    ASSERT_EQ(result.frames.size(), started);
    for (size_t k = 0; k < started; ++k) {
      size_t const have = std::min<size_t>(27, body - k * stride - 6);
      EXPECT_EQ(result.frames[k], frameBytes(5, 3, static_cast<int>(k)).substr(0, have) +
                                      std::string(27 - have, '\0'));
    }
    EXPECT_EQ(result.eof, body % stride == 0 || body % stride > 6);
  }
}

// Interlaced with a pixel aspect: read to the byte at the header's rate.
TEST_F(Y4MFileReaderTest, ReadsFfmpegFilesByteExact) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  testing::commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=35x21:rate=30000/1001 -frames:v 4 "
      "-vf setfield=tff,setsar=16/11 -pix_fmt yuv420p -f yuv4mpegpipe -y '" +
      path_ + "'");
  std::string contents;
  ASSERT_TRUE(File::readFileToStringIfExists(path_, &contents, 1 << 20));
  EXPECT_NE(contents.substr(0, contents.find('\n')).find(" F30000:1001 It A16:11 "),
            std::string::npos);
  std::vector<std::string> const expected = testing::ffmpegI420Frames(path_, 35, 21);
  ReadResult result = readAll(contents);
  EXPECT_EQ(result.frames, expected);
  EXPECT_EQ(result.first_duration, Duration::fromSec(1.0 / static_cast<float>(30000.0 / 1001.0)));
  EXPECT_TRUE(result.eof);
}

// 4:2:2, 4:4:4 and mono files from ffmpeg come out as I420 with every
// frame: luma as stored, chroma close to ffmpeg's own
// conversion (smooth picture, so any fair downsampling agrees), mono
// chroma neutral. Deeper or unknown colour spaces are refused by name.
TEST_F(Y4MFileReaderTest, ConvertsFfmpegChromaLayoutsAndRefusesOthersByName) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  int const width = 35, height = 21;
  size_t const luma = width * height, chroma = 18 * 11;
  for (char const* pixel_format : {"yuv422p", "yuv444p", "gray"}) {
    SCOPED_TRACE(pixel_format);
    testing::commandOutput(
        "ffmpeg -v error -f lavfi -i gradients=size=35x21:rate=25 -frames:v 3 -pix_fmt " +
        std::string(pixel_format) + " -f yuv4mpegpipe -y '" + path_ + "'");
    bool const mono = std::string(pixel_format) == "gray";
    std::string contents;
    ASSERT_TRUE(File::readFileToStringIfExists(path_, &contents, 1 << 20));
    std::vector<std::string> const expected = testing::ffmpegI420Frames(path_, width, height);
    ReadResult result = readAll(contents);
    ASSERT_EQ(result.frames.size(), 3u);
    EXPECT_TRUE(result.eof);
    // Each stored frame: "FRAME\n", then the luma plane first.
    size_t const stored = (contents.size() - contents.find('\n') - 1) / 3;
    for (size_t i = 0; i < 3; ++i) {
      std::string const& frame = result.frames[i];
      EXPECT_EQ(frame.substr(0, luma),
                contents.substr(contents.find('\n') + 1 + i * stored + 6, luma));
      if (mono) {
        EXPECT_EQ(frame.substr(luma), std::string(2 * chroma, '\x80'));
        continue;
      }
      long difference = 0;
      for (size_t k = luma; k < frame.size(); ++k)
        difference += std::abs(int(uint8_t(frame[k])) - int(uint8_t(expected[i][k])));
      EXPECT_LT(difference, long(2 * chroma) * 4) << "mean chroma difference of 4 or more";
    }
  }

  for (auto [pixel_format, token] : {std::pair{"yuv420p10le", "C420p10"},
                                     {"yuv422p12le", "C422p12"},
                                     {"yuva444p", "C444alpha"}}) {
    SCOPED_TRACE(pixel_format);
    testing::commandOutput("ffmpeg -v error -f lavfi -i testsrc=size=8x8 -frames:v 1 -pix_fmt " +
                           std::string(pixel_format) + " -strict -1 -f yuv4mpegpipe -y '" + path_ +
                           "'");
    testing::LogCapture log("y4m_file_reader:2");
    Y4MFileReader reader;
    EXPECT_FALSE(reader.openFile(path_));
    EXPECT_TRUE(
        log.contains("Unsupported Y4M colour space " + std::string(token) + " in " + path_));
    EXPECT_TRUE(log.contains("Can't read Y4M file " + path_));
    EXPECT_EQ(reader.openError(), "unsupported Y4M colour space '" + std::string(token) + "'");
  }
}

}  // namespace
}  // namespace dravo::media
