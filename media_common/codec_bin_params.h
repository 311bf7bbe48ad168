#pragma once
// The names under which a channel's codec bin and its parts are registered,
// derived from the channel's description.
//
// For a channel named N with codec C and type T, and the identifier I given
// by the caller:
//   decoder  I/decoder/N/C        encoder  encoder/N/C
//   sink     video_sink/I/N (video), N (audio)
//   source   T_source/N           key      (N, C)
//
// A value type made while a session sets up its channels; copies are
// independent and may be read on any thread.

#include <memory>
#include <string>

#include "media_common/abstract_pipeline.h"
#include "media_common/channel_description.h"

namespace dravo::media {

class CodecBinParams {
 public:
  // Identifies a codec bin among those of a session: channel name, then codec.
  struct KeyType {
    KeyType(std::string name, std::string codec);

    bool operator<(KeyType const& other) const;
    bool operator==(KeyType const& other) const = default;
    // " channel <name> with codec <codec>", for log lines.
    std::string toKeyString() const;

    std::string name;
    std::string codec;
  };

  // Logs an error when the channel has no name or no codec.
  CodecBinParams(ChannelDescription const& channel,
                 std::shared_ptr<AbstractPipeline> const& pipeline, std::string const& identifier);

  std::string getDecoderName() const;
  std::string getEncoderName() const;
  // Only video and audio channels have sinks; any other type is an assertion.
  std::string getSinkName() const;
  std::string getSourceName() const;
  KeyType getKey() const;

  ChannelDescription const& getChannel() const { return channel_; }
  std::shared_ptr<AbstractPipeline> const& getPipeline() const { return pipeline_; }
  std::string const& getIdentifier() const { return identifier_; }

 private:
  ChannelDescription channel_;
  std::shared_ptr<AbstractPipeline> pipeline_;
  std::string codec_;
  std::string type_;
  std::string name_;
  std::string identifier_;
};

}  // namespace dravo::media
