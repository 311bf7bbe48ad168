#include "media_common/video/avi_file_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using avi_testing::contentsOf;
using avi_testing::le32At;
using avi_testing::makeFrame;
using avi_testing::packedI420;
using avi_testing::putLe32;

// Reads AVI files written into a temporary folder.
class AVIFileReaderTest : public ::testing::Test {
 protected:
  // Frames read until the first null, at most 100.
  std::vector<std::shared_ptr<ImageBuffer>> readAll(AVIFileReader& reader) {
    std::vector<std::shared_ptr<ImageBuffer>> frames;
    Duration duration = Duration::fromSec(1);
    while (frames.size() < 100) {
      auto frame = reader.readFrame(&duration);
      if (!frame) break;
      frames.push_back(frame);
      last_duration_ = duration;
    }
    end_duration_ = duration;
    return frames;
  }
  std::string write(std::string const& name, std::string const& bytes) {
    EXPECT_TRUE(File::writeStringToFile(dir_.file(name), bytes));
    return dir_.file(name);
  }

  testing::ScopedTempDir dir_;
  Duration last_duration_;  // of the last frame readAll() returned
  Duration end_duration_;   // that came with the null
};

// QV1 frames are written and handed out as they are, not converted.
TEST_F(AVIFileReaderTest, ReadsWhatTheWriterWroteWithDurationsAndTimestamps) {
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("qv1.avi")));
  writer.writeFrame(image_testing::wrapEncoded({1, 2, 3}, ImageBuffer::IMAGE_QV1, 16, 16));
  writer.close();
  AVIFileReader qv1;
  ASSERT_TRUE(qv1.openFile(dir_.file("qv1.avi")));
  auto const encoded = readAll(qv1);
  ASSERT_EQ(encoded.size(), 1u);
  EXPECT_EQ(encoded[0]->format().pixel_format_, ImageBuffer::IMAGE_QV1);
  EXPECT_EQ(std::string(encoded[0]->data(), encoded[0]->data() + encoded[0]->size()), "\1\2\3");

  // 5x3 frames have an odd payload size, so every chunk is followed by a pad.
  ASSERT_TRUE(writer.openFile(dir_.file("clip.avi")));
  for (int i = 0; i < 4; ++i) writer.writeFrame(makeFrame(5, 3, i, 1000 + 40 * i));
  writer.close();
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(dir_.file("clip.avi")));
  auto const frames = readAll(reader);
  ASSERT_EQ(frames.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(packedI420(*frames[i]), packedI420(*makeFrame(5, 3, i)));
  EXPECT_EQ(last_duration_, Duration::fromSec(1.0 / 25));
  EXPECT_EQ(end_duration_, Duration());
  EXPECT_EQ(reader.getFrameIndex(), 4);
  EXPECT_EQ(reader.getTimestamps(),
            (std::vector<int64_t>{1000000000, 1040000000, 1080000000, 1120000000}));
}

// The main header's microseconds per frame give the rate; when they are 0
// the stream header's rate does.
TEST_F(AVIFileReaderTest, FrameRateFromMainHeaderElseStreamHeader) {
  avi_testing::writeClip(dir_.file("base.avi"), 4, 2, 2);
  std::string const base = contentsOf(dir_.file("base.avi"));
  struct Case {
    uint32_t usec_per_frame, rate;
    double fps;
  } const cases[] = {{40000, 12, 25}, {0, 12, 12}, {0, 7, 7}};
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.usec_per_frame << " us, rate " << c.rate);
    std::string bytes = base;
    putLe32(bytes, 32, c.usec_per_frame);
    putLe32(bytes, 108 + 24, c.rate);
    AVIFileReader reader;
    ASSERT_TRUE(reader.openFile(write("rate.avi", bytes)));
    EXPECT_EQ(readAll(reader).size(), 2u);
    EXPECT_EQ(last_duration_, Duration::fromSec(1.0 / c.fps));
  }
}

TEST_F(AVIFileReaderTest, FileListsPlayInOrderWithFrameLimits) {
  avi_testing::writeClip(dir_.file("a.avi"), 4, 2, 5);
  avi_testing::writeClip(dir_.file("b.avi"), 6, 4, 3);
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(dir_.file("a.avi") + ":2," + dir_.file("b.avi")));
  auto frames = readAll(reader);
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(packedI420(*frames[1]), packedI420(*makeFrame(4, 2, 1)));
  EXPECT_EQ(packedI420(*frames[4]), packedI420(*makeFrame(6, 4, 2)));

  // A limit beyond 32 bits is part of the file name.
  avi_testing::writeClip(dir_.file("odd.avi:99999999999"), 4, 2, 2);
  AVIFileReader whole;
  ASSERT_TRUE(whole.openFile(dir_.file("odd.avi:99999999999")));
  EXPECT_EQ(readAll(whole).size(), 2u);
  EXPECT_FALSE(AVIFileReader().openFile(","));
}

