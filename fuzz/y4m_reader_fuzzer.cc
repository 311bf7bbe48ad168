// Y4M files: the stream header with its tokens, frame lines and frames.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input_file.h"
#include "media_common/video/y4m_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > dravo::fuzz::kMaxInputSize) return -1;
  dravo::fuzz::quietLogging();
  std::string name = dravo::fuzz::writeInputFile(data, size, ".y4m");
  dravo::media::Y4MFileReader reader;
  if (!reader.openFile(name)) return 0;
  dravo::Duration duration;
  for (int i = 0; i < 64 && reader.readFrame(&duration); ++i) {
  }
  return 0;
}
