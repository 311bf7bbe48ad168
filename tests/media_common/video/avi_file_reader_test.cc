#include "media_common/video/avi_file_reader.h"

#include <gtest/gtest.h>

#include "tests/media_common/video/avi_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

using avi_testing::contentsOf;
using avi_testing::le32At;
using avi_testing::makeFrame;
using avi_testing::packedI420;
using avi_testing::putLe32;

std::string le32(uint32_t value) {
  std::string bytes(4, '\0');
  putLe32(bytes, 0, value);
  return bytes;
}

class AVIFileReaderTest : public ::testing::Test {
 protected:
  // Frames read until the first null, at most `limit`.
  std::vector<std::shared_ptr<ImageBuffer>> readAll(AVIFileReader& reader, int limit = 100) {
    std::vector<std::shared_ptr<ImageBuffer>> frames;
    Duration duration;
    while (static_cast<int>(frames.size()) < limit) {
      auto frame = reader.readFrame(&duration);
      if (!frame) break;
      frames.push_back(frame);
    }
    return frames;
  }
  std::string write(std::string const& name, std::string const& bytes) {
    std::string const path = dir_.file(name);
    EXPECT_TRUE(File::writeStringToFile(path, bytes));
    return path;
  }

  testing::ScopedTempDir dir_;
};

TEST_F(AVIFileReaderTest, ReadsWhatTheWriterWroteWithDurationsAndTimestamps) {
  // 5x3 frames have an odd payload size, so every chunk is followed by a pad.
  std::vector<std::shared_ptr<ImageBuffer>> written;
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("clip.avi")));
  for (int i = 0; i < 4; ++i) {
    written.push_back(makeFrame(5, 3, i, 1000 + 40 * i));
    writer.writeFrame(written.back());
  }
  writer.close();

  AVIFileReader reader;
  EXPECT_EQ(reader.getFrameIndex(), 0);
  EXPECT_FALSE(reader.getEof());
  ASSERT_TRUE(reader.openFile(dir_.file("clip.avi")));
  EXPECT_EQ(reader.format(), ImageBuffer::IMAGE_I420);
  EXPECT_EQ(reader.getFileName(), dir_.file("clip.avi"));
  for (int i = 0; i < 4; ++i) {
    Duration duration;
    auto frame = reader.readFrame(&duration);
    ASSERT_TRUE(frame) << i;
    EXPECT_EQ(frame->format().pixel_format_, ImageBuffer::IMAGE_I420);
    EXPECT_EQ(frame->width(), 5);
    EXPECT_EQ(frame->height(), 3);
    EXPECT_EQ(packedI420(*frame), packedI420(*written[i]));
    EXPECT_EQ(duration, Duration::fromSec(1.0 / 25));
    EXPECT_EQ(reader.getFrameIndex(), i + 1);
  }
  Duration duration = Duration::fromSec(1);
  EXPECT_FALSE(reader.readFrame(&duration));
  EXPECT_TRUE(reader.getEof());
  EXPECT_EQ(duration, Duration());
  EXPECT_EQ(reader.getTimestamps(),
            (std::vector<int64_t>{1000000000, 1040000000, 1080000000, 1120000000}));
}

TEST_F(AVIFileReaderTest, FileListsPlayInOrderWithFrameLimits) {
  avi_testing::writeClip(dir_.file("a.avi"), 4, 2, 5);
  avi_testing::writeClip(dir_.file("b.avi"), 6, 4, 3);
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(dir_.file("a.avi") + ":2," + dir_.file("b.avi")));
  auto frames = readAll(reader);
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(packedI420(*frames[1]), packedI420(*makeFrame(4, 2, 1)));
  EXPECT_EQ(frames[2]->width(), 6);
  EXPECT_EQ(packedI420(*frames[4]), packedI420(*makeFrame(6, 4, 2)));
  EXPECT_TRUE(reader.getEof());

  // A final ":" or a limit beyond 32 bits is part of the file name.
  for (std::string const name : {"odd.avi:", "odd.avi:99999999999"}) {
    avi_testing::writeClip(dir_.file(name), 4, 2, 2);
    AVIFileReader whole;
    ASSERT_TRUE(whole.openFile(dir_.file(name))) << name;
    EXPECT_EQ(readAll(whole).size(), 2u) << name;
  }
  AVIFileReader none;
  EXPECT_FALSE(none.openFile(","));
}

TEST_F(AVIFileReaderTest, SkipsForeignChunksAndTakesTheRateFromTheStreamHeader) {
  avi_testing::writeClip(dir_.file("base.avi"), 4, 2, 2);
  std::string bytes = contentsOf(dir_.file("base.avi"));
  // An odd-sized audio chunk with its pad byte, and a JUNK chunk, before the frames.
  std::string const foreign = "01wb" + le32(3) + "abc" + '\0' + "JUNK" + le32(2) + "zz";
  bytes.insert(4108, foreign);
  putLe32(bytes, 4100, le32At(bytes, 4100) + static_cast<uint32_t>(foreign.size()));
  putLe32(bytes, 32, 0);         // no microseconds per frame
  putLe32(bytes, 108 + 24, 12);  // stream rate
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(write("foreign.avi", bytes)));
  Duration duration;
  auto frame = reader.readFrame(&duration);
  ASSERT_TRUE(frame);
  EXPECT_EQ(packedI420(*frame), packedI420(*makeFrame(4, 2, 0)));
  EXPECT_EQ(duration, Duration::fromSec(1.0 / 12));
  EXPECT_EQ(readAll(reader).size(), 1u);
}

struct Damage {
  char const* what;
  std::function<void(std::string&)> apply;
  char const* log_line;  // the specific refusal, or null when only the file is refused
};

