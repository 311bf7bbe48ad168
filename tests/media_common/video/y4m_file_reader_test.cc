#include "media_common/video/y4m_file_reader.h"

#include <gtest/gtest.h>

#include "tests/media_common/video/avi_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

std::string frameBytes(int width, int height, int seed) {
  return avi_testing::packedI420(*avi_testing::makeFrame(width, height, seed));
}

// What reading a Y4M file gave.
struct ReadResult {
  bool opened = false;
  std::vector<std::string> frames;  // packed I420 bytes
  bool eof = false;
};

// Reads Y4M files written into a temporary folder.
class Y4MFileReaderTest : public avi_testing::AVITest {
 protected:
  ReadResult readAll(std::string const& contents) {
    Y4MFileReader reader;
    bool const opened = reader.openFile(write("clip.y4m", contents));
    auto frames = AVITest::readAll(reader);
    return {opened, frames, reader.getEof()};
  }

  std::string const path_ = dir_.file("clip.y4m");
};

// Frame parameters and unknown header tokens are skipped; missing or
// unusable rates leave 30 frames per second. Hostile and damaged files are
// refused at open or end with the invalid-frame line, never reading or allocating beyond the file;
// every prefix of a valid file (from empty to whole) returns the frames whose data began (a cut one
// zero-filled) and ends only at a frame boundary.
TEST_F(Y4MFileReaderTest, HostileAndTruncatedFilesAreRefusedOrEndSafely) {
  std::string const good = frameBytes(4, 2, 3);
  struct Case {
    char const* name;
    std::string contents;
    bool opens;
    size_t frames;
    bool eof;
    Duration duration = Duration();
  } const cases[] = {
      {"no rate", "YUV4MPEG2 W4 H2\nFRAME\n" + good, true, 1, true, Duration::fromSec(1.0 / 30.0f)},
      {"rate beyond 64 bits", "YUV4MPEG2 W4 H2 F1:99999999999999999999\nFRAME\n" + good, true, 1,
       true, Duration::fromSec(1.0 / 30.0f)},
      {"tokens and frame parameters",
       "YUV4MPEG2 W4 H2 F25:1 It A16:11 C420jpeg XYSCSS=420JPEG\nFRAME Ixyz\n" + good, true, 1,
       true, Duration::fromMSec(40)},
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
      {"deeper colour space", "YUV4MPEG2 W4 H2 C420p10\nFRAME\n" + good, false, 0, false},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    testing::LogCapture log("y4m_file_reader:2");
    ReadResult result = readAll(c.contents);
    EXPECT_EQ(result.opened, c.opens);
    EXPECT_EQ(result.frames.size(), c.frames);
    EXPECT_EQ(result.eof, c.eof);
    EXPECT_TRUE(c.frames == 0 || result.frames.at(0) == good);
    EXPECT_TRUE(c.duration == Duration() || last_duration_ == c.duration);
    if (!c.opens) {
      EXPECT_TRUE(log.contains("Can't read Y4M file " + path_));
      EXPECT_TRUE(c.name != std::string("deeper colour space") ||
                  log.contains("Unsupported Y4M colour space C420p10 in " + path_));
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

// ffmpeg's files, interlaced with a pixel aspect, at an NTSC rate: 4:2:0
// read to the byte; 4:2:2, 4:4:4 and mono come out as I420 with every
// frame, luma as stored, chroma close to ffmpeg's own conversion (a smooth
// picture, so any fair downsampling agrees), mono chroma neutral.
TEST_F(Y4MFileReaderTest, ReadsFfmpegChromaLayouts) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  size_t const luma = 35 * 21;
  for (std::string const format : {"yuv420p", "yuv422p", "yuv444p", "gray"}) {
    SCOPED_TRACE(format);
    testing::commandOutput(
        "ffmpeg -v error -f lavfi -i gradients=size=35x21:rate=30000/1001 -frames:v 3 "
        "-vf setfield=tff,setsar=16/11 -pix_fmt " +
        format + " -f yuv4mpegpipe -y '" + path_ + "'");
    std::string const contents = avi_testing::contentsOf(path_);
    size_t const body = contents.find('\n') + 1, stored = (contents.size() - body) / 3;
    std::vector<std::string> const expected = testing::ffmpegI420Frames(path_, 35, 21);
    ReadResult result = readAll(contents);
    ASSERT_EQ(result.frames.size(), 3u);
    EXPECT_TRUE(result.eof);
    EXPECT_EQ(last_duration_, Duration::fromSec(1.0 / static_cast<float>(30000.0 / 1001.0)));
    for (size_t i = 0; i < 3; ++i) {
      std::string const& frame = result.frames[i];
      EXPECT_EQ(frame.substr(0, luma), contents.substr(body + i * stored + 6, luma));
      long difference = 0;
      for (size_t k = luma; k < frame.size(); ++k)
        difference += std::abs(int(uint8_t(frame[k])) - int(uint8_t(expected[i][k])));
      bool const resampled = format == "yuv422p" || format == "yuv444p";
      EXPECT_LE(difference, resampled ? long(frame.size() - luma) * 4 : 0);
    }
  }
}

}  // namespace
}  // namespace dravo::media
