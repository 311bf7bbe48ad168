#include "qvideo/low_level.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#include <libyuv/cpu_id.h>

#include <mutex>

namespace qvideo {
namespace {

// libyuv treats a negative height as "flip vertically"; we never want that,
// and it reads nothing through null pointers, so the checks live here.
bool validPlane(const void* data, int stride, int row_bytes) {
  return data != nullptr && stride >= row_bytes;
}

bool validSize(int width, int height) { return width > 0 && height > 0; }

bool validI420(int width, int height, const void* y, int y_stride, const void* u, int u_stride,
               const void* v, int v_stride) {
  int const chroma_width = (width + 1) / 2;
  return validSize(width, height) && validPlane(y, y_stride, width) &&
         validPlane(u, u_stride, chroma_width) && validPlane(v, v_stride, chroma_width);
}

}  // namespace

void LowLevel::initIfNeeded() {
  static std::once_flag once;
  std::call_once(once, [] { libyuv::InitCpuFlags(); });
}

bool LowLevel::convertFromI420toBGRA8888(int width, int height, const uint8_t* y, int y_stride,
                                         const uint8_t* u, int u_stride, const uint8_t* v,
                                         int v_stride, uint8_t* destination,
                                         int destination_stride) {
  if (!validI420(width, height, y, y_stride, u, u_stride, v, v_stride) ||
      !validPlane(destination, destination_stride, 4 * width))
    return false;
  initIfNeeded();
  return libyuv::I420ToARGB(y, y_stride, u, u_stride, v, v_stride, destination, destination_stride,
                            width, height) == 0;
}

bool LowLevel::convertFromI420toRGB888(int width, int height, const uint8_t* y, int y_stride,
                                       const uint8_t* u, int u_stride, const uint8_t* v,
                                       int v_stride, uint8_t* destination, int destination_stride) {
  if (!validI420(width, height, y, y_stride, u, u_stride, v, v_stride) ||
      !validPlane(destination, destination_stride, 3 * width))
    return false;
  initIfNeeded();
  return libyuv::I420ToRAW(y, y_stride, u, u_stride, v, v_stride, destination, destination_stride,
                           width, height) == 0;
}

bool LowLevel::convertFromBGRA8888toI420(int width, int height, const uint8_t* source,
                                         int source_stride, uint8_t* y, int y_stride, uint8_t* u,
                                         int u_stride, uint8_t* v, int v_stride) {
  if (!validI420(width, height, y, y_stride, u, u_stride, v, v_stride) ||
      !validPlane(source, source_stride, 4 * width))
    return false;
  initIfNeeded();
  return libyuv::ARGBToI420(source, source_stride, y, y_stride, u, u_stride, v, v_stride, width,
                            height) == 0;
}

bool LowLevel::convertFromBGRX8888toI420(int width, int height, const uint8_t* source,
                                         int source_stride, uint8_t* y, int y_stride, uint8_t* u,
                                         int u_stride, uint8_t* v, int v_stride) {
  // ARGBToI420 never reads the alpha byte, so the same call serves both.
  return convertFromBGRA8888toI420(width, height, source, source_stride, y, y_stride, u, u_stride,
                                   v, v_stride);
}

bool LowLevel::convertFromBGR888toI420(int width, int height, const uint8_t* source,
                                       int source_stride, uint8_t* y, int y_stride, uint8_t* u,
                                       int u_stride, uint8_t* v, int v_stride) {
  if (!validI420(width, height, y, y_stride, u, u_stride, v, v_stride) ||
      !validPlane(source, source_stride, 3 * width))
    return false;
  initIfNeeded();
  return libyuv::RGB24ToI420(source, source_stride, y, y_stride, u, u_stride, v, v_stride, width,
                             height) == 0;
}

bool LowLevel::convertFromBGR888toBGRX8888(int width, int height, const uint8_t* source,
                                           int source_stride, uint8_t* destination,
                                           int destination_stride) {
  if (!validSize(width, height) || !validPlane(source, source_stride, 3 * width) ||
      !validPlane(destination, destination_stride, 4 * width))
    return false;
  initIfNeeded();
  return libyuv::RGB24ToARGB(source, source_stride, destination, destination_stride, width,
                             height) == 0;
}

bool LowLevel::convertFromYUYVtoI420(const uint8_t* source, int width, int height,
                                     int source_stride, uint8_t* y, int y_stride, uint8_t* u,
                                     int u_stride, uint8_t* v, int v_stride) {
  if (!validI420(width, height, y, y_stride, u, u_stride, v, v_stride) ||
      !validPlane(source, source_stride, 4 * ((width + 1) / 2)))
    return false;
  initIfNeeded();
  return libyuv::YUY2ToI420(source, source_stride, y, y_stride, u, u_stride, v, v_stride, width,
                            height) == 0;
}

}  // namespace qvideo
