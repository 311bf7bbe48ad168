#pragma once
// Converts the buffers arriving at an input pad to a format its element
// accepts, before the element's own buffer handler sees them.
//
// Usage, in an element's initialize() after its input pad got its handler
// (for sinks: after SinkMixin<T>::initialize()):
//
//   filter_.applyToPad(getInputPad());
//   filter_.takeHandlerFromPad();
//   filter_.setConstraint([](ImageBuffer::FormatType const& offered) {
//     return ImageBuffer(offered.width_, offered.height_, ImageBuffer::IMAGE_I420, nullptr,
//                        nullptr, 0).format();
//   });
//
// The constraint maps each offered format to the one wanted; `Converter`
// (ImageBufferConverter) turns the buffer into that format, and each buffer
// it returns goes, in order, to the handler taken from the pad.
//
// Owner: the element, as a member; the installed handler is tracked by the
// object the pad's earlier handler was tracked by (the element), so it is
// never called after the element is gone. Set up on the element's
// initialising thread; the conversions run on the pad's scheduler.

#include <functional>
#include <memory>

#include "common/check.h"
#include "common/diagnostics/buffer_trace.h"
#include "media_common/pad.h"

namespace dravo::media {

template <typename T, typename Converter>
class PadFormatFilter {
 public:
  using FormatType = typename T::FormatType;
  using ConstraintFunction = std::function<FormatType(FormatType const&)>;
  using HandlerFunction = std::function<void(std::shared_ptr<T const> const&)>;

  // Attaches the filter to `pad`; once only.
  void applyToPad(InputPad<T>* pad) {
    DRAVO_CHECK(!my_pad_);
    my_pad_ = pad;
    inst_info_ = buffer_trace::createInstanceInfo(pad ? pad->getInstInfo() : nullptr, "convert");
  }
  void applyToPad(std::shared_ptr<InputPad<T>> const& pad) { applyToPad(pad.get()); }

  // Takes over the pad's current buffer handler and its tracked object.
  void takeHandlerFromPad() {
    DRAVO_CHECK(!handler_func_);
    DRAVO_CHECK(my_pad_);
    if (!my_pad_) return;
    tracked_object_ = my_pad_->getBufferHandlerTrackedObject();
    InputPadBase::BufferHandler handler = my_pad_->getBufferHandlerFunction();
    if (handler)
      handler_func_ = [handler](std::shared_ptr<T const> const& buffer) { handler(buffer); };
  }

  // Installs the converting handler on the pad.
  void setConstraint(ConstraintFunction const& constraint) {
    DRAVO_CHECK(my_pad_);
    DRAVO_CHECK(handler_func_);
    if (!my_pad_) return;
    my_pad_->setBufferHandler(tracked_object_,
                              [this, constraint](std::shared_ptr<DataBase const> const& data) {
                                onBuffer(constraint, std::dynamic_pointer_cast<T const>(data));
                              });
  }

 private:
  void onBuffer(ConstraintFunction const& constraint, std::shared_ptr<T const> const& buffer) {
    if (!buffer) return;
    bool const tracing = buffer_trace::isEnabled();
    if (tracing) buffer_trace::track(buffer.get(), inst_info_);
    FormatType const target = constraint(buffer->format());
    for (std::shared_ptr<T const> const& converted : Converter::convert(target, buffer)) {
      if (tracing) buffer_trace::track(converted.get(), inst_info_);
      DRAVO_ASSERT_MSG(converted, "Converter returned NULL buffer.");
      if (!converted) continue;
      if (handler_func_) handler_func_(converted);
    }
  }

  std::weak_ptr<void const> tracked_object_;
  HandlerFunction handler_func_;
  InputPad<T>* my_pad_ = nullptr;
  buffer_trace::InstanceInfo const* inst_info_ = nullptr;
};

}  // namespace dravo::media
