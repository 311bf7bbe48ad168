// The AVI writer and reader: the layout and rates we write, recordings past
// one RIFF list, and files of other writers, hostile or damaged.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/media_common/video/avi_test_util.h"
#include "tests/media_common/video/image_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/tool_checks.h"

namespace dravo::media::avi_testing {
namespace {

// `value` as `bytes` little-endian bytes.
std::string le(uint64_t value, int bytes = 4) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}

// Expects `bytes` to hold each text at its offset.
void expectAt(std::string const& bytes, std::vector<std::pair<size_t, std::string>> const& texts) {
  for (auto const& [at, text] : texts) EXPECT_EQ(bytes.substr(at, text.size()), text) << at;
}

// The headers fill exactly 4096 bytes, padded by JUNK, whatever follows.
// Metadata goes into the "info" list between the frames' timestamps, in the
// order it was appended. The reader gives back the frames (odd-sized, so
// each chunk is padded), their durations and timestamps.
TEST_F(AVITest, WriterLayoutIndexAndTimestampsWithMetadataInAppendOrder) {
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(dir_.file("clip.avi")));
  // 5x3 I420 frames have 27 bytes: odd, so each is followed by a pad byte.
  writer.writeFrame(makeFrame(5, 3, 1, 1000));
  writer.appendMetadata("ab", "xyz");
  writer.writeFrame(makeFrame(5, 3, 2, 1040));
  writer.close();

  std::string const bytes = contentsOf(dir_.file("clip.avi"));
  ASSERT_EQ(bytes.size(), 4275u);
  // The stream header's frame count and largest frame; chunks of 27 bytes;
  // the second index entry (key frame, offset from "movi", size); metadata
  // values are not padded.
  expectAt(bytes, {{0, "RIFF" + le(4275 - 8)},
                   {288, "JUNK" + le(3800) + std::string(3800, '#')},
                   {108 + 32, le(2) + le(27)},
                   {4144, "00dc" + le(27)},
                   {4180, "idx1" + le(32)},
                   {4204, "00dc" + le(0x10) + le(40) + le(27)},
                   {4220, "LIST" + le(4 + 2 * 16 + 8 + 3) + "infotm64" + le(8) + le(1000000000, 8) +
                              "ab  " + le(3) + "xyz" + "tm64" + le(8) + le(1040000000, 8)}});

  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(dir_.file("clip.avi")));
  EXPECT_EQ(readAll(reader), packedFrames(5, 3, 2, 1));
  EXPECT_EQ(last_duration_, Duration::fromSec(1.0 / 25));
  EXPECT_EQ(end_duration_, Duration());
  EXPECT_EQ(reader.getTimestamps(), (std::vector<int64_t>{1000000000, 1040000000}));
}

// With no frame the file holds only headers, an empty "movi" list and an
// empty "idx1": exactly 4116 bytes, whatever the writer recorded before.
TEST_F(AVITest, WriterEmptyRecordingIsHeadersOnlyWhateverCameBefore) {
  AVIFileWriter fresh;
  ASSERT_TRUE(fresh.openFile(dir_.file("fresh.avi")));
  fresh.close();
  std::string const empty = contentsOf(dir_.file("fresh.avi"));
  ASSERT_EQ(empty.size(), 4116u);
  expectAt(empty, {{0, "RIFF" + le(4108)}, {4096, "LIST" + le(4) + "movi" + "idx1" + le(0)}});

  AVIFileWriter reused;
  ASSERT_TRUE(reused.openFile(dir_.file("full.avi")));
  for (int i = 0; i < 3; ++i) reused.writeFrame(makeFrame(6, 4, i, i * 100));
  ASSERT_TRUE(reused.openFile(dir_.file("again.avi")));
  reused.close();
  EXPECT_EQ(contentsOf(dir_.file("again.avi")), empty);
}

