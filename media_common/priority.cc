#include "media_common/priority.h"

#include <limits>

#include "media_common/data_base.h"

namespace dravo::media {

Priority::Priority(int level, bool idle) : level_(level), stamp_(Time::now()), idle_(idle) {}

Priority::Priority(DataBase const& data)
    : level_(data.getPriority()), stamp_(data.getCreationTime()), idle_(false) {}

Priority Priority::highest() { return Priority(std::numeric_limits<int32_t>::max(), false); }

Priority Priority::lowest() { return Priority(std::numeric_limits<int32_t>::min(), false); }

Priority Priority::idle(int level) { return Priority(level, true); }

}  // namespace dravo::media
