#include "media_common/priority.h"

#include <limits>

#include "media_common/data_base.h"

namespace dravo::media {

Priority::Priority(int level, bool idle) : level_(level), idle_(idle), stamp_(Time::now()) {}

Priority::Priority(DataBase const& data)
    : level_(data.getPriority()), idle_(false), stamp_(data.getCreationTime()) {}

Priority Priority::highest() { return Priority(std::numeric_limits<int32_t>::max(), false); }

Priority Priority::lowest() { return Priority(std::numeric_limits<int32_t>::min(), false); }

Priority Priority::idle(int level) { return Priority(level, true); }

}  // namespace dravo::media
