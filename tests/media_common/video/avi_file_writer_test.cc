#include "media_common/video/avi_file_writer.h"

#include <gtest/gtest.h>

#include "media_common/riff.h"
#include "media_common/video/avi_file_reader.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

using avi_testing::contentsOf;
using avi_testing::le32At;
using avi_testing::makeFrame;

class AVIFileWriterTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir dir_;
};

TEST_F(AVIFileWriterTest, EmptyRecordingIsHeadersJunkAndEmptyIndex) {
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("empty.avi")));
  writer.close();
  std::string const bytes = contentsOf(dir_.file("empty.avi"));
  ASSERT_EQ(bytes.size(), 4116u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(le32At(bytes, 4), 4108u);
  EXPECT_EQ(bytes.substr(8, 4), "AVI ");
  EXPECT_EQ(bytes.substr(288, 4), "JUNK");
  EXPECT_EQ(le32At(bytes, 292), 3800u);
  EXPECT_EQ(bytes.substr(296, 3800), std::string(3800, '#'));
  EXPECT_EQ(bytes.substr(4096, 4), "LIST");
  EXPECT_EQ(le32At(bytes, 4100), 4u);
  EXPECT_EQ(bytes.substr(4104, 4), "movi");
  EXPECT_EQ(bytes.substr(4108, 4), "idx1");
  EXPECT_EQ(le32At(bytes, 4112), 0u);
}

// Walks the file with the RIFF functions, as a reader of the layout would.
TEST_F(AVIFileWriterTest, LayoutIndexAndMetadataReadBackThroughRiff) {
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("clip.avi")));
  // 5x3 I420 frames have 27 bytes: odd, so each is followed by a pad byte.
  auto const first = makeFrame(5, 3, 1, 1000);
  auto const second = makeFrame(5, 3, 2, 1040);
  writer.writeFrame(first);
  writer.appendMetadata("ab", "xyz");  // between the frames' timestamps
  writer.writeFrame(second);
  writer.close();

  auto f = File::open(dir_.file("clip.avi"), File::kRead);
  ASSERT_TRUE(f);
  unsigned int size = 0;
  char type[5];
  ASSERT_TRUE(riff::readList(f, "RIFF", &size, type));
  EXPECT_EQ(size, static_cast<unsigned>(f->size() - 8));
  EXPECT_STREQ(type, "AVI ");
  riff::ChunkHeader chunk;
  ASSERT_TRUE(riff::readChunkHeader(f, &chunk));
  EXPECT_TRUE(chunk.list);
  EXPECT_EQ(chunk.fourcc, "hdrl");
  EXPECT_EQ(chunk.chunk_size, 264u);
  ASSERT_TRUE(riff::readChunkHeader(f, &chunk));
  EXPECT_EQ(chunk.fourcc, "avih");
  std::string const bytes = contentsOf(dir_.file("clip.avi"));
  EXPECT_EQ(le32At(bytes, 32), 40000u);  // 25 fps
  EXPECT_EQ(le32At(bytes, 32 + 12), 0x910u);
  EXPECT_EQ(le32At(bytes, 32 + 16), 2u);  // frames
  EXPECT_EQ(le32At(bytes, 32 + 32), 5u);  // width
  EXPECT_EQ(le32At(bytes, 32 + 36), 3u);  // height
  EXPECT_EQ(bytes.substr(108, 8), "vidsI420");
  EXPECT_EQ(le32At(bytes, 108 + 24), 25u);  // rate
  EXPECT_EQ(le32At(bytes, 108 + 32), 2u);   // length
  EXPECT_EQ(le32At(bytes, 108 + 36), 27u);  // largest frame
  EXPECT_EQ(bytes.substr(172 + 16, 4), "I420");
  EXPECT_EQ(le32At(bytes, 220 + 20), 5u * 65536 + 3);

  // Frames: at 4108 and 4108 + 8 + 28, each followed by a zero pad byte.
  ASSERT_TRUE(f->seek(4108));
  for (auto const& frame : {first, second}) {
    ASSERT_TRUE(riff::readChunkHeader(f, &chunk));
    EXPECT_EQ(chunk.fourcc, "00dc");
    ASSERT_EQ(chunk.chunk_size, 27u);
    std::string payload(28, '\0');
    ASSERT_EQ(f->read(payload.data(), 28), 28u);
    EXPECT_EQ(payload, avi_testing::packedI420(*frame) + std::string(1, '\0'));
  }
  EXPECT_EQ(le32At(bytes, 4100), static_cast<uint32_t>(f->tell() - 4104));
  ASSERT_TRUE(riff::readChunkHeader(f, &chunk));
  EXPECT_EQ(chunk.fourcc, "idx1");
  ASSERT_EQ(chunk.chunk_size, 32u);
  int64_t const idx = f->tell();
  EXPECT_EQ(bytes.substr(idx, 4), "00dc");
  EXPECT_EQ(le32At(bytes, idx + 4), 0x10u);
  EXPECT_EQ(le32At(bytes, idx + 8), 4u);
  EXPECT_EQ(le32At(bytes, idx + 12), 27u);
  EXPECT_EQ(le32At(bytes, idx + 24), 4u + 36);
  ASSERT_TRUE(f->seek(idx + 32));
  ASSERT_TRUE(riff::readChunkHeader(f, &chunk));
  EXPECT_TRUE(chunk.list);
  EXPECT_EQ(chunk.fourcc, "info");
  EXPECT_EQ(chunk.chunk_size, 2u * 16 + 8 + 3);
  ASSERT_TRUE(riff::readChunkHeader(f, &chunk));
  EXPECT_EQ(chunk.fourcc, "tm64");
  int64_t stamp = 0;
  ASSERT_EQ(f->read(&stamp, 8), 8u);
  EXPECT_EQ(stamp, 1000000000);
  ASSERT_TRUE(riff::readChunkHeader(f, &chunk));
  EXPECT_EQ(chunk.fourcc, "ab  ");
  EXPECT_EQ(chunk.chunk_size, 3u);
  ASSERT_TRUE(f->seek(f->tell() + 3));  // metadata values are not padded
  ASSERT_TRUE(riff::readChunkHeader(f, &chunk));
  EXPECT_EQ(chunk.fourcc, "tm64");
  ASSERT_EQ(f->read(&stamp, 8), 8u);
  EXPECT_EQ(stamp, 1040000000);
  EXPECT_EQ(f->tell(), f->size());
}

