#pragma once
// Everything a screen-cast test runs against, started once per test suite:
// a private desktop session (bus, PipeWire, WirePlumber), the test portal on
// it, screen capture forced onto the portal, and a configuration folder of
// its own for the stored permissions. Failing to start is a test failure,
// never a skip. Used on the test's thread.

#include <stdlib.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/private_desktop_session.h"
#include "tests/support/test_screencast_portal.h"

namespace dravo::testing {

class PortalTestSession {
 public:
  PortalTestSession() {
    if (!desktop_.start(&error_)) return;
    portal_ = std::make_unique<TestScreenCastPortal>();
    if (!portal_->start(&error_)) {
      error_ += desktop_.logs();
      portal_.reset();
      return;
    }
    config_dir_ = desktop_.directory() + "/config/media_common";
    remember("DRAVO_SCREEN_CAPTURE", "portal");
    remember("DRAVO_CONFIG_PATH", config_dir_.c_str());
  }
  ~PortalTestSession() {
    portal_.reset();
    for (auto const& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    desktop_.stop();
  }

  // Empty when everything runs.
  std::string const& error() const { return error_; }
  TestScreenCastPortal& portal() { return *portal_; }
  std::string const& configDirectory() const { return config_dir_; }

 private:
  void remember(char const* name, char const* value) {
    char const* old = getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value, 1);
  }

  PrivateDesktopSession desktop_;
  std::unique_ptr<TestScreenCastPortal> portal_;
  std::string error_;
  std::string config_dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace dravo::testing
