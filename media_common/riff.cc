#include "media_common/riff.h"

#include <cstring>

#include "common/check.h"
#include "common/logging.h"

DRAVO_LOGGER("riff");

namespace dravo::media::riff {

namespace {

uint32_t loadLittleEndian32(char const* bytes) {
  auto const* b = reinterpret_cast<unsigned char const*>(bytes);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

void storeLittleEndian32(uint32_t value, char* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Copies the first four characters of `id`; a shorter id (already reported
// by the caller's check) is padded with spaces rather than read past its end.
void storeFourcc(char const* id, char* bytes) {
  size_t length = strnlen(id, 4);
  memcpy(bytes, id, length);
  memset(bytes + length, ' ', 4 - length);
}

}  // namespace

bool readChunkHeader(std::shared_ptr<File> const& f, ChunkHeader* header) {
  char temp[8];
  if (f->read(temp, 8) != 8) {
    LOGF(2, "f->read(temp, 8) == 8");
    return false;
  }
  uint32_t chunk_size = loadLittleEndian32(temp + 4);
  bool list = false;
  if (memcmp(temp, "LIST", 4) == 0) {
    if (f->read(temp, 4) != 4) {
      LOGF(2, "f->read(temp, 4) == 4");
      return false;
    }
    // The type is part of the payload the size field counts; a size field
    // below 4 is malformed and wraps, which the callers' bounds checks catch.
    chunk_size -= 4;
    list = true;
  }
  header->fourcc.assign(temp, 4);
  header->chunk_size = chunk_size;
  header->list = list;
  return true;
}

bool readList(std::shared_ptr<File> const& f, char const* listname, unsigned int* size,
              char* type) {
  DRAVO_CHECK(strlen(listname) >= 4u);
  char data[12];
  if (f->read(data, 12) != 12) {
    LOGF(2, "f->read(data, 12) == 12");
    return false;
  }
  if (0 != strncmp(listname, data, 4)) {
    LOGF(2, "0 == strncmp(listname, data, 4)");
    return false;
  }
  *size = loadLittleEndian32(data + 4);
  memcpy(type, data + 8, 4);
  type[4] = '\0';
  return true;
}

void writeChunkHeader(std::shared_ptr<File> const& f, char const* chunkname, unsigned int size) {
  DRAVO_CHECK(strlen(chunkname) >= 4u);
  char data[8];
  storeFourcc(chunkname, data);
  storeLittleEndian32(size, data + 4);
  f->write(data, sizeof(data));
}

void writeList(std::shared_ptr<File> const& f, char const* listname, unsigned int size,
               char const* fourcc) {
  DRAVO_CHECK(strlen(listname) >= 4u);
  DRAVO_CHECK(strlen(fourcc) >= 4u);
  char data[12];
  storeFourcc(listname, data);
  storeLittleEndian32(size, data + 4);
  storeFourcc(fourcc, data + 8);
  f->write(data, sizeof(data));
}

}  // namespace dravo::media::riff