// Damaged headers are refused with the failed condition; damaged frame data
// ends or skips without huge allocations; foreign chunks are skipped; every
// truncation is refused or plays the complete frames.
TEST_F(AVIFileReaderTest, HostileAndTruncatedFilesAreRefusedOrEndSafely) {
  avi_testing::writeClip(dir_.file("base.avi"), 4, 2, 2);
  std::string const base = contentsOf(dir_.file("base.avi"));
  constexpr int kRefused = -2, kAny = -1;  // kAny: up to the two written
  static std::string const kForeign("01wb\3\0\0\0abc\0JUNK\2\0\0\0zz", 22);
  using R = AVIFileReader;
  struct Case {
    char const* what;
    std::function<void(std::string&)> apply;
    int frames;
    char const* log_line = nullptr;
    R::OpenError reason = R::OPEN_OK;
  } const cases[] = {
      {"wrong magic", [](std::string& b) { b.replace(0, 4, "RIFX"); }, kRefused,
       "riff::readList(f_, \"RIFF\", &total_size, fourcc)", R::OPEN_NOT_AVI},
      {"wrong type", [](std::string& b) { b.replace(8, 4, "WAVE"); }, kRefused,
       "0 == strcmp(fourcc, \"AVI \")", R::OPEN_NOT_AVI},
      {"unknown handler", [](std::string& b) { b.replace(112, 4, "XVID"); }, kRefused,
       "format_ != ImageBuffer::IMAGE_UNKNOWN", R::OPEN_UNSUPPORTED_CODEC},
      {"negative height", [](std::string& b) { putLe32(b, 68, 0xFFFFFFFE); }, kRefused,
       "height_ > 0", R::OPEN_INVALID_HEADER},
      {"no rate", [](std::string& b) { putLe32(b, 32, 0), putLe32(b, 132, 0); }, kRefused,
       "fps_ > 0", R::OPEN_INVALID_HEADER},
      {"movi before hdrl",
       [](std::string& b) { b.insert(12, std::string("LIST\4\0\0\0movi", 12)); }, kRefused,
       "width_ > 0", R::OPEN_NO_VIDEO_STREAM},
      {"audio stream only", [](std::string& b) { b.replace(108, 4, "auds"); }, kRefused,
       "format_ != ImageBuffer::IMAGE_UNKNOWN", R::OPEN_NO_VIDEO_STREAM},
      {"hdrl larger than the file", [](std::string& b) { putLe32(b, 16, 0xFFFFFFF0); }, kRefused,
       "parseHdrl(pos + chunk.chunk_size)", R::OPEN_TRUNCATED_HEADER},
      {"strl without strh", [](std::string& b) { b.replace(100, 4, "strx"); }, kRefused,
       "parseStrl()", R::OPEN_INVALID_HEADER},
      {"info value larger than the file",
       [](std::string& b) { putLe32(b, b.size() - 28, 0x7FFFFFFF); }, kRefused,
       "parseInfo(pos + chunk.chunk_size)", R::OPEN_DAMAGED_METADATA},
      {"no movi", [](std::string& b) { b.replace(4104, 4, "mova"); }, kRefused, nullptr,
       R::OPEN_NO_FRAME_DATA},
      {"frame larger than 32-bit signed", [](std::string& b) { putLe32(b, 4112, 0xFFFFFFF0); }, 0},
      {"movi larger than the file", [](std::string& b) { putLe32(b, 4100, 0xFFFFFFF0); }, 2},
      // Skipped; the rest of it is then scanned as chunks.
      {"frame too small", [](std::string& b) { putLe32(b, 4112, 4); }, kAny},
      {"absurd picture size",
       [](std::string& b) { putLe32(b, 64, 100000), putLe32(b, 68, 100000); }, 0},
      // An odd-sized audio chunk with its pad byte, and a JUNK chunk.
      {"foreign chunks",
       [](std::string& b) { b.insert(4108, kForeign), putLe32(b, 4100, le32At(b, 4100) + 20); }, 2},
      {"list with a size below its type",
       [](std::string& b) { b.replace(4108, 8, std::string("LIST\0\0\0\0", 8)); }, 0},
      // The first frame inside a "rec " list, as interleaved files group it.
      {"rec list",
       [](std::string& b) {
         b.insert(4108, std::string("LIST\x18\0\0\0rec ", 12));
         putLe32(b, 4100, le32At(b, 4100) + 12);
       },
       2},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = base;
    c.apply(bytes);
    std::string const path = write("bad.avi", bytes);
    testing::LogCapture log("avi_file_reader:2,riff:2");
    AVIFileReader reader;
    ASSERT_EQ(reader.openFile(path), c.frames != kRefused);
    // Null may come before the end; nothing more than the real frames follows.
    size_t frames = readAll(reader).size();
    frames += readAll(reader).size();
    bool const refused = c.frames == kRefused;
    EXPECT_TRUE(!refused || log.contains("Can't read AVI file " + path));
    EXPECT_TRUE(!c.log_line || log.contains(c.log_line));
    EXPECT_EQ(reader.openError(), c.reason);
    EXPECT_EQ(reader.truncated(), std::string(c.what) == "movi larger than the file");
    EXPECT_TRUE(refused || reader.getEof());
    EXPECT_EQ(frames, c.frames == kAny ? std::min<size_t>(frames, 2) : std::max(c.frames, 0));
  }

  testing::LogCapture quiet;
  for (size_t length = 0; length < base.size(); ++length) {
    AVIFileReader reader;
    bool const opened = reader.openFile(write("cut.avi", base.substr(0, length)));
    // Refused: no complete "movi" list header (4096..4108), or a chunk
    // header or "info" entry cut after the frames: "idx1" header at
    // 4148..4156, "info" list at 4188..4232.
    EXPECT_EQ(opened, length >= 4108 && (length <= 4148 || (length >= 4156 && length <= 4188)))
        << length;
    if (!opened) {
      EXPECT_EQ(reader.openError(), length < 4200 ? AVIFileReader::OPEN_TRUNCATED_HEADER
                                                  : AVIFileReader::OPEN_DAMAGED_METADATA)
          << length;
      continue;
    }
    EXPECT_TRUE(reader.truncated()) << length;
    size_t frames = readAll(reader).size();
    frames += readAll(reader).size();
    EXPECT_EQ(frames, length >= 4108 + 2 * 20 ? 2u : length >= 4108 + 20 ? 1u : 0u) << length;
  }
}

