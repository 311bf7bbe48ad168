#pragma once
// Sinks: elements with one input pad, "in".
//
// `SinkMixin<T>` gives an element the pad, routes downstream events to
// `onDownstreamEvent` and hands arriving buffers, cast to `T`, to
// `preOnBuffer`, which passes them to `onBuffer` (the clock-synchronised
// `Sink<T>` holds them until their time first).
//
// Handlers are tracked by the element: after it is gone nothing is delivered.
// They run on the element's scheduler, inside the element's sequence;
// `sendUpstreamEvent` may be called from any thread.

#include <memory>

#include "common/logging.h"
#include "media_common/element.h"
#include "media_common/pad.h"

namespace dravo::media {

class SinkMixinBase {
 public:
  // Takes ownership of `pad`, a placeholder until initializeMixin.
  explicit SinkMixinBase(std::unique_ptr<InputPadBase> pad) : input_pad_(std::move(pad)) {}
  explicit SinkMixinBase(InputPadBase* pad) : SinkMixinBase(std::unique_ptr<InputPadBase>(pad)) {}
  virtual bool onDownstreamEvent(std::shared_ptr<Event const> const& event);
  // Stores the pad and routes its downstream events, tracked by the element.
  virtual void initializeMixin(std::shared_ptr<InputPadBase> const& pad);
  virtual ~SinkMixinBase() = default;

  void sendUpstreamEvent(std::shared_ptr<Event> const& event);

 protected:
  std::shared_ptr<InputPadBase> input_pad_;
  bool initialized_ = false;
};

// The element a mixin belongs to (mixins are always mixed into an Element).
inline Element& elementOf(SinkMixinBase& mixin) { return dynamic_cast<Element&>(mixin); }

template <typename T>
class SinkMixin : public SinkMixinBase {
 public:
  SinkMixin() : SinkMixinBase(std::make_unique<InputPad<T>>()) {}

  std::shared_ptr<InputPad<T>> getInputPad() const {
    DRAVO_ASSERT_MSG(input_pad_ && initialized_, "getInputPad used before initialize()");
    return std::static_pointer_cast<InputPad<T>>(input_pad_);
  }

 protected:
  // The element's work for one buffer; runs on the element's scheduler.
  virtual void onBuffer(std::shared_ptr<T const> const& buffer) {
    (void)buffer;
    LOGF_TO("sink_element", 3, "SinkMixin::onBuffer called. Override probably had wrong type.");
  }
  virtual void preOnBuffer(std::shared_ptr<T const> const& buffer) { onBuffer(buffer); }

  // Creates the static pad "in"; the element's initialize() calls it.
  virtual void initialize() {
    Element& element = elementOf(*this);
    auto pad = element.createStaticPad<InputPad<T>>("in");
    initializeMixin(pad);
    pad->setBufferHandler(
        element.weak_from_this(),
        [this, sequence = element.sequenceToken()](std::shared_ptr<DataBase const> const& data) {
          ScopedSequence scope(sequence);
          preOnBuffer(std::dynamic_pointer_cast<T const>(data));
        });
  }
};

}  // namespace dravo::media
