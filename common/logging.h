#pragma once
// Named loggers with a level threshold each.
//
// Levels are small integers, lower is more severe: 1 checks and fatal
// conditions, 2 errors, 3 warnings, 4 information, 5 debugging traces, 6 to 9
// finer traces. A logger is enabled at a level when the level is at or below
// its threshold. Thresholds come from `setLoggerLevel` / `setDefaultLogLevel`
// and from the environment variable DRAVO_LOG ("pad:5,clock:5,*:2"; "*" is the
// default, which is 3 when unset). Lines go to a replaceable sink, stderr by
// default.
//
// Every source file names its logger once, after its includes:
//     DRAVO_LOGGER("pad");
// and logs with
//     LOGF(3, "Buffer dropped because of full queue on pad %s.", name);
//     LOGS(5) << "peers: " << n;
// Headers and code that log elsewhere name the logger: LOGF_TO("check", 1, ...).
//
// A log point asks whether its logger is enabled before it formats anything;
// the answer is cached in the point's static site record
// (`dravo_logging_point_uid__`) until the configuration changes, so a disabled
// point costs two relaxed atomic loads.
//
// All functions are thread-safe. Sinks are called on the logging thread, one
// line at a time (calls are serialised).

#include <atomic>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

#include "common/mutex.h"
#include "common/time.h"

namespace dravo::logging {

// The static identity of one log point; it caches the enabled state.
class LogPoint {
 public:
  constexpr LogPoint(const char* logger, int level, const char* file, int line)
      : logger_(logger), level_(level), file_(file), line_(line) {}

  bool enabled() const {
    uint64_t cached = cache_.load(std::memory_order_relaxed);
    if ((cached >> 1) == currentGeneration()) return cached & 1;
    return refresh();
  }

  const char* logger() const { return logger_; }
  int level() const { return level_; }
  const char* file() const { return file_; }
  int line() const { return line_; }

  static uint64_t currentGeneration() { return generation_.load(std::memory_order_relaxed); }

 private:
  friend void bumpConfigurationGeneration();
  bool refresh() const;

  const char* logger_;
  int level_;
  const char* file_;
  int line_;
  // (generation << 1) | enabled; generation 0 is never current.
  mutable std::atomic<uint64_t> cache_{0};
  static std::atomic<uint64_t> generation_;
};

struct LogRecord {
  std::string_view logger;
  int level;
  const char* file;
  int line;
  std::string_view message;
};
using LogSink = std::function<void(LogRecord const&)>;

// Replaces the sink; an empty sink restores stderr. Returns the previous sink.
LogSink setLogSink(LogSink sink);

bool isLoggerEnabled(std::string_view logger, int level);
int getLoggerLevel(std::string_view logger);
void setLoggerLevel(std::string_view logger, int level);
void setDefaultLogLevel(int level);
// Applies a "name:level,name:level,*:level" list on top of the current levels.
// Returns false (and applies nothing) when the text does not parse.
bool configureLoggers(std::string_view config);
// Forgets every threshold, then applies DRAVO_LOG again.
void resetLoggingConfiguration();

// Messages at or below this level stop the process after they are written.
// 0 (the default) never stops.
void setBreakLevel(int level);
bool loggerMustBreak(int level);

// Writes one line through the sink, whether or not the logger is enabled.
void logToLogger(std::string_view logger, int level, const char* file, int line,
                 std::string_view message);
void logPrintf(LogPoint const& point, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void logPrintfAt(std::string_view logger, int level, const char* file, int line, const char* format,
                 ...) __attribute__((format(printf, 5, 6)));

// Collects a message with operator<< and logs it when destroyed.
class LoggingStream {
 public:
  LoggingStream(std::string_view logger, int level, const char* file, int line)
      : logger_(logger), level_(level), file_(file), line_(line) {}
  ~LoggingStream() { logToLogger(logger_, level_, file_, line_, stream_.str()); }
  LoggingStream(LoggingStream const&) = delete;
  LoggingStream& operator=(LoggingStream const&) = delete;
  std::ostream& stream() { return stream_; }

 private:
  std::string_view logger_;
  int level_;
  const char* file_;
  int line_;
  std::ostringstream stream_;
};

// Lets LOGS_TO end in an ostream expression of type void.
struct StreamVoidify {
  void operator&(std::ostream&) {}
};

// Decides, per message, whether it is logged at its own level.
class LoggingFilter {
 public:
  virtual ~LoggingFilter() = default;
  // May lower the severity (raise `level`) and amend `message`.
  virtual void filter(int* level, std::string* message) = 0;
};

// Lets one message per interval pass; the others go 4 levels finer. The next
// message that passes after suppression carries " (hid N messages)".
// Thread-safe.
class ThrottledLoggingFilter : public LoggingFilter {
 public:
  explicit ThrottledLoggingFilter(Duration interval) : interval_(interval) {}
  void filter(int* level, std::string* message) override;
  // Same decision with an explicit time; for tests and callers with a clock.
  void filterAt(Time now, int* level, std::string* message);

 private:
  Mutex mutex_;
  const Duration interval_;
  Time next_pass_ DRAVO_GUARDED_BY(mutex_);
  int hidden_ DRAVO_GUARDED_BY(mutex_) = 0;
};

// Formats, filters and logs; used by LOGF_FILTERED.
void logFiltered(LoggingFilter& filter, std::string_view logger, int level, const char* file,
                 int line, const char* format, ...) __attribute__((format(printf, 6, 7)));

}  // namespace dravo::logging

#define DRAVO_LOGGER(name) [[maybe_unused]] static constexpr const char* dravo_file_logger__ = name

#define LOGF_TO(logger, level, ...)                                                            \
  do {                                                                                         \
    static const ::dravo::logging::LogPoint dravo_logging_point_uid__{logger, level, __FILE__, \
                                                                      __LINE__};               \
    if (dravo_logging_point_uid__.enabled())                                                   \
      ::dravo::logging::logPrintf(dravo_logging_point_uid__, __VA_ARGS__);                     \
  } while (0)

// An expression, so that it nests safely in if/else without braces.
#define LOGS_TO(logger, level)                                                                 \
  !([]() -> ::dravo::logging::LogPoint const& {                                                \
    static const ::dravo::logging::LogPoint dravo_logging_point_uid__{logger, level, __FILE__, \
                                                                      __LINE__};               \
    return dravo_logging_point_uid__;                                                          \
  }()                                                                                          \
                .enabled())                                                                    \
      ? (void)0                                                                                \
      : ::dravo::logging::StreamVoidify() &                                                    \
            ::dravo::logging::LoggingStream(logger, level, __FILE__, __LINE__).stream()

#define LOGF(level, ...) LOGF_TO(dravo_file_logger__, level, __VA_ARGS__)
#define LOGS(level) LOGS_TO(dravo_file_logger__, level)

// Logs through a LoggingFilter (for example ThrottledLoggingFilter); the
// filter may move the message to a finer level.
#define LOGF_FILTERED(filter, level, ...) \
  ::dravo::logging::logFiltered(filter, dravo_file_logger__, level, __FILE__, __LINE__, __VA_ARGS__)
