#include "media_common/video/avi_file_writer.h"

#include <gtest/gtest.h>

#include <cstring>

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

// Whether a chunk header `fourcc` of `size` bytes stands at `offset`.
::testing::AssertionResult chunkAt(std::string const& bytes, size_t offset,
                                   std::string const& fourcc, uint32_t size) {
  if (bytes.size() >= offset + 8 && bytes.substr(offset, 4) == fourcc &&
      le32At(bytes, offset + 4) == size)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no " << fourcc << " of " << size << " at " << offset;
}

int64_t stampAt(std::string const& bytes, size_t offset) {
  int64_t stamp = 0;
  std::memcpy(&stamp, bytes.data() + offset, 8);
  return stamp;
}

// Writes AVI files into a temporary folder.
class AVIFileWriterTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir dir_;
};

// The headers fill exactly 4096 bytes, padded by JUNK, whatever follows.
// Metadata goes into the "info" list between the frames' timestamps, in the
// order it was appended.
TEST_F(AVIFileWriterTest, LayoutIndexAndTimestampsWithMetadataInAppendOrder) {
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("clip.avi")));
  // 5x3 I420 frames have 27 bytes: odd, so each is followed by a pad byte.
  writer.writeFrame(makeFrame(5, 3, 1, 1000));
  writer.appendMetadata("ab", "xyz");
  writer.writeFrame(makeFrame(5, 3, 2, 1040));
  writer.close();

  std::string const bytes = contentsOf(dir_.file("clip.avi"));
  ASSERT_EQ(bytes.size(), 4275u);
  EXPECT_TRUE(chunkAt(bytes, 0, "RIFF", 4275 - 8));
  EXPECT_TRUE(chunkAt(bytes, 288, "JUNK", 3800));
  EXPECT_EQ(bytes.substr(296, 3800), std::string(3800, '#'));
  // The stream header's frame count and largest frame; the rest of the
  // headers is checked by ffprobe below, the frames by the reader's tests.
  EXPECT_EQ(le32At(bytes, 108 + 32), 2u);
  EXPECT_EQ(le32At(bytes, 108 + 36), 27u);
  EXPECT_TRUE(chunkAt(bytes, 4144, "00dc", 27));
  EXPECT_TRUE(chunkAt(bytes, 4180, "idx1", 32));
  // The second entry: key frame, offset from "movi", size.
  EXPECT_TRUE(chunkAt(bytes, 4204, "00dc", 0x10));
  EXPECT_EQ(le32At(bytes, 4212), 40u);
  EXPECT_EQ(le32At(bytes, 4216), 27u);
  EXPECT_TRUE(chunkAt(bytes, 4220, "LIST", 4 + 2 * 16 + 8 + 3));
  EXPECT_EQ(bytes.substr(4228, 4), "info");
  EXPECT_TRUE(chunkAt(bytes, 4232, "tm64", 8));
  EXPECT_EQ(stampAt(bytes, 4240), 1000000000);
  EXPECT_TRUE(chunkAt(bytes, 4248, "ab  ", 3));
  EXPECT_EQ(bytes.substr(4256, 3), "xyz");  // metadata values are not padded
  EXPECT_TRUE(chunkAt(bytes, 4259, "tm64", 8));
  EXPECT_EQ(stampAt(bytes, 4267), 1040000000);
}

// With no frame the file holds only headers, an empty "movi" list and an
// empty "idx1": exactly 4116 bytes, whatever the writer recorded before.
TEST_F(AVIFileWriterTest, EmptyRecordingIsHeadersOnlyWhateverCameBefore) {
  AVIFileWriter fresh;
  ASSERT_TRUE(fresh.openFile(dir_.file("fresh.avi")));
  fresh.close();
  std::string const empty = contentsOf(dir_.file("fresh.avi"));
  ASSERT_EQ(empty.size(), 4116u);
  EXPECT_TRUE(chunkAt(empty, 0, "RIFF", 4108));
  EXPECT_TRUE(chunkAt(empty, 4096, "LIST", 4));
  EXPECT_EQ(empty.substr(4104, 4), "movi");
  EXPECT_TRUE(chunkAt(empty, 4108, "idx1", 0));

  AVIFileWriter reused;
  ASSERT_TRUE(reused.openFile(dir_.file("full.avi")));
  for (int i = 0; i < 3; ++i) reused.writeFrame(makeFrame(6, 4, i, i * 100));
  ASSERT_TRUE(reused.openFile(dir_.file("again.avi")));
  reused.close();
  EXPECT_EQ(contentsOf(dir_.file("again.avi")), empty);
}

// FNV-1a of `bytes`: a fingerprint of a whole file.
uint64_t fingerprint(std::string const& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// The bytes of a small recording (odd frame sizes, a size change into a part
// file, metadata between frames) as this writer has always written them.
TEST_F(AVIFileWriterTest, SmallRecordingsKeepTheirExactBytes) {
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("pin.avi")));
  for (int i = 0; i < 5; ++i) {
    writer.writeFrame(makeFrame(i < 3 ? 7 : 8, 5, i, 1000 + 40 * i));
    if (i == 1) writer.appendMetadata("note", "pinned");
  }
  writer.close();
  EXPECT_EQ(fingerprint(contentsOf(dir_.file("pin.avi"))), 18300961260532376624ull);
  EXPECT_EQ(fingerprint(contentsOf(dir_.file("pin_part1.avi"))), 9616536852401656696ull);
}

