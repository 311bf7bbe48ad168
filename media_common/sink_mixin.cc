#include "media_common/sink_mixin.h"

namespace dravo::media {

bool SinkMixinBase::onDownstreamEvent(std::shared_ptr<Event const> const&) { return true; }

void SinkMixinBase::initializeMixin(std::shared_ptr<InputPadBase> const& pad) {
  input_pad_ = pad;
  initialized_ = true;
  Element& element = elementOf(*this);
  input_pad_->setDownstreamEventHandler(
      element.weak_from_this(),
      [this, sequence = element.sequenceToken()](std::shared_ptr<Event const> const& event) {
        ScopedSequence scope(sequence);
        return onDownstreamEvent(event);
      });
}

void SinkMixinBase::sendUpstreamEvent(std::shared_ptr<Event> const& event) {
  input_pad_->sendUpstreamEvent(event);
}

}  // namespace dravo::media
