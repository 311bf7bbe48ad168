#include "media_common/source_element.h"

namespace dravo::media {

bool SourceMixinBase::onUpstreamEvent(std::shared_ptr<Event const> const&) { return true; }

void SourceMixinBase::sendDownstreamEvent(std::shared_ptr<Event const> const& event) {
  output_pad_->sendDownstreamEvent(event);
}

void SourceMixinBase::initialize(std::shared_ptr<OutputPadBase> const& pad) {
  output_pad_ = pad;
  std::weak_ptr<Element> element = elementOf(*this).weak_from_this();
  output_pad_->setUpstreamEventHandler(element, [this](std::shared_ptr<Event const> const& event) {
    return onUpstreamEvent(event);
  });
}

}  // namespace dravo::media