// ffmpeg's raw frames come out byte-exact, its MJPEG ones decoded; the
// duration is that of the stream's rate.
TEST_F(AVIFileReaderTest, ReadsFfmpegRecordings) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  for (auto const& [codec, format] :
       {std::pair{"rawvideo -pix_fmt yuv420p -vtag I420", ImageBuffer::IMAGE_I420},
        {"mjpeg -pix_fmt yuvj420p", ImageBuffer::IMAGE_MJPEG}}) {
    SCOPED_TRACE(codec);
    std::string const path = dir_.file("ffmpeg.avi");
    testing::commandOutput(
        "ffmpeg -v error -f lavfi -i testsrc=size=33x17:rate=30000/1001 -frames:v 3 -c:v " +
        std::string(codec) + " -y '" + path + "'");
    AVIFileReader reader;
    ASSERT_TRUE(reader.openFile(path));
    EXPECT_EQ(reader.format(), format);
    std::vector<std::string> ours;
    for (auto const& frame : readAll(reader)) ours.push_back(packedI420(*frame));
    ASSERT_EQ(ours.size(), 3u);
    if (format == ImageBuffer::IMAGE_I420) {
      EXPECT_EQ(ours, testing::ffmpegI420Frames(path, 33, 17));
    }
    EXPECT_EQ(last_duration_, Duration::fromSec(1.0 / 29));
  }
}

// Frames as the file stores them, before the conversion to I420.
class StoredFrameReader : public AVIFileReader {
 public:
  using AVIFileReader::doReadFrame;
};

// The first `row_bytes` of each row of a single-plane frame, top row first.
std::string visibleRows(ImageBuffer const& frame, int row_bytes) {
  std::string rows;
  for (int y = 0; y < frame.height(); ++y)
    rows.append(reinterpret_cast<char const*>(frame.getPixelAddress(0, y, 0)), row_bytes);
  return rows;
}

