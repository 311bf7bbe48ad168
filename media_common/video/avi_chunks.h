#pragma once
// The payloads of the AVI headers and indexes AVIFileWriter writes: a
// builder of little-endian fields, and the OpenDML index chunks of
// recordings that continue past the first RIFF list.
//
// Functions and a plain builder without shared state; any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "common/file.h"

namespace dravo::media::avi_chunks {

// Little-endian fields appended one after the other.
class HeaderBytes {
 public:
  HeaderBytes& u16(uint32_t value);
  HeaderBytes& u32(uint32_t value);
  HeaderBytes& u64(uint64_t value);
  HeaderBytes& code(char const* fourcc);
  HeaderBytes& zeros(size_t count);
  void writeTo(File& f) const { f.write(bytes_); }
  std::string const& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::string bytes_;
};

// One frame chunk of a recording: where its header stands, and its payload
// size.
struct FrameEntry {
  int64_t position;
  uint32_t size;
};

// One standard index chunk as the super index lists it.
struct SegmentIndex {
  int64_t position;  // of the "ix00" chunk header
  uint32_t size;     // of the whole chunk, header included
  uint32_t frames;
};

// Bytes of a standard index chunk ("ix00") of `count` entries.
constexpr uint32_t standardIndexSize(size_t count) {
  return static_cast<uint32_t>(8 + 24 + 8 * count);
}
// Bytes of a super index chunk ("indx") of `count` entries.
constexpr uint32_t superIndexSize(size_t count) {
  return static_cast<uint32_t>(8 + 24 + 16 * count);
}
// Bytes of the "odml" list with its "dmlh" header.
constexpr uint32_t kOdmlListSize = 12 + 8 + 248;

// The "ix00" chunk of the "00dc" frames `frames` of one "movi" list whose
// list type stands at `movi_type_position`: every frame a key frame, each
// entry pointing at its data relative to that position.
std::string standardIndex(int64_t movi_type_position, FrameEntry const* frames, size_t count);
// The "indx" chunk listing the standard indexes `segments`.
std::string superIndex(std::vector<SegmentIndex> const& segments);
// The "odml" list whose "dmlh" header counts `total_frames`.
std::string odmlList(uint32_t total_frames);

}  // namespace dravo::media::avi_chunks