// Without a set rate it is estimated from the timestamps; a set rate is
// carried exactly, whatever the timestamps say.
TEST_F(AVIFileWriterTest, FrameRateIsEstimatedUnlessSet) {
  struct Case {
    int frames;
    int64_t interval_ms;
    double set_fps;
    uint32_t rate, scale, usec_per_frame;
  } const cases[] = {
      {3, 143, 0, 5, 1, 200000},
      {4, 17, 0, 30, 1, 33333},
      {3, 0, 0, 30, 1, 33333},
      {3, 40, 29.97, 30000, 1001, 33367},
      {3, 40, 30000.0 / 1001, 30000, 1001, 33367},
      {1, 0, 25, 25, 1, 40000},
      {3, 40, 60, 60, 1, 16667},
      {3, 17, 24, 24, 1, 41667},
      {3, 40, 23.976, 24000, 1001, 41708},
      {3, 40, 12.5, 25, 2, 80000},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.frames << " frames " << c.interval_ms << " ms apart, set " << c.set_fps);
    AVIFileWriter writer;
    writer.setFrameRate(c.set_fps);
    writer.openFile(dir_.file("rate.avi"));
    for (int i = 0; i < c.frames; ++i) writer.writeFrame(makeFrame(4, 2, i, i * c.interval_ms));
    writer.close();
    std::string const bytes = contentsOf(dir_.file("rate.avi"));
    EXPECT_EQ(le32At(bytes, 108 + 20), c.scale);
    EXPECT_EQ(le32At(bytes, 108 + 24), c.rate);
    EXPECT_EQ(le32At(bytes, 32), c.usec_per_frame);
  }
}

// Every I420 size change starts a part file. Names without ".avi" (and names
// that lead back to themselves) must never make a split reopen, and so
// truncate, a file already recorded.
TEST_F(AVIFileWriterTest, I420SizeChangesContinueInPartFilesThatNeverReuseAName) {
  struct Case {
    std::string name;
    std::vector<std::string> parts;
  } const cases[] = {
      {"clip", {"clip", "clip_part1", "clip_part2", "clip_part3"}},
      {"a.avi.bak", {"a.avi.bak", "a_part1.avi", "a_part2.avi", "a_part3.avi"}},
      {"x_part1.avi",
       {"x_part1.avi", "x_part1_part1.avi", "x_part1_part2.avi", "x_part1_part3.avi"}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    AVIFileWriter writer;
    ASSERT_TRUE(writer.openFile(dir_.file(c.name)));
    for (int i = 0; i < 4; ++i) {
      writer.writeFrame(makeFrame(i % 2 ? 6 : 4, 2 + i, i, i * 40));
      EXPECT_EQ(writer.filename(), dir_.file(c.parts[i]));
    }
    writer.close();
    for (int i = 0; i < 4; ++i) {
      std::string const bytes = contentsOf(dir_.file(c.parts[i]));
      ASSERT_GT(bytes.size(), 72u) << c.parts[i];
      EXPECT_EQ(le32At(bytes, 48), 1u) << c.parts[i];
      EXPECT_EQ(le32At(bytes, 68), 2u + i) << c.parts[i];
    }
  }
}

// Compressed frames of another size stay in the file; the destructor
// completes it. A file that cannot be created drops the frames.
TEST_F(AVIFileWriterTest, CompressedSizeChangeStaysInOneFileAndUncreatableFilesDropFrames) {
  {
    AVIFileWriter writer;
    ASSERT_TRUE(writer.openFile(dir_.file("mjpg.avi")));
    for (int size : {16, 32})
      writer.writeFrame(image_testing::wrapEncoded(image_testing::makeJpeg(size, size),
                                                   ImageBuffer::IMAGE_MJPEG));
  }
  EXPECT_EQ(le32At(contentsOf(dir_.file("mjpg.avi")), 48), 2u);
  EXPECT_FALSE(File::exists(dir_.file("mjpg_part1.avi")));

  testing::LogCapture log("avi_file_writer:2");
  AVIFileWriter writer;
  std::string const name = dir_.file("missing/dir.avi");
  EXPECT_FALSE(writer.openFile(name));
  writer.writeFrame(makeFrame(4, 2, 0));
  writer.close();
  EXPECT_TRUE(log.contains("Could not create file " + name));
  EXPECT_FALSE(File::exists(name));
}

// An odd size (rows and chroma not word-sized) split by a size change: both
// parts play in ffmpeg as the frames written.
TEST_F(AVIFileWriterTest, FfmpegPlaysOurSplitI420Recording) {
  SKIP_WITHOUT_TOOL("ffprobe");
  SKIP_WITHOUT_TOOL("ffmpeg");
  std::vector<std::string> first, second;
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("rec.avi")));
  for (int i = 0; i < 5; ++i) {
    auto frame = makeFrame(i < 3 ? 33 : 16, i < 3 ? 17 : 8, i, 40 * i);
    (i < 3 ? first : second).push_back(avi_testing::packedI420(*frame));
    writer.writeFrame(frame);
  }
  writer.close();
  testing::expectFfmpegPlays(dir_.file("rec.avi"), 33, 17, "25/1", first);
  testing::expectFfmpegPlays(dir_.file("rec_part1.avi"), 16, 8, "25/1", second);
}

}  // namespace
}  // namespace dravo::media
