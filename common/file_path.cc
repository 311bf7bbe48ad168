// Path helpers of File and the configuration directory: names and
// directories, as opposed to open files (file.cc).

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/file.h"
#include "common/logging.h"

DRAVO_LOGGER("file");

namespace dravo {

bool File::recursivelyCreateDir(std::string const& path, unsigned mode) {
  if (path.empty()) return false;
  // mkdir rather than std::filesystem::create_directories, which cannot
  // give the new directories `mode`. Create each prefix that ends before a
  // '/', then the whole path.
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) break;
  }
  if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
    LOGF(2, "Cannot create directory '%s': %s", path.c_str(), strerror(errno));
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

std::string File::extension(std::string const& path) {
  // Not std::filesystem::path::extension, which gives nothing for ".bashrc".
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < start) return "";
  return path.substr(dot + 1);
}

std::string File::joinPath(std::string const& a, std::string const& b) {
  // Not std::filesystem's operator/, which lets an absolute `b` replace `a`.
  if (a.empty()) return b;
  if (b.empty()) return a;
  size_t a_end = a.find_last_not_of('/');
  size_t b_start = b.find_first_not_of('/');
  std::string head = a_end == std::string::npos ? "" : a.substr(0, a_end + 1);
  std::string tail = b_start == std::string::npos ? "" : b.substr(b_start);
  return head + "/" + tail;
}

bool File::exists(std::string const& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

bool File::remove(std::string const& path) {
  std::error_code error;
  return std::filesystem::remove(path, error);
}

std::string getConfigPath() {
  const char* override_path = getenv("DRAVO_CONFIG_PATH");
  if (override_path && *override_path) return override_path;
  const char* xdg = getenv("XDG_CONFIG_HOME");
  // Relative values are invalid by the XDG rules and are ignored.
  if (xdg && xdg[0] == '/') return File::joinPath(xdg, "media_common");
  std::string home;
  if (const char* env_home = getenv("HOME")) home = env_home;
  if (home.empty()) {
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
      home = found->pw_dir;
    else
      home = "/tmp";
  }
  return File::joinPath(File::joinPath(home, ".config"), "media_common");
}

}  // namespace dravo
