// The AVI reader's file-list syntax ("a.avi:10,b.avi"): arbitrary text as the
// name to open. Names point into an empty folder, so only the parsing and the
// refusal paths run.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input_file.h"
#include "media_common/video/avi_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return -1;
  dravo::fuzz::quietLogging();
  std::string spec(reinterpret_cast<char const*>(data), size);
  dravo::media::AVIFileReader reader;
  reader.openFile(spec);
  return 0;
}
