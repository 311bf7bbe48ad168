#include "media_common/sink_mixin.h"

namespace dravo::media {

bool SinkMixinBase::onDownstreamEvent(std::shared_ptr<Event const> const&) { return true; }

void SinkMixinBase::initializeMixin(std::shared_ptr<InputPadBase> const& pad) {
  input_pad_ = pad;
  initialized_ = true;
  std::weak_ptr<Element> element = elementOf(*this).weak_from_this();
  input_pad_->setDownstreamEventHandler(element, [this](std::shared_ptr<Event const> const& event) {
    return onDownstreamEvent(event);
  });
}

void SinkMixinBase::sendUpstreamEvent(std::shared_ptr<Event> const& event) {
  input_pad_->sendUpstreamEvent(event);
}

}  // namespace dravo::media
