// Recordings past the size of one RIFF list (OpenDML): written with a low
// limit so that small frames cross it many times, read back whole by our
// reader and by ffmpeg, cut short, damaged; and, in the plain build only,
// real recordings past 1 GiB and 4 GiB.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <functional>

#include "media_common/video/avi_file_reader.h"
#include "media_common/video/avi_file_writer.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define AVI_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define AVI_TEST_SANITIZED 1
#endif
#endif

namespace dravo::media {
namespace {

using avi_testing::contentsOf;
using avi_testing::le32At;
using avi_testing::makeFrame;
using avi_testing::packedI420;
using avi_testing::putLe32;

// A chunk of a file: its identifier (the type for "RIFF" and "LIST"), where
// its header stands, and its size field.
struct Chunk {
  std::string id;
  size_t position;
  uint32_t size;
};

// Every chunk of `bytes` in file order, inside RIFF and "movi" lists too.
std::vector<Chunk> walk(std::string const& bytes) {
  std::vector<Chunk> chunks;
  size_t at = 0;
  while (at + 12 <= bytes.size()) {
    std::string const id = bytes.substr(at, 4);
    uint32_t const size = le32At(bytes, at + 4);
    bool const list = id == "RIFF" || id == "LIST";
    chunks.push_back({list ? bytes.substr(at + 8, 4) : id, at, size});
    if (id == "RIFF" || (list && chunks.back().id == "movi"))
      at += 12;
    else
      at += 8 + size + (size & 1);
  }
  return chunks;
}

std::vector<Chunk> only(std::vector<Chunk> const& chunks, std::string const& id) {
  std::vector<Chunk> found;
  for (Chunk const& chunk : chunks)
    if (chunk.id == id) found.push_back(chunk);
  return found;
}

class AVIOpenDMLTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 160;
  static constexpr int kHeight = 120;
  static constexpr int kFrames = 24;
  // Three 160x120 frames and their indexes fit below it.
  static constexpr int64_t kRiffLimit = 100000;

  // Records kFrames distinct frames, 40 ms apart, with metadata halfway.
  std::string record(char const* name) {
    std::string const path = dir_.file(name);
    AVIFileWriter writer;
    writer.setRiffSizeLimit(kRiffLimit);
    EXPECT_TRUE(writer.openFile(path));
    for (int i = 0; i < kFrames; ++i) {
      auto frame = makeFrame(kWidth, kHeight, i, 1000 + 40 * i);
      if (frames_.size() < kFrames) frames_.push_back(packedI420(*frame));
      writer.writeFrame(frame);
      if (i == kFrames / 2) writer.appendMetadata("note", "half");
    }
    writer.close();
    return path;
  }
  // Frames our reader returns from `path` (at most kFrames + 1), checked
  // against the recorded ones.
  size_t readBack(std::string const& path, AVIFileReader& reader) {
    EXPECT_TRUE(reader.openFile(path));
    size_t count = 0;
    Duration duration;
    while (auto frame = reader.readFrame(&duration)) {
      if (count >= frames_.size()) return count + 1;
      EXPECT_TRUE(packedI420(*frame) == frames_[count]) << "frame " << count;
      ++count;
    }
    return count;
  }
  std::string write(std::string const& name, std::string const& bytes) {
    EXPECT_TRUE(File::writeStringToFile(dir_.file(name), bytes));
    return dir_.file(name);
  }

