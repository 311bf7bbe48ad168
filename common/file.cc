#include "common/file.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/logging.h"
#include "common/string_util.h"

DRAVO_LOGGER("file");

namespace dravo {

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

namespace {

int openFlags(File::Mode mode, unsigned flags) {
  int result = O_CLOEXEC;
  switch (mode) {
    case File::kRead:
      result |= O_RDONLY;
      break;
    case File::kWrite:
      result |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case File::kReadWrite:
      result |= O_RDWR;
      break;
    case File::kAppend:
      result |= O_WRONLY | O_CREAT | O_APPEND;
      break;
  }
  if ((flags & File::kExclusive) && (result & O_CREAT)) result |= O_EXCL;
  return result;
}

const char* streamMode(File::Mode mode) {
  switch (mode) {
    case File::kRead:
      return "r";
    case File::kWrite:
      return "w";
    case File::kReadWrite:
      return "r+";
    case File::kAppend:
      return "a";
  }
  return "r";
}

}  // namespace

File::File(FILE* stream, std::string path, bool durable)
    : stream_(stream), path_(std::move(path)), durable_(durable) {}

File::~File() {
  if (durable_) flush();
  fclose(stream_);
}

std::shared_ptr<File> File::open(std::string const& path, Mode mode, unsigned flags) {
  int fd = ::open(path.c_str(), openFlags(mode, flags), 0644);
  if (fd < 0) {
    if (!(mode == kRead && errno == ENOENT))
      LOGF(2, "Cannot open '%s': %s", path.c_str(), strerror(errno));
    return nullptr;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    LOGF(2, "Cannot open '%s': not a file", path.c_str());
    ::close(fd);
    return nullptr;
  }
  FILE* stream = fdopen(fd, streamMode(mode));
  if (!stream) {
    LOGF(2, "Cannot open '%s': %s", path.c_str(), strerror(errno));
    ::close(fd);
    return nullptr;
  }
  return std::shared_ptr<File>(new File(stream, path, (flags & kDurable) && mode != kRead));
}

size_t File::read(void* data, size_t size) { return size ? fread(data, 1, size, stream_) : 0; }

bool File::write(void const* data, size_t size) {
  return size == 0 || fwrite(data, 1, size, stream_) == size;
}

bool File::seek(int64_t offset, Whence whence) {
  if (fseeko(stream_, static_cast<off_t>(offset), whence) == 0) return true;
  if (!ferror(stream_)) return false;
  // Buffered bytes that the disk refused (full, or over the size limit) make
  // every later seek fail while they wait to be flushed. They are lost
  // either way; dropping them lets a writer still go back and complete the
  // headers of what did reach the disk.
  __fpurge(stream_);
  clearerr(stream_);
  return fseeko(stream_, static_cast<off_t>(offset), whence) == 0;
}

int64_t File::tell() const { return ftello(stream_); }

int64_t File::size() const {
  struct stat info;
  if (fstat(fileno(stream_), &info) != 0) return -1;
  // Buffered writes end at the current position, so the file will be at
  // least that long once they are flushed.
  int64_t position = ftello(stream_);
  return std::max<int64_t>(info.st_size, position);
}

bool File::flush() {
  if (fflush(stream_) != 0) return false;
  return !durable_ || fsync(fileno(stream_)) == 0;
}

bool File::readLine(std::string* line, size_t max_length) {
  line->clear();
  bool any = false;
  while (line->size() < max_length) {
    int c = getc(stream_);
    if (c == EOF) return any;
    any = true;
    if (c == '\n') return true;
    line->push_back(static_cast<char>(c));
  }
  return true;
}

bool File::eof() const { return feof(stream_) != 0; }

bool File::readFileToStringIfExists(std::string const& path, std::string* contents,
                                    size_t max_size) {
  contents->clear();
  auto file = open(path, kRead);
  if (!file) return false;
  // The size the file system reports only sizes the first allocation; the
  // loop reads what is really there (pipes and /proc files report 0).
  int64_t reported = file->size();
  if (reported > 0 && static_cast<uint64_t>(reported) > max_size) {
    LOGF(2, "Refusing to read '%s': %lld bytes, limit %zu", path.c_str(),
         static_cast<long long>(reported), max_size);
    return false;
  }
  std::string result;
  result.reserve(reported > 0 ? static_cast<size_t>(reported) : 0);
  char chunk[64 * 1024];
  while (size_t got = file->read(chunk, sizeof chunk)) {
    if (result.size() + got > max_size) {
      LOGF(2, "Refusing to read '%s': larger than %zu bytes", path.c_str(), max_size);
      return false;
    }
    result.append(chunk, got);
  }
  if (ferror(file->stream_)) {
    LOGF(2, "Cannot read '%s': %s", path.c_str(), strerror(errno));
    return false;
  }
  *contents = std::move(result);
  return true;
}

bool File::writeStringToFile(std::string const& path, std::string const& data) {
  static std::atomic<unsigned> counter{0};
  std::string temporary =
      stringPrintf("%s.tmp.%d.%u", path.c_str(), static_cast<int>(getpid()), counter.fetch_add(1));
  bool written;
  {
    auto file = open(temporary, kWrite, kExclusive);
    if (!file) return false;
    written = file->write(data) && file->flush();
  }
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  LOGF(2, "Cannot write '%s': %s", path.c_str(), strerror(errno));
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace dravo
