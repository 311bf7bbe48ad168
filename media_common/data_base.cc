#include "media_common/data_base.h"

namespace dravo::media {

DataBase::DataBase() : creation_time_(Time::now()) {}

DataBase::~DataBase() = default;

void DataBase::resetCreationTime() { creation_time_ = Time::now(); }

}  // namespace dravo::media
