#include "media_common/wire_lengths_check.h"

#include <google/protobuf/descriptor.h>

#include <cstdint>

namespace dravo::media {

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

// protobuf refuses deeper nesting itself; stopping there bounds our stack.
constexpr int kMaxDepth = 100;

enum WireType {
  kVarint = 0,
  kFixed64 = 1,
  kLengthDelimited = 2,
  kStartGroup = 3,
  kEndGroup = 4,
  kFixed32 = 5
};

class Walker {
 public:
  Walker(const uint8_t* data, size_t size) : pos_(data), end_(data + size) {}

  // Walks fields until the end of the range, or until the end-group tag of
  // `group_number` when that is not 0.
  bool walk(Descriptor const* descriptor, int depth, uint32_t group_number) {
    if (depth > kMaxDepth) return false;
    while (pos_ < end_) {
      uint64_t tag = 0;
      if (!readVarint(&tag) || tag > UINT32_MAX) return false;
      auto const number = static_cast<uint32_t>(tag >> 3);
      if (number == 0) return false;
      switch (tag & 7) {
        case kVarint: {
          uint64_t ignored;
          if (!readVarint(&ignored)) return false;
          break;
        }
        case kFixed64:
          if (!skip(8)) return false;
          break;
        case kFixed32:
          if (!skip(4)) return false;
          break;
        case kLengthDelimited: {
          uint64_t length = 0;
          if (!readVarint(&length) || length > static_cast<uint64_t>(end_ - pos_)) return false;
          FieldDescriptor const* field = find(descriptor, number);
          if (field && field->type() == FieldDescriptor::TYPE_MESSAGE) {
            Walker nested(pos_, static_cast<size_t>(length));
            if (!nested.walk(field->message_type(), depth + 1, 0)) return false;
          }
          pos_ += length;
          break;
        }
        case kStartGroup: {
          FieldDescriptor const* field = find(descriptor, number);
          Descriptor const* group = field && field->type() == FieldDescriptor::TYPE_GROUP
                                        ? field->message_type()
                                        : nullptr;
          if (!walk(group, depth + 1, number)) return false;
          break;
        }
        case kEndGroup:
          return number == group_number;
        default:
          return false;
      }
    }
    return group_number == 0;
  }

 private:
  // Only length-delimited fields and groups need their declaration.
  static FieldDescriptor const* find(Descriptor const* descriptor, uint32_t number) {
    return descriptor ? descriptor->FindFieldByNumber(static_cast<int>(number)) : nullptr;
  }

  bool readVarint(uint64_t* value) {
    uint64_t result = 0;
    for (int shift = 0; shift < 64 && pos_ < end_; shift += 7) {
      uint8_t const byte = *pos_++;
      result |= static_cast<uint64_t>(byte & 0x7f) << shift;
      if ((byte & 0x80) == 0) {
        *value = result;
        return true;
      }
    }
    return false;
  }

  bool skip(size_t count) {
    if (static_cast<size_t>(end_ - pos_) < count) return false;
    pos_ += count;
    return true;
  }

  const uint8_t* pos_;
  const uint8_t* const end_;
};

}  // namespace

bool protoLengthsFit(const char* data, size_t size, Descriptor const* descriptor) {
  if (size == 0) return true;
  if (!data) return false;
  Walker walker(reinterpret_cast<const uint8_t*>(data), size);
  return walker.walk(descriptor, 0, 0);
}

}  // namespace dravo::media