  testing::ScopedTempDir dir_;
  std::vector<std::string> frames_;
};

// Every frame and timestamp comes back from eight RIFF lists, none above the
// limit, the header area still 4096 bytes; ffmpeg decodes the same frames.
TEST_F(AVIOpenDMLTest, RecordingAcrossManyRiffListsReadsBackWhole) {
  std::string const path = record("long.avi");
  std::string const bytes = contentsOf(path);
  std::vector<Chunk> const chunks = walk(bytes);
  std::vector<Chunk> const extensions = only(chunks, "AVIX");
  ASSERT_EQ(extensions.size(), 7u);
  EXPECT_EQ(only(chunks, "ix00").size(), 8u);
  EXPECT_LE(le32At(bytes, 4) + 8, kRiffLimit);
  for (Chunk const& riff : extensions) EXPECT_LE(riff.size + 8, kRiffLimit);
  EXPECT_EQ(bytes.substr(4096, 4), "LIST");
  EXPECT_EQ(bytes.substr(4104, 4), "movi");
  // The first RIFF list ends with "idx1" for its own three frames.
  EXPECT_EQ(only(chunks, "idx1").at(0).size, 3u * 16);
  EXPECT_EQ(extensions[0].position, le32At(bytes, 4) + 8);

  AVIFileReader reader;
  EXPECT_EQ(readBack(path, reader), size_t{kFrames});
  EXPECT_EQ(reader.riffSegments(), 8);
  EXPECT_EQ(reader.declaredTotalFrames(), kFrames);
  EXPECT_FALSE(reader.truncated());
  std::vector<int64_t> stamps;
  for (int i = 0; i < kFrames; ++i) stamps.push_back(int64_t{1000 + 40 * i} * 1000000);
  EXPECT_EQ(reader.getTimestamps(), stamps);
  EXPECT_EQ(reader.metadata().at("note").at(0), "half");

  if (testing::haveTool("ffmpeg") && testing::haveTool("ffprobe"))
    testing::expectFfmpegPlays(path, kWidth, kHeight, "25/1", frames_);
}

// A recording cut short anywhere after its first RIFF list plays up to its
// last complete frame, in our reader and in ffprobe.
TEST_F(AVIOpenDMLTest, CutShortRecordingPlaysToItsLastCompleteFrame) {
  std::string const bytes = contentsOf(record("long.avi"));
  std::vector<Chunk> const chunks = walk(bytes);
  std::vector<size_t> frame_ends;
  for (Chunk const& frame : only(chunks, "00dc"))
    frame_ends.push_back(frame.position + 8 + frame.size);
  std::vector<Chunk> const extensions = only(chunks, "AVIX");
  std::vector<Chunk> const indexes = only(chunks, "ix00");
  size_t const cuts[] = {
      extensions[0].position + 6,    // inside the header of the second RIFF list
      extensions[0].position + 124,  // inside its first frame
      frame_ends[4],                 // right after its second frame
      indexes[1].position + 20,      // inside its standard index
      extensions[1].position + 16,   // inside the "movi" header of the third
      bytes.size() - 10,             // inside the metadata at the end
  };
  bool const ffprobe = testing::haveTool("ffprobe");
  for (size_t cut : cuts) {
    SCOPED_TRACE(::testing::Message() << "cut at " << cut);
    size_t complete = 0;
    while (complete < frame_ends.size() && frame_ends[complete] <= cut) ++complete;
    std::string const path = write("cut.avi", bytes.substr(0, cut));
    testing::LogCapture quiet;
    AVIFileReader reader;
    EXPECT_EQ(readBack(path, reader), complete);
    EXPECT_TRUE(reader.truncated());
    if (ffprobe) {
      EXPECT_EQ(testing::ffprobeFrameCount(path), static_cast<int>(complete));
    }
  }
}

// Damaged extension lists never make the reader read outside the file,
// repeat a frame or lose one that is intact.
TEST_F(AVIOpenDMLTest, DamagedExtensionsAreBoundedByTheFile) {
  std::string const base = contentsOf(record("long.avi"));
  std::vector<Chunk> const chunks = walk(base);
  size_t const second = only(chunks, "AVIX").at(0).position;
  size_t const second_movi = only(chunks, "movi").at(1).position;
  size_t const super_index = base.find("indx");
  ASSERT_NE(super_index, std::string::npos);
  struct Case {
    char const* what;
    std::function<void(std::string&)> apply;
  } const cases[] = {
      {"RIFF list larger than the file",
       [&](std::string& b) { putLe32(b, second + 4, 0xFFFFFFF0); }},
      {"movi list larger than the file",
       [&](std::string& b) { putLe32(b, second_movi + 4, 0xFFFFFFF0); }},
      {"super index pointing outside the file",
       [&](std::string& b) {
         putLe32(b, super_index + 32, 0xFFFFFF00);
         putLe32(b, super_index + 36, 0x7FFFFFFF);
         putLe32(b, super_index + 40, 0xFFFFFFFF);
       }},
      {"empty RIFF list and empty movi list",
       [&](std::string& b) {
         b.insert(second, std::string("RIFF\4\0\0\0AVIX", 12) +
                              std::string("RIFF\20\0\0\0AVIXLIST\4\0\0\0movi", 24));
       }},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = base;
    c.apply(bytes);
    testing::LogCapture quiet;
    AVIFileReader reader;
    size_t const frames = readBack(write("bad.avi", bytes), reader);
    EXPECT_EQ(frames, size_t{kFrames});
  }
}

// A plain file whose "movi" list grew past 4 GiB, so that its 32-bit size
// wrapped (as writers without the extension leave it): the reader follows the
// list to the "idx1" behind its real end. Two 2 GiB "JUNK" chunks make the
// size; the file is sparse, so it costs no disk.
TEST_F(AVIOpenDMLTest, PlainFileWithAWrappedMoviSizeReadsWhole) {
  avi_testing::writeClip(dir_.file("small.avi"), 4, 2, 2);
  std::string const base = contentsOf(dir_.file("small.avi"));
  int64_t const junk = int64_t{1} << 31;
  std::string const path = dir_.file("wrapped.avi");
  {
    auto f = File::open(path, File::kWrite);
    ASSERT_TRUE(f);
    std::string head = base.substr(0, 4128);  // the headers and the first frame
    putLe32(head, 4100, le32At(base, 4100) + 2 * (8 + junk));
    putLe32(head, 4, le32At(base, 4) + 2 * (8 + junk));
    f->write(head);
    for (int i = 0; i < 2; ++i) {
      f->write(std::string("JUNK\0\0\0\x80", 8));
      f->seek(f->tell() + junk);
    }
    f->write(base.substr(4128));  // the second frame, "idx1" and "info"
  }
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(path));
  std::vector<std::string> frames;
  Duration duration;
  while (auto frame = reader.readFrame(&duration)) frames.push_back(packedI420(*frame));
  EXPECT_EQ(frames, (std::vector<std::string>{packedI420(*makeFrame(4, 2, 0)),
                                              packedI420(*makeFrame(4, 2, 1))}));
  EXPECT_EQ(reader.getTimestamps().size(), 2u);
}

