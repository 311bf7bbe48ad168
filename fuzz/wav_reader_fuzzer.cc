// WAV files: header, chunk walk and sample conversion.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input_file.h"
#include "media_common/audio/wav_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > dravo::fuzz::kMaxInputSize) return -1;
  dravo::fuzz::quietLogging();
  std::string name = dravo::fuzz::writeInputFile(data, size, ".wav");
  std::vector<std::vector<short>> channels;
  dravo::media::WAVFileReader::readFromFile(name, &channels, nullptr);
  return 0;
}
