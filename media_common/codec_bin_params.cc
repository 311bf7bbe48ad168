#include "media_common/codec_bin_params.h"

#include <tuple>
#include <utility>

#include "common/check.h"
#include "common/logging.h"

DRAVO_LOGGER("codec_bin_params");

namespace dravo::media {

CodecBinParams::KeyType::KeyType(std::string name, std::string codec)
    : name(std::move(name)), codec(std::move(codec)) {}

bool CodecBinParams::KeyType::operator<(KeyType const& other) const {
  return std::tie(name, codec) < std::tie(other.name, other.codec);
}

std::string CodecBinParams::KeyType::toKeyString() const {
  return " channel " + name + " with codec " + codec;
}

CodecBinParams::CodecBinParams(ChannelDescription const& channel,
                               std::shared_ptr<AbstractPipeline> const& pipeline,
                               std::string const& identifier)
    : channel_(channel),
      pipeline_(pipeline),
      codec_(channel.getAttribute(CATTR_CODEC)),
      type_(channel.getAttribute(CATTR_TYPE)),
      name_(channel.getAttribute(CATTR_NAME)),
      identifier_(identifier) {
  if (name_.empty()) LOGF(2, "Channel has empty name!");
  if (codec_.empty()) LOGF(2, "Channel has empty codec!");
}

std::string CodecBinParams::getDecoderName() const {
  return identifier_ + "/decoder/" + name_ + "/" + codec_;
}

std::string CodecBinParams::getEncoderName() const { return "encoder/" + name_ + "/" + codec_; }

std::string CodecBinParams::getSinkName() const {
  if (type_ == CTYPE_VIDEO) return "video_sink/" + identifier_ + "/" + name_;
  DRAVO_ASSERT(type_ == CTYPE_AUDIO);
  return name_;
}

std::string CodecBinParams::getSourceName() const { return type_ + "_source/" + name_; }

CodecBinParams::KeyType CodecBinParams::getKey() const { return KeyType(name_, codec_); }

}  // namespace dravo::media
