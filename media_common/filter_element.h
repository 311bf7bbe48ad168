#pragma once
// A complete one-in, one-out element: input pad "in", output pad "out".
//
// Its pads are joined by an event-only link, so events that `onDownstreamEvent`
// (or `onUpstreamEvent`) lets pass travel on through the element. A filter
// makes each output buffer from an input buffer in `onBuffer` and copies the
// input's timing, priority, metadata and tokens with `Buffer::copyMetadata`.

#include "media_common/link_handle.h"
#include "media_common/sink_mixin.h"
#include "media_common/source_element.h"

namespace dravo::media {

template <typename In, typename Out>
class FilterElement : public Element, public SourceMixin<Out>, public SinkMixin<In> {
 protected:
  void initialize() override {
    Element::initialize();
    SinkMixin<In>::initialize();
    SourceMixin<Out>::initialize();
    event_link_ = SinkMixin<In>::getInputPad()->eventOnlyLink(*SourceMixin<Out>::getOutputPad());
  }

 private:
  LinkHandle event_link_;
};

}  // namespace dravo::media