#ifndef AVI_TEST_SANITIZED
// Real sizes, in the plain build only (gigabytes of file traffic would add
// minutes under the sanitizers without testing anything more). The files go
// to memory (/dev/shm) where it has room, so that neither the disk's speed
// nor the page cache's writeback limits decide how long the tests take.

void putLe32Into(unsigned char* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t le32From(unsigned char const* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A fresh folder for files of gigabytes, removed with its contents.
class BigFileDir {
 public:
  BigFileDir() {
    std::string pattern = (hasRoom("/dev/shm") ? std::string("/dev/shm/") : ::testing::TempDir()) +
                          "dravo_big.XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~BigFileDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  bool usable() const { return !path_.empty() && hasRoom(path_); }
  std::string const& path() const { return path_; }
  std::string file(char const* name) const { return path_ + "/" + name; }

 private:
  static bool hasRoom(std::string const& folder) {
    struct statvfs info = {};
    return statvfs(folder.c_str(), &info) == 0 &&
           uint64_t{info.f_bavail} * info.f_frsize > (uint64_t{6} << 30);
  }
  std::string path_;
};

// A recording past 4 GiB, where 32-bit sizes wrap: every frame comes back,
// in our reader and in ffprobe.
TEST_F(AVIOpenDMLTest, RecordingPast4GiBReadsBackWhole) {
  constexpr int kBigWidth = 3840;
  constexpr int kBigHeight = 2160;
  constexpr int kBigFrames = 360;  // 12.4 MB each: 4.48 GB
  BigFileDir big;
  if (!big.usable()) GTEST_SKIP() << "no room for 4.5 GB in " << big.path();
  std::string const path = big.file("big.avi");
  {
    AVIFileWriter writer;
    ASSERT_TRUE(writer.openFile(path));
    auto frame = std::make_shared<ImageBuffer>(kBigWidth, kBigHeight, ImageBuffer::IMAGE_I420);
    frame->setPriority(1);
    for (int i = 0; i < kBigFrames; ++i) {
      // The same picture with the frame number in its first bytes.
      putLe32Into(frame->getPixelAddress(0, 0, 0), i);
      frame->setStartTimestamp(Time::fromNSec(int64_t{i} * 40000000));
      writer.writeFrame(frame);
    }
  }
  ASSERT_GT(File::open(path, File::kRead)->size(), int64_t{1} << 32);
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(path));
  EXPECT_EQ(reader.riffSegments(), 5);
  int frames = 0;
  Duration duration;
  while (auto frame = reader.readFrame(&duration)) {
    EXPECT_EQ(le32From(frame->getPixelAddress(0, 0, 0)), static_cast<uint32_t>(frames));
    ++frames;
  }
  EXPECT_EQ(frames, kBigFrames);
  EXPECT_EQ(reader.getTimestamps().size(), size_t{kBigFrames});
  if (testing::haveTool("ffprobe")) {
    EXPECT_EQ(testing::ffprobeFrameCount(path), kBigFrames);
  }
}

// ffmpeg's own recording past 1 GiB reads whole.
TEST_F(AVIOpenDMLTest, FfmpegRecordingPast1GiBReadsWhole) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  BigFileDir big;
  if (!big.usable()) GTEST_SKIP() << "no room for 1.1 GB in " << big.path();
  std::string const path = big.file("ffmpeg.avi");
  // 360 frames of 1080p I420: 1.12 GB.
  testing::commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=1920x1080:rate=25 -frames:v 360 -c:v rawvideo "
      "-pix_fmt yuv420p -y '" +
      path + "'");
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(path));
  EXPECT_EQ(reader.riffSegments(), 2);
  int frames = 0;
  std::shared_ptr<ImageBuffer> last;
  Duration duration;
  while (auto frame = reader.readFrame(&duration)) {
    last = frame;
    ++frames;
  }
  EXPECT_EQ(frames, 360);
  ASSERT_TRUE(last);
  std::string const expected = testing::commandOutput(
      "ffmpeg -v error -i '" + path + "' -vf 'select=eq(n\\,359)' -f rawvideo -pix_fmt yuv420p -");
  EXPECT_TRUE(packedI420(*last) == expected);
}
#endif

}  // namespace
}  // namespace dravo::media
