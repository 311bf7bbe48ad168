#pragma once
// Test support for device lists: points the configuration path at a fresh
// temporary directory for the fixture's lifetime, so blacklist files never
// touch the real home directory.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/file.h"
#include "media_common/device_list.h"

namespace dravo::media::testing {

class ScopedConfigPath {
 public:
  ScopedConfigPath() {
    if (const char* previous = getenv("DRAVO_CONFIG_PATH")) previous_ = previous;
    std::string pattern = ::testing::TempDir() + "device_list_config.XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
    EXPECT_FALSE(path_.empty()) << "mkdtemp failed for " << pattern;
    setenv("DRAVO_CONFIG_PATH", path_.c_str(), 1);
  }
  ~ScopedConfigPath() {
    if (previous_)
      setenv("DRAVO_CONFIG_PATH", previous_->c_str(), 1);
    else
      unsetenv("DRAVO_CONFIG_PATH");
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }

  std::string const& path() const { return path_; }
  std::string blacklistFile(std::string const& source_name) const {
    return File::joinPath(path_, source_name + ".blacklist");
  }
  // The file's contents, or nullopt when it does not exist.
  std::optional<std::string> readBlacklist(std::string const& source_name) const {
    std::string text;
    if (!File::readFileToStringIfExists(blacklistFile(source_name), &text)) return std::nullopt;
    return text;
  }

 private:
  std::string path_;
  std::optional<std::string> previous_;
};

// A list from (id, name) pairs, in order.
inline std::shared_ptr<DeviceList> makeList(
    std::initializer_list<std::pair<const char*, const char*>> entries) {
  auto list = std::make_shared<DeviceList>();
  for (auto const& [id, name] : entries) list->appendDevice(id, name);
  return list;
}

// The entries of `list` as "id=name" texts, for readable comparisons.
inline std::vector<std::string> entriesOf(DeviceList const& list) {
  std::vector<std::string> result;
  for (auto const& [id, name] : list) result.push_back(id + "=" + name);
  return result;
}

}  // namespace dravo::media::testing
