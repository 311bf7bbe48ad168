// Our AVI files against ffprobe and ffmpeg, both ways.

#include <gtest/gtest.h>

#include <cmath>

#include "media_common/video/avi_file_reader.h"
#include "media_common/video/avi_file_writer.h"
#include "media_common/video/image_buffer_converter.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using avi_testing::makeFrame;
using avi_testing::packedI420;

std::string probe(std::string const& path) {
  return testing::commandOutput(
      "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
      "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of default=nw=1 '" +
      path + "'");
}

std::string probeLine(std::string const& codec, int width, int height, std::string const& rate,
                      size_t frames) {
  return "codec_name=" + codec + "\nwidth=" + std::to_string(width) +
         "\nheight=" + std::to_string(height) + "\nr_frame_rate=" + rate +
         "\nnb_read_frames=" + std::to_string(frames) + "\n";
}

class AVIInteropTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir dir_;
};

TEST_F(AVIInteropTest, FfmpegReadsOurI420Recordings) {
  SKIP_WITHOUT_TOOL("ffprobe");
  SKIP_WITHOUT_TOOL("ffmpeg");
  struct Case {
    int width, height, frames;
  } const cases[] = {{64, 48, 5}, {33, 17, 4}};
  for (auto const& c : cases) {
    std::string const name = "i420_" + std::to_string(c.width);
    SCOPED_TRACE(name);
    AVIFileWriter writer;
    ASSERT_TRUE(writer.openFile(dir_.file(name + ".avi")));
    std::string raw;
    for (int i = 0; i < c.frames; ++i) {
      auto frame = makeFrame(c.width, c.height, i, 40 * i);
      raw += packedI420(*frame);
      writer.writeFrame(frame);
    }
    writer.close();
    ASSERT_TRUE(File::writeStringToFile(dir_.file(name + ".yuv"), raw));
    EXPECT_EQ(probe(dir_.file(name + ".avi")),
              probeLine("rawvideo", c.width, c.height, "25/1", c.frames));
    std::vector<std::string> const expected = testing::ffmpegFrameMd5s(
        "-f rawvideo -pix_fmt yuv420p -s " + std::to_string(c.width) + "x" +
        std::to_string(c.height) + " -i '" + dir_.file(name + ".yuv") + "'");
    ASSERT_EQ(expected.size(), static_cast<size_t>(c.frames));
    EXPECT_EQ(testing::ffmpegFrameMd5s("-i '" + dir_.file(name + ".avi") + "' -pix_fmt yuv420p"),
              expected);
  }
}

TEST_F(AVIInteropTest, FfmpegReadsOurSplitAndMJPEGRecordings) {
  SKIP_WITHOUT_TOOL("ffprobe");
  SKIP_WITHOUT_TOOL("ffmpeg");
  // Split by a size change: both parts play.
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("rec.avi")));
  for (int i = 0; i < 3; ++i) writer.writeFrame(makeFrame(32, 24, i, 100 * i));
  for (int i = 3; i < 5; ++i) writer.writeFrame(makeFrame(17, 9, i, 100 * i));
  writer.close();
  EXPECT_EQ(probe(dir_.file("rec.avi")), probeLine("rawvideo", 32, 24, "10/1", 3));
  EXPECT_EQ(probe(dir_.file("rec_part1.avi")), probeLine("rawvideo", 17, 9, "10/1", 2));

  // MJPEG frames are stored as they are: ffmpeg decodes them to what it
  // decodes from the same JPEG data outside the container.
  ASSERT_TRUE(writer.openFile(dir_.file("mjpg.avi")));
  std::string stream;
  for (int i = 0; i < 4; ++i) {
    auto jpeg = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_JPEG,
                                                  makeFrame(48 + 1, 31, i, 200 * i));
    ASSERT_TRUE(jpeg);
    ASSERT_GT(jpeg->size(), 0);
    ImageBuffer::FormatType format = jpeg->format();
    auto bytes = std::make_shared<std::string>(reinterpret_cast<char const*>(jpeg->data()),
                                               static_cast<size_t>(jpeg->size()));
    stream += *bytes;
    auto mjpeg = std::make_shared<ImageBuffer>(49, 31, ImageBuffer::IMAGE_MJPEG,
                                               reinterpret_cast<unsigned char*>(bytes->data()),
                                               bytes, jpeg->size());
    mjpeg->setStartTimestamp(Time::fromNSec(int64_t{200000000} * i));
    writer.writeFrame(mjpeg);
  }
  writer.close();
  ASSERT_TRUE(File::writeStringToFile(dir_.file("frames.mjpeg"), stream));
  EXPECT_EQ(probe(dir_.file("mjpg.avi")), probeLine("mjpeg", 49, 31, "5/1", 4));
  std::vector<std::string> const expected =
      testing::ffmpegFrameMd5s("-f mjpeg -i '" + dir_.file("frames.mjpeg") + "'");
  ASSERT_EQ(expected.size(), 4u);
  EXPECT_EQ(testing::ffmpegFrameMd5s("-i '" + dir_.file("mjpg.avi") + "'"), expected);
}

