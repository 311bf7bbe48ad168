// AVI files: header parsing (OpenDML extension lists included), the index and
// every frame, through the reader's file-name entry point.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input_file.h"
#include "media_common/video/avi_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > dravo::fuzz::kMaxInputSize) return -1;
  dravo::fuzz::quietLogging();
  std::string name = dravo::fuzz::writeInputFile(data, size, ".avi");
  dravo::media::AVIFileReader reader;
  if (!reader.openFile(name)) return 0;
  reader.getTimestamps();
  dravo::Duration duration;
  // Frames are decoded to I420 on the way out, which also exercises the
  // MJPEG and JPEG paths for such files.
  for (int i = 0; i < 64 && reader.readFrame(&duration); ++i) {
  }
  return 0;
}