// Without a set rate it is estimated from the timestamps (at most 30, and 30
// when they stand still); a set rate is carried exactly, whatever they say.
TEST_F(AVITest, WriterEstimatesTheFrameRateUnlessSet) {
  struct Case {
    int frames;
    int64_t interval_ms;
    double set_fps;
    uint32_t rate, scale, usec_per_frame;
  } const cases[] = {
      {3, 143, 0, 5, 1, 200000},          {4, 17, 0, 30, 1, 33333},    {3, 0, 0, 30, 1, 33333},
      {3, 40, 29.97, 30000, 1001, 33367}, {3, 40, 12.5, 25, 2, 80000},
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

// Every I420 size change starts a part file, named by the shared rule: a
// folder named like a recording is left alone (the sink's test records
// upper-case names). Compressed frames of another size stay in the file
// and are read back as stored; the destructor completes it.
TEST_F(AVITest, WriterSplitsI420SizeChangesIntoPartFilesOnly) {
  std::filesystem::create_directory(dir_.file("d.avi"));
  auto part = [&](int i) { return dir_.file(i ? "d.avi/c_part" + std::to_string(i) : "d.avi/c"); };
  AVIFileWriter writer;
  ASSERT_TRUE(writer.openFile(part(0)));
  for (int i = 0; i < 3; ++i) {
    writer.writeFrame(makeFrame(i % 2 ? 6 : 4, 2 + i, i, i * 40));
    EXPECT_EQ(writer.filename(), part(i));
  }
  writer.close();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(readAll(part(i)), packedFrames(i % 2 ? 6 : 4, 2 + i, 1, i));
  {
    AVIFileWriter qv1;
    ASSERT_TRUE(qv1.openFile(dir_.file("qv1.avi")));
    for (int size : {16, 32})
      qv1.writeFrame(image_testing::wrapEncoded(image_testing::Bytes(3, size),
                                                ImageBuffer::IMAGE_QV1, size, size));
  }
  EXPECT_FALSE(File::exists(dir_.file("qv1_part1.avi")));
  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(dir_.file("qv1.avi")));
  Duration duration;
  for (char size : {16, 32}) {
    auto const frame = reader.readFrame(&duration);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->format().pixel_format_, ImageBuffer::IMAGE_QV1);
    EXPECT_EQ(std::string(frame->data(), frame->data() + frame->size()), std::string(3, size));
  }
}

// Where the chunks named `id` (the type for "RIFF" and "LIST") stand in
// `bytes`, in file order, inside RIFF and "movi" lists too.
std::vector<size_t> chunks(std::string const& bytes, std::string const& id) {
  std::vector<size_t> found;
  for (size_t at = 0; at + 12 <= bytes.size();) {
    uint32_t const size = le32At(bytes, at + 4);
    bool const riff = bytes.substr(at, 4) == "RIFF", list = bytes.substr(at, 4) == "LIST";
    std::string const name = riff || list ? bytes.substr(at + 8, 4) : bytes.substr(at, 4);
    if (name == id) found.push_back(at);
    at += riff || (list && name == "movi") ? 12 : 8 + size + (size & 1);
  }
  return found;
}

// Recordings past the size of one RIFF list (OpenDML), written with a low
// limit so that small frames of an odd size (rows and chroma not
// word-sized, chunks padded) cross it many times.
class AVIOpenDMLTest : public AVITest {
 protected:
  static constexpr int kWidth = 161;
  static constexpr int kHeight = 121;
  static constexpr int kFrames = 24;
  // Three frames and their indexes fit below it.
  static constexpr int64_t kRiffLimit = 100000;

  void SetUp() override {
    AVIFileWriter writer;
    writer.setRiffSizeLimit(kRiffLimit);
    ASSERT_TRUE(writer.openFile(path_));
    for (int i = 0; i < kFrames; ++i) {
      writer.writeFrame(makeFrame(kWidth, kHeight, i, 1000 + 40 * i));
      if (i == kFrames / 2) writer.appendMetadata("note", "half");
    }
    writer.close();
    bytes_ = contentsOf(path_);
  }
  // The first `count` frames recorded.
  std::vector<std::string> recorded(size_t count = kFrames) {
    return packedFrames(kWidth, kHeight, static_cast<int>(count));
  }

  std::string const path_ = dir_.file("long.avi");
  std::string bytes_;
};

// Every frame and timestamp comes back from eight RIFF lists, none above the
// limit, the header area still 4096 bytes; ffmpeg decodes the same frames.
TEST_F(AVIOpenDMLTest, RecordingAcrossManyRiffListsReadsBackWhole) {
  std::vector<size_t> const extensions = chunks(bytes_, "AVIX");
  ASSERT_EQ(extensions.size(), 7u);
  EXPECT_EQ(chunks(bytes_, "ix00").size(), 8u);
  EXPECT_EQ(extensions[0], le32At(bytes_, 4) + 8);
  for (size_t riff : extensions) EXPECT_LE(le32At(bytes_, riff + 4) + 8, kRiffLimit);
  EXPECT_LE(le32At(bytes_, 4) + 8, kRiffLimit);
  EXPECT_EQ(bytes_.substr(4104, 4), "movi");
  // The first RIFF list ends with "idx1" for its own three frames.
  EXPECT_EQ(le32At(bytes_, chunks(bytes_, "idx1").at(0) + 4), 3u * 16);

  AVIFileReader reader;
  ASSERT_TRUE(reader.openFile(path_));
  EXPECT_EQ(readAll(reader), recorded());
  EXPECT_EQ(reader.declaredTotalFrames(), kFrames);
  EXPECT_FALSE(reader.truncated());
  std::vector<int64_t> stamps;
  for (int i = 0; i < kFrames; ++i) stamps.push_back(int64_t{1000 + 40 * i} * 1000000);
  EXPECT_EQ(reader.getTimestamps(), stamps);
  EXPECT_EQ(reader.metadata().at("note").at(0), "half");

  if (testing::haveTool("ffmpeg") && testing::haveTool("ffprobe"))
    testing::expectFfmpegPlays(path_, kWidth, kHeight, "25/1", recorded());
}

