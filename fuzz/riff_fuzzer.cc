// RIFF chunk and list headers read one after another until the data ends.

#include <cstddef>
#include <cstdint>

#include "common/file.h"
#include "fuzz/fuzz_input_file.h"
#include "media_common/riff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return -1;
  dravo::fuzz::quietLogging();
  std::string name = dravo::fuzz::writeInputFile(data, size, ".riff");
  auto file = dravo::File::open(name, dravo::File::kRead);
  if (!file) return 0;
  unsigned int list_size = 0;
  char type[5] = {};
  if (!dravo::media::riff::readList(file, "RIFF", &list_size, type)) return 0;
  dravo::media::riff::ChunkHeader header;
  while (dravo::media::riff::readChunkHeader(file, &header)) {
    if (!header.list &&
        !file->seek(header.chunk_size + (header.chunk_size & 1), dravo::File::kFromCurrent))
      break;
  }
  return 0;
}
