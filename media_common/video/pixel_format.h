#pragma once
// Pixel formats of image buffers and the rules that depend only on them.
//
// `ImageBuffer` re-exports everything here (`ImageBuffer::PixelFormat`,
// `ImageBuffer::IMAGE_I420`, ...); code outside this folder names them
// through `ImageBuffer`. Values and functions only; any thread.

#include <cstdint>
#include <ostream>

namespace dravo::media::image_format {

// Four-character codes: the lowest byte is the first character.
enum PixelFormat : uint32_t {
  IMAGE_UNKNOWN = 0x2D2D2D2D,           // "----"
  IMAGE_ANY = 0x2A2A2A2A,               // "****", a wildcard in the conversion table
  IMAGE_I420 = 0x32315659,              // "YV12", planes Y, U, V in this order
  IMAGE_ALIGNED_I420 = 0x30323441,      // "A420", laid out by a qvideo::QvI420, alignment 16
  IMAGE_CONSTRAINED_I420 = 0x30323443,  // "C420", width a multiple of 8, even height
  IMAGE_RGB24 = 0x33424752,             // "RGB3", bytes R, G, B
  IMAGE_BGR24 = 0x33524742,             // "BGR3", bytes B, G, R
  IMAGE_BGRX32 = 0x34524742,            // "BGR4", bytes B, G, R, ignored
  IMAGE_BGRA32 = 0x41524742,            // "BGRA", bytes B, G, R, alpha
  IMAGE_PLATFORM_BUFFER = 0x42505456,   // "VTPB", opaque, passed to textures as is
  IMAGE_YUYV = 0x56595559,              // "YUYV", packed 4:2:2
  IMAGE_JPEG = 0x4745504A,              // "JPEG", a complete JPEG file
  IMAGE_MJPEG = 0x47504A4D,             // "MJPG", JPEG without Huffman tables
  IMAGE_QV1 = 0x20315651,               // "QV1 ", a serialised qvideo::EncodedFrame
};

// Writes the four code characters, lowest byte first.
std::ostream& operator<<(std::ostream& out, const PixelFormat& format);

// Rough size of a frame per pixel, for buffer estimates; 10.0 for unknown values.
float estimatedBytesPerPixel(PixelFormat format);

// IMAGE_I420, IMAGE_ALIGNED_I420 and IMAGE_CONSTRAINED_I420.
bool isI420Variant(PixelFormat format);

// True when `a == b`, or `a` is a stricter I420 layout (aligned or
// constrained) and `b` is plain IMAGE_I420.
bool isSameOrMoreSpecificI420Format(PixelFormat a, PixelFormat b);

// IMAGE_CONSTRAINED_I420 for IMAGE_I420 frames whose size already meets its
// constraints; `format` otherwise.
PixelFormat idealFormat(PixelFormat format, unsigned width, unsigned height);

// Cuts the width down to a multiple of 8 and lets the height follow it,
// keeping the aspect ratio, rounded to an even value no larger than the
// input height rounded down to even. Sizes that already comply stay.
void constrainW8H2(unsigned width, unsigned height, unsigned* out_width, unsigned* out_height);

}  // namespace dravo::media::image_format
