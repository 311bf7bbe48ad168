#include "qvideo/jpeg/mjpeg_decoder.h"

#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>
#include <turbojpeg.h>

#include <vector>

#include "common/logging.h"
#include "qvideo/jpeg/jpeg_markers.h"
#include "qvideo/jpeg/turbojpeg_handles.h"
#include "qvideo/jpeg/yuv_range.h"

DRAVO_LOGGER("mjpeg_decoder");

namespace dravo::jpeg {
namespace {

// A broken camera can send bad frames at full rate; one line a second is enough.
logging::ThrottledLoggingFilter& warningFilter() {
  static logging::ThrottledLoggingFilter filter(Duration::fromSec(1));
  return filter;
}

struct Planes {
  uint8_t* data_[3];
  int stride_[3];
  int width_[3];
  int height_[3];
};

bool validArguments(const uint8_t* data, size_t size, int width, int height, const Planes& out) {
  if (data == nullptr || size == 0 || width <= 0 || height <= 0) return false;
  for (int i = 0; i < 3; ++i)
    if (out.data_[i] == nullptr || out.stride_[i] < out.width_[i]) return false;
  return true;
}

// TurboJPEG pads each plane to whole chroma blocks (a 17x9 4:2:0 frame has
// an 18x10 luma plane), so it can decode straight into our planes only when
// its plane sizes are exactly ours.
bool decodesInPlace(int subsampling, const Planes& out) {
  if (subsampling != TJSAMP_420) return false;
  for (int i = 0; i < 3; ++i) {
    if (tjPlaneWidth(i, out.width_[0], subsampling) != out.width_[i] ||
        tjPlaneHeight(i, out.height_[0], subsampling) != out.height_[i])
      return false;
  }
  return true;
}

bool decodeToScratch(tjhandle handle, const uint8_t* jpeg, size_t jpeg_size, int subsampling,
                     const Planes& out) {
  int const component_count = subsampling == TJSAMP_GRAY ? 1 : 3;
  int plane_width[3];
  int plane_height[3];
  size_t plane_offset[3];
  size_t total = 0;
  for (int i = 0; i < component_count; ++i) {
    plane_width[i] = tjPlaneWidth(i, out.width_[0], subsampling);
    plane_height[i] = tjPlaneHeight(i, out.height_[0], subsampling);
    if (plane_width[i] <= 0 || plane_height[i] <= 0) return false;
    plane_offset[i] = total;
    total += static_cast<size_t>(plane_width[i]) * static_cast<size_t>(plane_height[i]);
  }
  // The size was checked against what the caller asked for, so this is no
  // more than the caller's own planes need.
  std::vector<uint8_t> scratch(total);
  unsigned char* planes[3] = {};
  for (int i = 0; i < component_count; ++i) planes[i] = scratch.data() + plane_offset[i];
  if (tjDecompressToYUVPlanes(handle, jpeg, jpeg_size, planes, out.width_[0], plane_width,
                              out.height_[0], 0) != 0)
    return false;

  libyuv::CopyPlane(planes[0], plane_width[0], out.data_[0], out.stride_[0], out.width_[0],
                    out.height_[0]);
  for (int i = 1; i < 3; ++i) {
    if (component_count == 1) {
      libyuv::SetPlane(out.data_[i], out.stride_[i], out.width_[i], out.height_[i], 128);
    } else {
      libyuv::ScalePlane(planes[i], plane_width[i], plane_width[i], plane_height[i], out.data_[i],
                         out.stride_[i], out.width_[i], out.height_[i], libyuv::kFilterBilinear);
    }
  }
  return true;
}

}  // namespace

bool decompressMJPEG(const uint8_t* data, size_t size, int width, int height, bool motion_jpeg,
                     uint8_t* y, int y_stride, uint8_t* u, int u_stride, uint8_t* v, int v_stride) {
  int const chroma_width = (width + 1) / 2;
  int const chroma_height = (height + 1) / 2;
  Planes const out = {{y, u, v},
                      {y_stride, u_stride, v_stride},
                      {width, chroma_width, chroma_width},
                      {height, chroma_height, chroma_height}};
  if (!validArguments(data, size, width, height, out)) {
    LOGF_FILTERED(warningFilter(), 3, "Invalid arguments for a %dx%d frame of %zu bytes", width,
                  height, size);
    return false;
  }

  const uint8_t* jpeg = data;
  size_t jpeg_size = size;
  std::vector<uint8_t> with_tables;
  if (motion_jpeg) {
    switch (findHuffmanTables(data, size)) {
      case HuffmanTablesPresence::kMalformed:
        LOGF_FILTERED(warningFilter(), 3, "Malformed MJPEG frame of %zu bytes", size);
        return false;
      case HuffmanTablesPresence::kAbsent:
        with_tables = insertStandardHuffmanTables(data, size);
        jpeg = with_tables.data();
        jpeg_size = with_tables.size();
        break;
      case HuffmanTablesPresence::kPresent:
        break;
    }
  }

  tjhandle handle = threadDecompressor();
  if (handle == nullptr) {
    LOGF_FILTERED(warningFilter(), 3, "Can't create a JPEG decompressor: %s",
                  tjGetErrorStr2(nullptr));
    return false;
  }
  int header_width = 0;
  int header_height = 0;
  int subsampling = 0;
  int colorspace = 0;
  if (tjDecompressHeader3(handle, jpeg, jpeg_size, &header_width, &header_height, &subsampling,
                          &colorspace) != 0) {
    LOGF_FILTERED(warningFilter(), 3, "Error decoding (M)JPEG header: %s", tjGetErrorStr2(handle));
    discardThreadDecompressor();
    return false;
  }
  if (header_width != width || header_height != height) {
    LOGF_FILTERED(warningFilter(), 3, "JPEG frame is %dx%d, expected %dx%d", header_width,
                  header_height, width, height);
    return false;
  }
  if (colorspace != TJCS_YCbCr && colorspace != TJCS_GRAY) {
    LOGF_FILTERED(warningFilter(), 3, "Unsupported JPEG colour space %d", colorspace);
    return false;
  }

  bool decoded;
  if (decodesInPlace(subsampling, out)) {
    // TurboJPEG reports warnings (such as a truncated scan it padded with
    // grey) as failures too, so a partial frame is refused here.
    unsigned char* planes[3] = {y, u, v};
    int strides[3] = {y_stride, u_stride, v_stride};
    decoded =
        tjDecompressToYUVPlanes(handle, jpeg, jpeg_size, planes, width, strides, height, 0) == 0;
  } else {
    decoded = decodeToScratch(handle, jpeg, jpeg_size, subsampling, out);
  }
  if (!decoded) {
    LOGF_FILTERED(warningFilter(), 3, "Error decoding (M)JPEG frame: %s", tjGetErrorStr2(handle));
    discardThreadDecompressor();
    return false;
  }

  mapPlaneRange(RangeMapping::kFullToLimited, SampleKind::kLuma, y, y_stride, y, y_stride, width,
                height);
  for (int i = 1; i < 3; ++i) {
    mapPlaneRange(RangeMapping::kFullToLimited, SampleKind::kChroma, out.data_[i], out.stride_[i],
                  out.data_[i], out.stride_[i], out.width_[i], out.height_[i]);
  }
  return true;
}

}  // namespace dravo::jpeg