TEST_F(AVIFileReaderTest, RefusesDamagedHeadersWithTheFailedCondition) {
  avi_testing::writeClip(dir_.file("base.avi"), 4, 2, 2);
  std::string const base = contentsOf(dir_.file("base.avi"));
  Damage const cases[] = {
      {"wrong magic", [](std::string& b) { b.replace(0, 4, "RIFX"); },
       "riff::readList(f_, \"RIFF\", &total_size, fourcc)"},
      {"wrong type", [](std::string& b) { b.replace(8, 4, "WAVE"); },
       "0 == strcmp(fourcc, \"AVI \")"},
      {"unknown handler", [](std::string& b) { b.replace(112, 4, "XVID"); },
       "format_ != ImageBuffer::IMAGE_UNKNOWN"},
      {"zero width", [](std::string& b) { putLe32(b, 64, 0); }, "width_ > 0"},
      {"negative height", [](std::string& b) { putLe32(b, 68, 0xFFFFFFFE); }, "height_ > 0"},
      {"no rate", [](std::string& b) { putLe32(b, 32, 0), putLe32(b, 132, 0); }, "fps_ > 0"},
      {"movi before hdrl", [](std::string& b) { b.insert(12, "LIST" + le32(4) + "movi"); },
       "width_ > 0"},
      {"hdrl larger than the file", [](std::string& b) { putLe32(b, 16, 0xFFFFFFF0); },
       "parseHdrl(pos + chunk.chunk_size)"},
      {"strl without strh", [](std::string& b) { b.replace(100, 4, "strx"); }, "parseStrl()"},
      {"info value larger than the file",
       [](std::string& b) { putLe32(b, b.size() - 28, 0x7FFFFFFF); },
       "parseInfo(pos + chunk.chunk_size)"},
      {"no movi", [](std::string& b) { b.replace(4104, 4, "mova"); }, nullptr},
      {"empty file", [](std::string& b) { b.clear(); },
       "riff::readList(f_, \"RIFF\", &total_size, fourcc)"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = base;
    c.apply(bytes);
    std::string const path = write("bad.avi", bytes);
    testing::LogCapture log("avi_file_reader:2,riff:2");
    AVIFileReader reader;
    EXPECT_FALSE(reader.openFile(path));
    if (c.log_line) {
      EXPECT_TRUE(log.contains(c.log_line));
    }
    EXPECT_TRUE(log.contains("Can't read AVI file " + path));
    Duration duration;
    EXPECT_FALSE(reader.readFrame(&duration));
  }
}

TEST_F(AVIFileReaderTest, DamagedFrameDataEndsOrSkipsWithoutHugeAllocations) {
  avi_testing::writeClip(dir_.file("base.avi"), 4, 2, 2);
  std::string const base = contentsOf(dir_.file("base.avi"));
  struct Case {
    char const* what;
    std::function<void(std::string&)> apply;
    int frames;  // -1: any number up to the two written
  } const cases[] = {
      // A first frame claiming 2 GB: null, and the next call reaches the end.
      {"frame larger than the file", [](std::string& b) { putLe32(b, 4112, 0x7FFFFFF0); }, 0},
      {"frame larger than 32-bit signed", [](std::string& b) { putLe32(b, 4112, 0xFFFFFFF0); }, 0},
      {"movi larger than the file", [](std::string& b) { putLe32(b, 4100, 0xFFFFFFF0); }, 2},
      // A frame too small for the stated I420 size is skipped (the rest of
      // it is then scanned as chunks).
      {"frame too small", [](std::string& b) { putLe32(b, 4112, 4); }, -1},
      {"absurd picture size",
       [](std::string& b) { putLe32(b, 64, 100000), putLe32(b, 68, 100000); }, 0},
      {"list with a size below its type",
       [](std::string& b) { b.replace(4108, 8, "LIST" + le32(0)); }, 0},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = base;
    c.apply(bytes);
    testing::LogCapture log("avi_file_reader:2");
    AVIFileReader reader;
    ASSERT_TRUE(reader.openFile(write("bad.avi", bytes)));
    // Null may come before the end; nothing more than the real frames follows.
    size_t frames = readAll(reader).size();
    frames += readAll(reader).size();
    if (c.frames >= 0) {
      EXPECT_EQ(frames, static_cast<size_t>(c.frames));
    } else {
      EXPECT_LE(frames, 2u);
    }
    Duration duration;
    EXPECT_FALSE(reader.readFrame(&duration));
    EXPECT_TRUE(reader.getEof());
  }
}

TEST_F(AVIFileReaderTest, EveryTruncationIsRefusedOrPlaysTheCompleteFrames) {
  avi_testing::writeClip(dir_.file("base.avi"), 4, 2, 2);
  std::string const base = contentsOf(dir_.file("base.avi"));
  testing::LogCapture quiet;  // the refusals are expected
  for (size_t length = 0; length < base.size(); ++length) {
    std::string const path = write("cut.avi", base.substr(0, length));
    AVIFileReader reader;
    bool const opened = reader.openFile(path);
    // Refused: no complete "movi" list header (4096..4108), or a chunk
    // header or "info" entry cut after the frames: "idx1" header at
    // 4148..4156, "info" list at 4188..4232.
    bool const header_complete =
        length >= 4108 && (length <= 4148 || (length >= 4156 && length <= 4188));
    EXPECT_EQ(opened, header_complete) << length;
    if (!opened) continue;
    size_t frames = readAll(reader).size();
    frames += readAll(reader).size();
    size_t const complete = length >= 4108 + 2 * 20 ? 2 : length >= 4108 + 20 ? 1 : 0;
    EXPECT_EQ(frames, complete) << length;
  }
}

}  // namespace
}  // namespace dravo::media