// A recording cut short anywhere after its first RIFF list plays up to its
// last complete frame; damaged extension lists never make the reader read
// outside the file, repeat a frame or lose one that is intact.
TEST_F(AVIOpenDMLTest, CutOrDamagedExtensionsPlayTheIntactFrames) {
  std::vector<size_t> frame_ends;
  for (size_t frame : chunks(bytes_, "00dc"))
    frame_ends.push_back(frame + 8 + le32At(bytes_, frame + 4));
  size_t const second = chunks(bytes_, "AVIX").at(0), third = chunks(bytes_, "AVIX").at(1);
  size_t const second_movi = chunks(bytes_, "movi").at(1), super_index = bytes_.find("indx");
  ASSERT_NE(super_index, std::string::npos);
  auto cut = [](size_t at) { return [at](std::string& b) { b.resize(at); }; };
  std::function<void(std::string&)> const cases[] = {
      cut(second + 6),                         // inside the header of the second RIFF list
      cut(second + 124),                       // inside its first frame
      cut(frame_ends[4]),                      // right after its second frame
      cut(chunks(bytes_, "ix00").at(1) + 20),  // inside its standard index
      cut(third + 16),                         // inside the "movi" header of the third
      cut(bytes_.size() - 10),                 // inside the metadata at the end
      // the second RIFF list, or its "movi" list, larger than the file
      [&](std::string& b) { putLe32(b, second + 4, 0xFFFFFFF0); },
      [&](std::string& b) { putLe32(b, second_movi + 4, 0xFFFFFFF0); },
      // the super index pointing outside the file
      [&](std::string& b) {
        b.replace(super_index + 32, 12, le(0xFFFFFF00) + le(~0u >> 1) + le(~0u));
      },
      // an empty RIFF list and an empty "movi" list
      [&](std::string& b) {
        b.insert(second, std::string("RIFF\4\0\0\0AVIX", 12) +
                             std::string("RIFF\20\0\0\0AVIXLIST\4\0\0\0movi", 24));
      },
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    std::string bytes = bytes_;
    cases[i](bytes);
    bool const cut_short = bytes.size() < bytes_.size();
    size_t complete = 0;
    while (complete < frame_ends.size() && (!cut_short || frame_ends[complete] <= bytes.size()))
      ++complete;
    testing::LogCapture quiet;
    AVIFileReader reader;
    ASSERT_TRUE(reader.openFile(write("bad.avi", bytes)));
    EXPECT_EQ(readAll(reader), recorded(complete));
    EXPECT_TRUE(!cut_short || reader.truncated());
  }
}

// A plain file whose "movi" list grew past 4 GiB, so that its 32-bit size
// wrapped (as writers without the extension leave it): the reader follows the
// list to the "idx1" behind its real end. Two 2 GiB "JUNK" chunks make the
// size; the file is sparse, so it costs no disk.
TEST_F(AVITest, PlainFileWithAWrappedMoviSizeReadsWhole) {
  writeClip(dir_.file("small.avi"), 4, 2, 2);
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
  EXPECT_EQ(readAll(reader), packedFrames(4, 2, 2));
  EXPECT_EQ(reader.getTimestamps().size(), 2u);
}