// Camera-like recordings: raw video beside an audio stream (listed first or
// second), in the raw layouts ffmpeg writes. The stored frames must equal
// ffmpeg's decode in the same pixel format, and the I420 frames its yuv420p
// decode: exactly for the planar formats, within rounding for YUYV and RGB.
TEST_F(AVIFileReaderTest, ReadsFfmpegRawFormatsBesideAudio) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  struct Case {
    char const* what;
    char const* video;
    char const* raw_format;  // ffmpeg's name of the stored layout
    int row_bytes;           // visible bytes a row of single-plane layouts; 0 for I420
    bool audio_first;
    ImageBuffer::PixelFormat format;
  } const cases[] = {
      {"IYUV", "-pix_fmt yuv420p -vtag IYUV", "yuv420p", 0, false, ImageBuffer::IMAGE_I420},
      {"YV12", "-pix_fmt yuv420p -vtag YV12", "yuv420p", 0, true, ImageBuffer::IMAGE_I420},
      {"YUY2", "-pix_fmt yuyv422", "yuyv422", 4 * 17, true, ImageBuffer::IMAGE_YUYV},
      {"BGR24", "-pix_fmt bgr24", "bgr24", 3 * 33, false, ImageBuffer::IMAGE_BGR24},
      {"BGRA", "-pix_fmt bgra", "bgra", 4 * 33, true, ImageBuffer::IMAGE_BGRX32},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string const path = dir_.file(std::string(c.what) + ".avi");
    testing::commandOutput(
        "ffmpeg -v error -f lavfi -i testsrc=size=33x17:rate=25 -f lavfi -i "
        "sine=sample_rate=8000 -t 0.12 " +
        std::string(c.audio_first ? "-map 1:a -map 0:v" : "-map 0:v -map 1:a") +
        " -c:a pcm_s16le -c:v rawvideo " + c.video + " -y '" + path + "'");
    // Uncompressed bitmaps are bottom-up unless the height is negative, as
    // ffmpeg writes it: both orders are read as ffmpeg reads them.
    std::vector<std::string> variants = {path};
    if (c.format == ImageBuffer::IMAGE_BGR24) {
      std::string bytes = contentsOf(path);
      size_t const strf = bytes.find("strf");
      ASSERT_NE(strf, std::string::npos);
      putLe32(bytes, strf + 16, 17);
      variants.push_back(write("bottom_up.avi", bytes));
    }
    for (std::string const& file : variants) {
      SCOPED_TRACE(file);
      StoredFrameReader stored;
      ASSERT_TRUE(stored.openFile(file));
      EXPECT_EQ(stored.format(), c.format);
      std::string const raw = testing::commandOutput(
          "ffmpeg -v error -i '" + file + "' -f rawvideo -pix_fmt " + c.raw_format + " -");
      std::string ours;
      Duration duration;
      while (auto frame = stored.doReadFrame(&duration))
        ours += c.row_bytes ? visibleRows(*frame, c.row_bytes) : packedI420(*frame);
      EXPECT_EQ(ours.size(), raw.size());
      EXPECT_TRUE(ours == raw);

      AVIFileReader reader;
      ASSERT_TRUE(reader.openFile(file));
      std::vector<std::string> const expected = testing::ffmpegI420Frames(file, 33, 17);
      auto const frames = readAll(reader);
      ASSERT_EQ(frames.size(), expected.size());
      ASSERT_EQ(frames.size(), 3u);
      // Luma: converters from RGB differ in rounding, not on average; a
      // shifted or flipped picture would. (Chroma filters differ too much
      // between converters at this picture's sharp edges to compare.)
      double difference = 0;
      for (size_t i = 0; i < frames.size(); ++i) {
        std::string const got = packedI420(*frames[i]);
        for (size_t b = 0; b < 33 * 17; ++b)
          difference += std::abs(int(uint8_t(got[b])) - int(uint8_t(expected[i][b])));
      }
      difference /= 3 * 33 * 17;
      bool const rgb =
          c.format == ImageBuffer::IMAGE_BGR24 || c.format == ImageBuffer::IMAGE_BGRX32;
      EXPECT_LE(difference, rgb ? 1 : 0);
    }
  }
}

// Files that cannot be played name their reason.
TEST_F(AVIFileReaderTest, FfmpegFilesWithoutPlayableVideoNameTheReason) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  struct Case {
    char const* what;
    char const* args;
    char const* reason;
  } const cases[] = {
      {"mpeg4", "-f lavfi -i testsrc=size=32x16 -t 0.1 -c:v mpeg4 -vtag XVID",
       "unsupported video codec 'XVID'"},
      {"audio", "-f lavfi -i sine -t 0.1 -c:a pcm_s16le", "no video stream"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string const path = dir_.file(std::string(c.what) + ".avi");
    testing::commandOutput("ffmpeg -v error " + std::string(c.args) + " -y '" + path + "'");
    testing::LogCapture quiet;
    AVIFileReader reader;
    EXPECT_FALSE(reader.openFile(path));
    EXPECT_EQ(reader.openErrorText(), c.reason);
  }
}

}  // namespace
}  // namespace dravo::media