TEST_F(AVIFileWriterTest, FrameRateComesFromTimestamps) {
  struct Case {
    int frames;
    int64_t interval_ms;
    uint32_t rate;
  } const cases[] = {{3, 40, 25}, {3, 143, 5}, {4, 17, 30}, {1, 40, 30}, {3, 0, 30}, {3, 1000, 30}};
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.frames << " frames " << c.interval_ms << " ms apart");
    avi_testing::writeClip(dir_.file("rate.avi"), 4, 2, c.frames, c.interval_ms);
    std::string const bytes = contentsOf(dir_.file("rate.avi"));
    EXPECT_EQ(le32At(bytes, 108 + 24), c.rate);
    EXPECT_EQ(le32At(bytes, 32), 1000000 / c.rate);
  }
}

TEST_F(AVIFileWriterTest, I420SizeChangeContinuesInPartFiles) {
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("rec.avi")));
  writer.writeFrame(makeFrame(4, 2, 0, 0));
  writer.writeFrame(makeFrame(6, 4, 1, 40));
  EXPECT_EQ(writer.filename(), dir_.file("rec_part1.avi"));
  writer.writeFrame(makeFrame(6, 4, 2, 80));
  writer.writeFrame(makeFrame(4, 2, 3, 120));
  EXPECT_EQ(writer.filename(), dir_.file("rec_part2.avi"));
  writer.close();
  EXPECT_EQ(le32At(contentsOf(dir_.file("rec.avi")), 48), 1u);
  EXPECT_EQ(le32At(contentsOf(dir_.file("rec_part1.avi")), 48), 2u);
  EXPECT_EQ(le32At(contentsOf(dir_.file("rec_part2.avi")), 48), 1u);
  EXPECT_EQ(le32At(contentsOf(dir_.file("rec_part1.avi")), 64), 6u);
}

TEST_F(AVIFileWriterTest, CompressedSizeChangeStaysInOneFile) {
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("mjpg.avi")));
  writer.writeFrame(
      image_testing::wrapEncoded(image_testing::makeJpeg(16, 16), ImageBuffer::IMAGE_MJPEG));
  writer.writeFrame(
      image_testing::wrapEncoded(image_testing::makeJpeg(32, 24), ImageBuffer::IMAGE_MJPEG));
  EXPECT_EQ(writer.filename(), dir_.file("mjpg.avi"));
  writer.close();
  std::string const bytes = contentsOf(dir_.file("mjpg.avi"));
  EXPECT_EQ(le32At(bytes, 48), 2u);
  EXPECT_EQ(bytes.substr(112, 4), "MJPG");
  EXPECT_FALSE(File::exists(dir_.file("mjpg_part1.avi")));
}

// Names without ".avi" (and names that lead back to themselves) must never
// make a split reopen, and so truncate, a file already recorded.
TEST_F(AVIFileWriterTest, PartNamesNeverReuseARecordedFile) {
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
      writer.writeFrame(makeFrame(2 + 2 * i, 2, i, i * 40));
      EXPECT_EQ(writer.filename(), dir_.file(c.parts[i]));
    }
    writer.close();
    for (int i = 0; i < 4; ++i) {
      std::string const bytes = contentsOf(dir_.file(c.parts[i]));
      ASSERT_GT(bytes.size(), 72u) << c.parts[i];
      EXPECT_EQ(le32At(bytes, 48), 1u) << c.parts[i];
      EXPECT_EQ(le32At(bytes, 64), 2u + 2 * i) << c.parts[i];
    }
  }
}

TEST_F(AVIFileWriterTest, UncreatableFileIsLoggedAndFramesAreDropped) {
  testing::LogCapture log("avi_file_writer:2");
  AVIFileWriter writer;
  std::string const name = dir_.file("missing/dir.avi");
  EXPECT_FALSE(writer.openFile(name));
  writer.writeFrame(makeFrame(4, 2, 0));
  writer.close();
  EXPECT_TRUE(log.contains("Could not create file " + name));
  EXPECT_FALSE(File::exists(name));
}

TEST_F(AVIFileWriterTest, DestructorCompletesTheFile) {
  {
    AVIFileWriter writer;
    ASSERT_TRUE(writer.openFile(dir_.file("d.avi")));
    writer.writeFrame(makeFrame(4, 2, 0));
  }
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(dir_.file("d.avi")));
  Duration duration;
  EXPECT_TRUE(reader.readFrame(&duration));
  EXPECT_FALSE(reader.readFrame(&duration));
  EXPECT_TRUE(reader.getEof());
}

}  // namespace
}  // namespace dravo::media