// The main header's microseconds per frame give the whole-number rate of the
// durations; when they are 0 the stream header's rate does. The nominal rate
// is the stream header's rate / scale, else the main header's, unrounded.
TEST_F(AVITest, ReaderTakesTheRateFromTheMainHeaderElseTheStreamHeader) {
  writeClip(dir_.file("base.avi"), 4, 2, 2);
  std::string const base = contentsOf(dir_.file("base.avi"));
  struct Case {
    uint32_t usec_per_frame, rate, scale;
    double fps, nominal;
  } const cases[] = {{40000, 12, 1, 25, 12},
                     {0, 12, 1, 12, 12},
                     {0, 7, 0, 7, 7},
                     {33367, 30000, 1001, 29, 30000.0 / 1001},
                     {33367, 0, 1, 29, 1e6 / 33367}};
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.usec_per_frame << " us, " << c.rate << "/" << c.scale);
    std::string bytes = base;
    putLe32(bytes, 32, c.usec_per_frame);
    putLe32(bytes, 108 + 20, c.scale);
    putLe32(bytes, 108 + 24, c.rate);
    AVIFileReader reader;
    ASSERT_TRUE(reader.openFile(write("rate.avi", bytes)));
    EXPECT_DOUBLE_EQ(reader.nominalFrameRate(), c.nominal);
    EXPECT_EQ(readAll(reader).size(), 2u);
    EXPECT_EQ(last_duration_, Duration::fromSec(1.0 / c.fps));
  }
}

// A limit beyond 32 bits is part of the file name.
TEST_F(AVITest, ReaderPlaysFileListsInOrderWithFrameLimits) {
  writeClip(dir_.file("a.avi"), 4, 2, 5);
  writeClip(dir_.file("b.avi"), 6, 4, 3);
  std::vector<std::string> expected = packedFrames(4, 2, 2);
  for (auto const& frame : packedFrames(6, 4, 3)) expected.push_back(frame);
  EXPECT_EQ(readAll(dir_.file("a.avi") + ":2," + dir_.file("b.avi")), expected);
  writeClip(dir_.file("odd.avi:99999999999"), 4, 2, 2);
  EXPECT_EQ(readAll(dir_.file("odd.avi:99999999999")).size(), 2u);
  EXPECT_FALSE(AVIFileReader().openFile(","));
}

// Damaged headers are refused with a reason; damaged frame data ends or
// skips without huge allocations; foreign chunks are skipped; every
// truncation is refused or plays the complete frames.
TEST_F(AVITest, ReaderRefusesHostileAndTruncatedFilesOrEndsThemSafely) {
  writeClip(dir_.file("base.avi"), 4, 2, 2);
  std::string const base = contentsOf(dir_.file("base.avi"));
  constexpr int kAny = -1;  // up to the two written
  static std::string const kForeign("01wb\3\0\0\0abc\0JUNK\2\0\0\0zz", 22);
  using R = AVIFileReader;
  struct Case {
    char const* what;
    std::function<void(std::string&)> apply;
    R::OpenError reason;  // OPEN_OK: opens and plays `frames`
    int frames = 0;
  } const cases[] = {
      {"wrong magic", [](std::string& b) { b.replace(0, 4, "RIFX"); }, R::OPEN_NOT_AVI},
      {"wrong type", [](std::string& b) { b.replace(8, 4, "WAVE"); }, R::OPEN_NOT_AVI},
      {"unknown handler", [](std::string& b) { b.replace(112, 4, "XVID"); },
       R::OPEN_UNSUPPORTED_CODEC},
      {"negative height", [](std::string& b) { putLe32(b, 68, 0xFFFFFFFE); },
       R::OPEN_INVALID_HEADER},
      {"no rate", [](std::string& b) { putLe32(b, 32, 0), putLe32(b, 132, 0); },
       R::OPEN_INVALID_HEADER},
      {"movi before hdrl",
       [](std::string& b) { b.insert(12, std::string("LIST\4\0\0\0movi", 12)); },
       R::OPEN_NO_VIDEO_STREAM},
      {"audio stream only", [](std::string& b) { b.replace(108, 4, "auds"); },
       R::OPEN_NO_VIDEO_STREAM},
      {"hdrl larger than the file", [](std::string& b) { putLe32(b, 16, 0xFFFFFFF0); },
       R::OPEN_TRUNCATED_HEADER},
      {"strl without strh", [](std::string& b) { b.replace(100, 4, "strx"); },
       R::OPEN_INVALID_HEADER},
      {"info value larger than the file",
       [](std::string& b) { putLe32(b, b.size() - 28, ~0u >> 1); }, R::OPEN_DAMAGED_METADATA},
      {"no movi", [](std::string& b) { b.replace(4104, 4, "mova"); }, R::OPEN_NO_FRAME_DATA},
      {"frame larger than 32-bit signed", [](std::string& b) { putLe32(b, 4112, 0xFFFFFFF0); },
       R::OPEN_OK},
      {"movi larger than the file", [](std::string& b) { putLe32(b, 4100, 0xFFFFFFF0); },
       R::OPEN_OK, 2},
      // Skipped; the rest of it is then scanned as chunks.
      {"frame too small", [](std::string& b) { putLe32(b, 4112, 4); }, R::OPEN_OK, kAny},
      {"absurd picture size", [](std::string& b) { b.replace(64, 8, le(100000) + le(100000)); },
       R::OPEN_OK},
      // An odd-sized audio chunk with its pad byte, and a JUNK chunk.
      {"foreign chunks",
       [](std::string& b) { b.insert(4108, kForeign), putLe32(b, 4100, le32At(b, 4100) + 20); },
       R::OPEN_OK, 2},
      {"list with a size below its type",
       [](std::string& b) { b.replace(4108, 8, std::string("LIST\0\0\0\0", 8)); }, R::OPEN_OK},
      // The first frame inside a "rec " list, as interleaved files group it.
      {"rec list",
       [](std::string& b) {
         b.insert(4108, std::string("LIST\x18\0\0\0rec ", 12));
         putLe32(b, 4100, le32At(b, 4100) + 12);
       },
       R::OPEN_OK, 2},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = base;
    c.apply(bytes);
    std::string const path = write("bad.avi", bytes);
    testing::LogCapture log("avi_file_reader:2,riff:2");
    AVIFileReader reader;
    bool const refused = c.reason != R::OPEN_OK;
    ASSERT_EQ(reader.openFile(path), !refused);
    EXPECT_EQ(reader.openError(), c.reason);
    EXPECT_TRUE(!refused || log.contains("Can't read AVI file " + path));
    // Null may come before the end; nothing more than the real frames follows.
    size_t frames = readAll(reader).size();
    frames += readAll(reader).size();
    EXPECT_EQ(reader.truncated(), std::string(c.what) == "movi larger than the file");
    EXPECT_TRUE(refused || reader.getEof());
    EXPECT_EQ(frames, c.frames == kAny ? std::min<size_t>(frames, 2) : size_t(c.frames));
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
    if (!opened) continue;
    EXPECT_TRUE(reader.truncated()) << length;
    size_t frames = readAll(reader).size();
    frames += readAll(reader).size();
    EXPECT_EQ(frames, length >= 4108 + 2 * 20 ? 2u : length >= 4108 + 20 ? 1u : 0u) << length;
  }
}

