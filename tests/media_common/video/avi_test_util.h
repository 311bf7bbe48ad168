#pragma once
// Helpers for the AVI tests: distinct I420 frames, their packed bytes,
// little-endian fields of file contents, and a fixture that reads files back.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/file.h"
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/avi_file_writer.h"
#include "media_common/video/image_buffer.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media::avi_testing {

// An I420 frame whose bytes depend on `seed`, stamped `stamp_ms`.
inline std::shared_ptr<ImageBuffer> makeFrame(int width, int height, int seed,
                                              int64_t stamp_ms = 0) {
  auto frame = std::make_shared<ImageBuffer>(width, height, ImageBuffer::IMAGE_I420);
  for (int p = 0; p < static_cast<int>(frame->planes().size()); ++p) {
    ImageBuffer::Plane const& plane = frame->planes()[p];
    for (int y = 0; y < plane.height_; ++y)
      for (int x = 0; x < plane.width_; ++x)
        *frame->getPixelAddress(x, y, p) =
            static_cast<unsigned char>(seed * 37 + p * 50 + x * 3 + y * 7);
  }
  frame->setStartTimestamp(Time::fromNSec(stamp_ms * 1000000));
  frame->setPriority(1);
  return frame;
}

// The planes of an I420 frame one after the other, without stride padding.
inline std::string packedI420(ImageBuffer const& frame) {
  std::string bytes;
  for (int p = 0; p < static_cast<int>(frame.planes().size()); ++p) {
    ImageBuffer::Plane const& plane = frame.planes()[p];
    for (int y = 0; y < plane.height_; ++y)
      bytes.append(reinterpret_cast<char const*>(frame.getPixelAddress(0, y, p)), plane.width_);
  }
  return bytes;
}

// The packed bytes of makeFrame's frames with seeds `first` to `first + count - 1`.
inline std::vector<std::string> packedFrames(int width, int height, int count, int first = 0) {
  std::vector<std::string> frames;
  for (int i = first; i < first + count; ++i)
    frames.push_back(packedI420(*makeFrame(width, height, i)));
  return frames;
}

inline std::string contentsOf(std::string const& path) {
  std::string contents;
  File::readFileToStringIfExists(path, &contents, size_t{1} << 30);
  return contents;
}

inline uint32_t le32At(std::string const& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(bytes.at(offset + i));
  return value;
}

inline void putLe32(std::string& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}

// Records `count` frames of `width` x `height` (seeds from 0), `interval_ms` apart.
inline void writeClip(std::string const& path, int width, int height, int count,
                      int64_t interval_ms = 40) {
  AVIFileWriter writer;
  writer.openFile(path);
  for (int i = 0; i < count; ++i) writer.writeFrame(makeFrame(width, height, i, i * interval_ms));
  writer.close();
}

// Video files in a temporary folder, written as bytes and read back whole
// (by name: AVI files).
class AVITest : public ::testing::Test {
 protected:
  std::string write(std::string const& name, std::string const& bytes) {
    EXPECT_TRUE(File::writeStringToFile(dir_.file(name), bytes));
    return dir_.file(name);
  }
  // The packed frames `reader` returns until the first null, at most 100.
  std::vector<std::string> readAll(VideoFileReader& reader) {
    std::vector<std::string> frames;
    last_duration_ = Duration();
    Duration duration = Duration::fromSec(1);
    while (frames.size() < 100) {
      auto frame = reader.readFrame(&duration);
      if (!frame) break;
      frames.push_back(packedI420(*frame));
      last_duration_ = duration;
    }
    end_duration_ = duration;
    return frames;
  }
  std::vector<std::string> readAll(std::string const& path) {
    AVIFileReader reader;
    EXPECT_TRUE(reader.openFile(path)) << path;
    return readAll(reader);
  }

  testing::ScopedTempDir dir_;
  Duration last_duration_;  // of the last frame readAll() returned
  Duration end_duration_;   // that came with the null
};

}  // namespace dravo::media::avi_testing
