#include "media_common/channel_description.h"

namespace dravo::media {

ChannelDescription::ChannelDescription(std::string const& name, std::string const& type,
                                       std::string const& codec) {
  setAttribute(CATTR_NAME, name);
  setAttribute(CATTR_TYPE, type);
  setAttribute(CATTR_CODEC, codec);
}

std::string ChannelDescription::getAttribute(std::string const& name) const {
  auto found = attributes_.find(name);
  return found == attributes_.end() ? std::string() : found->second;
}

ChannelDescription& ChannelDescription::setAttribute(std::string const& name,
                                                     std::string const& value) {
  attributes_[name] = value;
  return *this;
}

}  // namespace dravo::media
