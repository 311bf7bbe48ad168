#pragma once
// Files on the local file system.
//
// `File::open` gives a shared, open file or null on failure (the reason is
// logged at level 2 on "file" for anything but a missing file opened for
// reading). Offsets and sizes are 64-bit, so files beyond 4 GiB work. Reads
// and writes are buffered; `flush` hands buffered data to the OS and `size`
// includes data not yet flushed. The static helpers read or replace a whole
// file in one call (file.cc) or work on names and directories without
// opening anything (file_path.cc); they keep the names callers know them by.
//
// A File is used by one thread at a time (its owner); the static helpers are
// safe on any thread. Paths are '/'-separated byte strings (UTF-8).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/non_copyable.h"

namespace dravo {

class File : NonCopyable {
 public:
  enum Mode {
    kRead,       // existing file, reading only
    kWrite,      // created if missing, truncated, writing only
    kReadWrite,  // existing file, reading and writing, not truncated
    kAppend,     // created if missing; every write goes to the end
  };
  // Bits for `open`'s flag argument.
  enum Flags : unsigned {
    kNoFlags = 0,
    // With kWrite or kAppend: fail if the file already exists, so two writers
    // can never pick the same name.
    kExclusive = 1u << 0,
    // With kWrite, kReadWrite or kAppend: write data through to the disk on
    // `flush` and on close (fsync), for files that must survive a crash.
    kDurable = 1u << 1,
  };
  enum Whence { kFromStart = SEEK_SET, kFromCurrent = SEEK_CUR, kFromEnd = SEEK_END };

  // Default maximum for `readFileToStringIfExists`: larger files are refused.
  static constexpr size_t kDefaultMaxReadSize = 64u << 20;

  static std::shared_ptr<File> open(std::string const& path, Mode mode, unsigned flags = kNoFlags);
  ~File();

  // Returns the number of bytes read; fewer than `size` only at the end of
  // the file or on an error.
  size_t read(void* data, size_t size);
  // Returns whether every byte was written.
  bool write(void const* data, size_t size);
  bool write(std::string const& data) { return write(data.data(), data.size()); }
  // Moves the position; false (and the position unchanged) when the result
  // would be negative or the file cannot seek.
  bool seek(int64_t offset, Whence whence = kFromStart);
  // Current position, or -1 on error.
  int64_t tell() const;
  // Size in bytes including unflushed writes, or -1 on error.
  int64_t size() const;
  bool flush();
  // Reads up to and including the next '\n' into `line` (without the '\n'; a
  // '\r' before it is kept). A longer line is cut after `max_length` bytes and
  // the rest is returned by the next call. False at the end of the file with
  // nothing read.
  bool readLine(std::string* line, size_t max_length);
  bool eof() const;
  std::string const& path() const { return path_; }

  // Reads the whole file into `contents`. False when it does not exist, cannot
  // be read, or is larger than `max_size` (`contents` is then left empty).
  static bool readFileToStringIfExists(std::string const& path, std::string* contents,
                                       size_t max_size = kDefaultMaxReadSize);
  // Replaces the file's contents (through a temporary file and a rename, so a
  // reader never sees half a file). False on failure.
  static bool writeStringToFile(std::string const& path, std::string const& data);

  // Path helpers.
  // Creates `path` and every missing parent with `mode` (before the umask);
  // true when the directory exists afterwards.
  static bool recursivelyCreateDir(std::string const& path, unsigned mode = 0755);
  // The text after the last '.' of the last path component, without the dot;
  // "" when there is none ("dir.x/file" gives "", ".bashrc" gives "bashrc").
  static std::string extension(std::string const& path);
  // `a` and `b` joined by exactly one '/'; an empty side gives the other, an
  // absolute `b` is appended as if relative.
  static std::string joinPath(std::string const& a, std::string const& b);
  static bool exists(std::string const& path);
  // Removes a file or an empty directory; false when nothing was removed.
  static bool remove(std::string const& path);

 private:
  File(FILE* stream, std::string path, bool durable);

  FILE* stream_;
  std::string path_;
  bool durable_;
};

// The directory for this library's persistent settings: $DRAVO_CONFIG_PATH
// when set, else $XDG_CONFIG_HOME/media_common, else
// $HOME/.config/media_common. Not created here.
std::string getConfigPath();

}  // namespace dravo