// ffmpeg's recordings at 30000/1001 with an audio stream beside the video
// (listed first or second), in the raw layouts that differ from ours: planes
// swapped (YV12), exactly as ffmpeg decodes them, and bitmap rows (BGR24),
// bottom-up unless the height is negative as ffmpeg writes it, with luma
// within the rounding of RGB converters (a flipped picture is far off).
TEST_F(AVITest, ReaderReadsFfmpegRawLayoutsBesideAudio) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  for (bool const yv12 : {true, false}) {
    SCOPED_TRACE(yv12 ? "YV12" : "BGR24");
    std::string const path = dir_.file(yv12 ? "yv12.avi" : "bgr24.avi");
    testing::commandOutput(
        "ffmpeg -v error -f lavfi -i testsrc=size=33x17:rate=30000/1001 -f lavfi -i "
        "sine=sample_rate=8000 -t 0.1 -c:a pcm_s16le -c:v rawvideo " +
        std::string(yv12 ? "-map 1:a -map 0:v -pix_fmt yuv420p -vtag YV12"
                         : "-map 0:v -map 1:a -pix_fmt bgr24") +
        " -y '" + path + "'");
    std::vector<std::string> files = {path};
    if (!yv12) {
      std::string bytes = contentsOf(path);
      size_t const strf = bytes.find("strf");
      ASSERT_NE(strf, std::string::npos);
      putLe32(bytes, strf + 16, 17);
      files.push_back(write("bottom_up.avi", bytes));
    }
    for (std::string const& file : files) {
      SCOPED_TRACE(file);
      AVIFileReader reader;
      ASSERT_TRUE(reader.openFile(file));
      EXPECT_NEAR(reader.nominalFrameRate(), 29.97, 0.001);
      std::vector<std::string> const frames = readAll(reader);
      EXPECT_EQ(last_duration_, Duration::fromSec(1.0 / 29));
      std::vector<std::string> const expected = testing::ffmpegI420Frames(file, 33, 17);
      ASSERT_EQ(frames.size(), 3u);
      ASSERT_EQ(expected.size(), 3u);
      if (yv12) {
        EXPECT_EQ(frames, expected);
        continue;
      }
      double difference = 0;
      for (size_t i = 0; i < 3; ++i)
        for (size_t b = 0; b < 33 * 17; ++b)
          difference += std::abs(int(uint8_t(frames[i][b])) - int(uint8_t(expected[i][b])));
      EXPECT_LE(difference / (3 * 33 * 17), 1);
    }
  }
}

}  // namespace
}  // namespace dravo::media::avi_testing
