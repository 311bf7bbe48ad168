#include "media_common/video/avi_chunks.h"

namespace dravo::media::avi_chunks {

namespace {

constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;

}  // namespace

HeaderBytes& HeaderBytes::u16(uint32_t value) {
  bytes_.push_back(static_cast<char>(value));
  bytes_.push_back(static_cast<char>(value >> 8));
  return *this;
}

HeaderBytes& HeaderBytes::u32(uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>(value >> (8 * i)));
  return *this;
}

HeaderBytes& HeaderBytes::u64(uint64_t value) {
  return u32(static_cast<uint32_t>(value)).u32(static_cast<uint32_t>(value >> 32));
}

HeaderBytes& HeaderBytes::code(char const* fourcc) {
  bytes_.append(fourcc, 4);
  return *this;
}

HeaderBytes& HeaderBytes::zeros(size_t count) {
  bytes_.append(count, '\0');
  return *this;
}

std::string standardIndex(int64_t movi_type_position, FrameEntry const* frames, size_t count) {
  HeaderBytes index;
  index.code("ix00")
      .u32(standardIndexSize(count) - 8)
      .u16(2)  // 32-bit words per entry
      .u16(uint32_t{kIndexOfChunks} << 8)
      .u32(static_cast<uint32_t>(count))
      .code("00dc")
      .u64(static_cast<uint64_t>(movi_type_position))
      .u32(0);
  for (size_t i = 0; i < count; ++i)
    index.u32(static_cast<uint32_t>(frames[i].position + 8 - movi_type_position))
        .u32(frames[i].size);  // bit 31 clear: a key frame
  return index.bytes();
}

std::string superIndex(std::vector<SegmentIndex> const& segments) {
  HeaderBytes index;
  index.code("indx")
      .u32(superIndexSize(segments.size()) - 8)
      .u16(4)  // 32-bit words per entry
      .u16(uint32_t{kIndexOfIndexes} << 8)
      .u32(static_cast<uint32_t>(segments.size()))
      .code("00dc")
      .zeros(12);
  for (SegmentIndex const& segment : segments)
    index.u64(static_cast<uint64_t>(segment.position)).u32(segment.size).u32(segment.frames);
  return index.bytes();
}

std::string odmlList(uint32_t total_frames) {
  HeaderBytes list;
  list.code("LIST").u32(kOdmlListSize - 8).code("odml").code("dmlh").u32(248).u32(total_frames);
  list.zeros(244);
  return list.bytes();
}

}  // namespace dravo::media::avi_chunks
