#pragma once
// Chunk and list headers of RIFF files (the container under WAV and AVI).
//
// All functions work on an open `File` at its current position and never
// seek: a read leaves the position after the bytes it consumed (also when it
// fails on a short read), a write after the bytes it wrote. Payloads, and the
// pad byte after an odd-sized payload, are the caller's business. Integers on
// disk are little-endian.
//
// Identifiers are four ASCII characters; passing a shorter one is a programming
// error reported as a failed check (on "check"), after which the missing
// characters are written as spaces. Failed reads log on "riff" at level 2.
//
// Free functions without state: safe on any thread, as long as each `File` is
// used by one thread at a time.

#include <cstdint>
#include <memory>
#include <string>

#include "common/file.h"

namespace dravo::media::riff {

struct ChunkHeader {
  // The chunk identifier; for a "LIST" chunk its list type instead. Four
  // characters after a successful read, empty when default-constructed.
  std::string fourcc;
  // The payload bytes that follow the header; for a "LIST" chunk the bytes
  // after the list type (its size field minus 4).
  uint32_t chunk_size = 0;
  // True when the chunk identifier was "LIST".
  bool list = false;
};

// Reads an 8-byte chunk header and, for a "LIST" chunk, the 4-byte list type
// after it, so that on success the position is at the first byte counted by
// `chunk_size`. On a short read returns false and leaves `header` unchanged.
bool readChunkHeader(std::shared_ptr<File> const& f, ChunkHeader* header);

// Reads a 12-byte list header whose identifier must be the first four
// characters of `listname` ("RIFF" or "LIST"). On success stores the raw size
// field (which still counts the 4-byte type) in `size` and the type in `type`,
// which must hold 5 bytes (four characters and a terminating zero). False on a
// short read or a different identifier (the 12 bytes are consumed then).
bool readList(std::shared_ptr<File> const& f, char const* listname, unsigned int* size, char* type);

// Writes "<chunkname><size>": the first four characters of `chunkname`.
void writeChunkHeader(std::shared_ptr<File> const& f, char const* chunkname, unsigned int size);

// Writes "<listname><size><fourcc>"; `size` counts the 4-byte type and
// everything after it.
void writeList(std::shared_ptr<File> const& f, char const* listname, unsigned int size,
               char const* fourcc);

}  // namespace dravo::media::riff
