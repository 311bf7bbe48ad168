#pragma once
// The description of one media channel of a session: a set of named string
// attributes (its name, its type, its codec, ...).
//
// A value type: copies are independent. Not thread-safe while it is being
// changed; a description that is no longer changed may be read on any thread.

#include <map>
#include <string>

namespace dravo::media {

// Attribute names.
inline constexpr char CATTR_NAME[] = "name";
inline constexpr char CATTR_TYPE[] = "type";
inline constexpr char CATTR_CODEC[] = "codec";

// Values of the CATTR_TYPE attribute.
inline constexpr char CTYPE_VIDEO[] = "video";
inline constexpr char CTYPE_AUDIO[] = "audio";

class ChannelDescription {
 public:
  ChannelDescription() = default;
  // A channel with the three attributes codec bins are keyed by.
  ChannelDescription(std::string const& name, std::string const& type, std::string const& codec);

  // The attribute's value; empty when it is not set.
  std::string getAttribute(std::string const& name) const;
  ChannelDescription& setAttribute(std::string const& name, std::string const& value);

 private:
  std::map<std::string, std::string> attributes_;
};

}  // namespace dravo::media
