#pragma once
// A fresh folder under the system's temporary directory for benchmarks that
// write files, removed with its contents when the object goes.

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace dravo::bench {

class BenchTempDir {
 public:
  BenchTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "media_bench.XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~BenchTempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  BenchTempDir(BenchTempDir const&) = delete;
  BenchTempDir& operator=(BenchTempDir const&) = delete;

  std::string file(char const* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace dravo::bench