struct FfmpegClip {
  std::string name;
  std::string size;
  std::string rate;
  std::string codec_args;
  int width, height;
  float fps;  // our reading of the rate: whole frames per second
};

TEST_F(AVIInteropTest, WeReadFfmpegRecordings) {
  SKIP_WITHOUT_TOOL("ffprobe");
  SKIP_WITHOUT_TOOL("ffmpeg");
  FfmpegClip const clips[] = {
      {"raw_even", "64x48", "10", "-c:v rawvideo -pix_fmt yuv420p -vtag I420", 64, 48, 10},
      {"raw_odd", "33x17", "30000/1001", "-c:v rawvideo -pix_fmt yuv420p -vtag I420", 33, 17, 29},
      {"mjpeg_even", "64x48", "25", "-c:v mjpeg -pix_fmt yuvj420p", 64, 48, 25},
      {"mjpeg_odd", "35x21", "30000/1001", "-c:v mjpeg -pix_fmt yuvj420p", 35, 21, 29},
  };
  for (auto const& clip : clips) {
    SCOPED_TRACE(clip.name);
    std::string const path = dir_.file(clip.name + ".avi");
    testing::commandOutput("ffmpeg -v error -f lavfi -i testsrc=size=" + clip.size + ":rate=" +
                           clip.rate + " -frames:v 5 " + clip.codec_args + " -y '" + path + "'");
    std::string const probed = probe(path);
    EXPECT_NE(probed.find(
                  "width=" + std::to_string(clip.width) +
                  "\nheight=" + std::to_string(clip.height) + "\nr_frame_rate=" + clip.rate +
                  (clip.rate.find('/') == std::string::npos ? "/1" : "") + "\nnb_read_frames=5\n"),
              std::string::npos)
        << probed;
    // ffmpeg's own decode, in the limited range our I420 frames use.
    bool const raw = clip.codec_args.find("rawvideo") != std::string::npos;
    std::string const decoded =
        testing::commandOutput("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt yuv420p -");
    size_t const frame_bytes = size_t(clip.width) * clip.height +
                               2 * size_t((clip.width + 1) / 2) * ((clip.height + 1) / 2);
    ASSERT_EQ(decoded.size(), 5 * frame_bytes);

    AVIFileReader reader;
    ASSERT_TRUE(reader.openFile(path));
    EXPECT_EQ(reader.format(), raw ? ImageBuffer::IMAGE_I420 : ImageBuffer::IMAGE_MJPEG);
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      Duration duration;
      auto frame = reader.readFrame(&duration);
      ASSERT_TRUE(frame);
      EXPECT_EQ(frame->width(), clip.width);
      EXPECT_EQ(frame->height(), clip.height);
      EXPECT_EQ(duration, Duration::fromSec(1.0 / clip.fps));
      std::string const ours = packedI420(*frame);
      std::string const theirs = decoded.substr(i * frame_bytes, frame_bytes);
      if (raw) {
        EXPECT_EQ(ours, theirs);
        continue;
      }
      ASSERT_EQ(ours.size(), theirs.size());
      double sum = 0;
      for (size_t b = 0; b < ours.size(); ++b) {
        double const d =
            static_cast<unsigned char>(ours[b]) - static_cast<unsigned char>(theirs[b]);
        sum += d * d;
      }
      double const mse = sum / ours.size();
      double const psnr = mse == 0 ? 100 : 10 * std::log10(255.0 * 255.0 / mse);
      EXPECT_GE(psnr, 35.0);
    }
    Duration duration;
    EXPECT_FALSE(reader.readFrame(&duration));
    EXPECT_TRUE(reader.getEof());
  }
}

TEST_F(AVIInteropTest, UnknownCodecFromFfmpegIsRefusedCleanly) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  std::string const path = dir_.file("mpeg4.avi");
  testing::commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 3 -c:v mpeg4 -y '" + path +
      "'");
  testing::LogCapture log("avi_file_reader:2");
  AVIFileReader reader;
  EXPECT_FALSE(reader.openFile(path));
  EXPECT_TRUE(log.contains("format_ != ImageBuffer::IMAGE_UNKNOWN"));
  EXPECT_TRUE(log.contains("Can't read AVI file " + path));
}

}  // namespace
}  // namespace dravo::media
