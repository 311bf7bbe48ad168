#include "common/logging.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "common/never_destroyed.h"
#include "common/string_util.h"

namespace dravo::logging {

std::atomic<uint64_t> LogPoint::generation_{1};

namespace {

constexpr int kDefaultThreshold = 3;

// Thresholds, break level and sink. Readers (the enabled checks) take the
// shared lock; configuration changes take it exclusively and bump the
// generation so that every log point re-reads. The two mutexes are never
// held together.
struct Config {
  SharedMutex mutex;
  std::map<std::string, int, std::less<>> levels DRAVO_GUARDED_BY(mutex);
  int default_level DRAVO_GUARDED_BY(mutex) = kDefaultThreshold;
  std::atomic<int> break_level{0};
  // Held while the sink runs, so that lines never interleave.
  Mutex sink_mutex;
  LogSink sink DRAVO_GUARDED_BY(sink_mutex);
};

bool parseConfig(std::string_view text, std::map<std::string, int, std::less<>>* levels,
                 int* default_level) {
  for (std::string const& item : SplitString(std::string(text), ",", 1)) {
    size_t colon = item.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    uint32_t level;
    if (!ParseUInt32(item.substr(colon + 1), &level) || level > 100) return false;
    std::string name = item.substr(0, colon);
    if (name == "*")
      *default_level = static_cast<int>(level);
    else
      (*levels)[name] = static_cast<int>(level);
  }
  return true;
}

void applyEnvironment(Config& config) DRAVO_REQUIRES(config.mutex) {
  if (const char* env = getenv("DRAVO_LOG")) {
    if (!parseConfig(env, &config.levels, &config.default_level))
      fprintf(stderr, "DRAVO_LOG: cannot parse \"%s\"; expected name:level,...\n", env);
  }
}

Config& config() {
  // Never destroyed: log points may run during exit.
  static Config& instance = []() -> Config& {
    static NeverDestroyed<Config> storage;
    Config& c = storage.get();
    WriterLock lock(c.mutex);
    applyEnvironment(c);
    return c;
  }();
  return instance;
}

void writeToStderr(LogRecord const& record) {
  const char* base = record.file;
  for (const char* p = record.file; *p; ++p)
    if (*p == '/') base = p + 1;
  fprintf(stderr, "%d %.*s %s:%d] %.*s\n", record.level, static_cast<int>(record.logger.size()),
          record.logger.data(), base, record.line, static_cast<int>(record.message.size()),
          record.message.data());
}

}  // namespace

void bumpConfigurationGeneration() {
  LogPoint::generation_.fetch_add(1, std::memory_order_relaxed);
}

bool LogPoint::refresh() const {
  // Read the generation first: a change racing with us bumps it again, so the
  // worst case is one more refresh, never a stale answer kept forever.
  uint64_t generation = currentGeneration();
  bool on = isLoggerEnabled(logger_, level_);
  cache_.store((generation << 1) | (on ? 1 : 0), std::memory_order_relaxed);
  return on;
}

LogSink setLogSink(LogSink sink) {
  Config& c = config();
  MutexLock lock(c.sink_mutex);
  std::swap(c.sink, sink);
  return sink;
}

int getLoggerLevel(std::string_view logger) {
  Config& c = config();
  ReaderLock lock(c.mutex);
  auto it = c.levels.find(logger);
  return it == c.levels.end() ? c.default_level : it->second;
}

bool isLoggerEnabled(std::string_view logger, int level) { return level <= getLoggerLevel(logger); }

void setLoggerLevel(std::string_view logger, int level) {
  Config& c = config();
  {
    WriterLock lock(c.mutex);
    c.levels[std::string(logger)] = level;
  }
  bumpConfigurationGeneration();
}

void setDefaultLogLevel(int level) {
  Config& c = config();
  {
    WriterLock lock(c.mutex);
    c.default_level = level;
  }
  bumpConfigurationGeneration();
}

bool configureLoggers(std::string_view text) {
  Config& c = config();
  {
    WriterLock lock(c.mutex);
    auto levels = c.levels;
    int default_level = c.default_level;
    if (!parseConfig(text, &levels, &default_level)) return false;
    c.levels = std::move(levels);
    c.default_level = default_level;
  }
  bumpConfigurationGeneration();
  return true;
}

void resetLoggingConfiguration() {
  Config& c = config();
  {
    WriterLock lock(c.mutex);
    c.levels.clear();
    c.default_level = kDefaultThreshold;
    applyEnvironment(c);
  }
  bumpConfigurationGeneration();
}

void setBreakLevel(int level) { config().break_level.store(level); }

bool loggerMustBreak(int level) { return level <= config().break_level.load(); }

void logToLogger(std::string_view logger, int level, const char* file, int line,
                 std::string_view message) {
  Config& c = config();
  LogRecord record{logger, level, file, line, message};
  {
    MutexLock lock(c.sink_mutex);
    if (c.sink)
      c.sink(record);
    else
      writeToStderr(record);
  }
  if (loggerMustBreak(level)) {
    fputs("Assertion failed: Reached terminating log level. Terminating\n", stderr);
    fflush(stderr);
    abort();
  }
}

namespace {
void vlogAt(std::string_view logger, int level, const char* file, int line, const char* format,
            va_list args) {
  logToLogger(logger, level, file, line, vstringPrintf(format, args));
}
}  // namespace

void logPrintf(LogPoint const& point, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vlogAt(point.logger(), point.level(), point.file(), point.line(), format, args);
  va_end(args);
}

void logPrintfAt(std::string_view logger, int level, const char* file, int line, const char* format,
                 ...) {
  va_list args;
  va_start(args, format);
  vlogAt(logger, level, file, line, format, args);
  va_end(args);
}

void ThrottledLoggingFilter::filter(int* level, std::string* message) {
  filterAt(Time::now(), level, message);
}

void ThrottledLoggingFilter::filterAt(Time now, int* level, std::string* message) {
  MutexLock lock(mutex_);
  if (now < next_pass_) {
    ++hidden_;
    *level += 4;
    return;
  }
  if (hidden_ != 0) {
    *message += " (hid " + std::to_string(hidden_) + " messages)";
    hidden_ = 0;
  }
  next_pass_ = now + interval_;
}

void logFiltered(LoggingFilter& filter, std::string_view logger, int level, const char* file,
                 int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vstringPrintf(format, args);
  va_end(args);
  filter.filter(&level, &message);
  if (isLoggerEnabled(logger, level)) logToLogger(logger, level, file, line, message);
}

}  // namespace dravo::logging
