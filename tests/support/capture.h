#pragma once
// Test helpers that capture log lines and assertion reports.
//
// While a LogCapture lives, every line any thread writes goes to it instead
// of stderr; while an AssertionCapture lives, assertions are recorded and the
// code after them runs on (the handler returns false).

#include <mutex>
#include <string>
#include <vector>

#include "common/check.h"
#include "common/logging.h"

namespace dravo::testing {

struct CapturedLine {
  std::string logger;
  int level;
  std::string message;
};

class LogCapture {
 public:
  // Enables `loggers` ("pad:5,check:1") for the capture's lifetime.
  explicit LogCapture(std::string const& loggers = "") {
    if (!loggers.empty()) logging::configureLoggers(loggers);
    previous_ = logging::setLogSink([this](logging::LogRecord const& record) {
      std::lock_guard lock(mutex_);
      lines_.push_back({std::string(record.logger), record.level, std::string(record.message)});
    });
  }
  ~LogCapture() {
    logging::setLogSink(std::move(previous_));
    logging::resetLoggingConfiguration();
  }

  std::vector<CapturedLine> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Messages of one logger, in order.
  std::vector<std::string> messages(std::string const& logger) const {
    std::vector<std::string> result;
    for (auto const& line : lines())
      if (line.logger == logger) result.push_back(line.message);
    return result;
  }
  bool contains(std::string const& text) const {
    for (auto const& line : lines())
      if (line.message.find(text) != std::string::npos) return true;
    return false;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<CapturedLine> lines_;
  logging::LogSink previous_;
};

class AssertionCapture {
 public:
  AssertionCapture() {
    previous_ = setAssertionHandler([this](AssertionInfo const& info) {
      std::lock_guard lock(mutex_);
      messages_.push_back(info.message);
      return false;
    });
  }
  ~AssertionCapture() { setAssertionHandler(std::move(previous_)); }

  std::vector<std::string> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  AssertionHandler previous_;
};

}  // namespace dravo::testing
