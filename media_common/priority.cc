#include "media_common/priority.h"

#include <limits>

#include "media_common/data_base.h"

namespace dravo::media {

Priority::Priority(int level, Time const& stamp) : level_(level), stamp_(stamp), idle_(false) {}

Priority::Priority(int level, bool idle) : level_(level), stamp_(Time::now()), idle_(idle) {}

Priority::Priority(DataBase const& data)
    : level_(data.getPriority()), stamp_(data.getCreationTime()), idle_(false) {}

Priority Priority::highest() { return Priority(std::numeric_limits<int32_t>::max(), false); }

Priority Priority::lowest() { return Priority(std::numeric_limits<int32_t>::min(), false); }

Priority Priority::idle(int level) { return Priority(level, true); }

bool Priority::operator==(Priority const& other) const {
  return idle_ == other.idle_ && level_ == other.level_ && stamp_ == other.stamp_;
}

bool Priority::operator<(Priority const& other) const {
  if (idle_ != other.idle_) return idle_;
  if (level_ != other.level_) return level_ < other.level_;
  // An older stamp is more urgent, so the later one compares less.
  return stamp_ > other.stamp_;
}

}  // namespace dravo::media
