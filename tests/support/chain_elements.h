#pragma once
// The smallest elements a pipeline test or benchmark needs: a source that
// sends what it is given, a filter that forwards a fresh copy of each buffer,
// and a sink that counts what reaches it. Created with createElement and
// owned by the test; onBuffer runs on the element's scheduler thread, the
// counters may be read from any thread.

#include <atomic>
#include <memory>

#include "media_common/element.h"
#include "media_common/filter_element.h"
#include "media_common/sink_mixin.h"
#include "media_common/source_element.h"
#include "tests/support/waitable_flag.h"

namespace dravo::testing {

template <typename T>
class PlainSource : public media::Source<T> {
 public:
  ~PlainSource() override { this->disconnect_all(); }
};

// Sends a new buffer of the same type with the incoming one's metadata.
template <typename T>
class CopyFilter : public media::FilterElement<T, T> {
 public:
  ~CopyFilter() override { this->disconnect_all(); }
  void onBuffer(std::shared_ptr<T const> const& in) override {
    auto out = std::make_shared<T>();
    out->copyMetadata(*in);
    this->sendBuffer(out);
  }
};

// Counts buffers; `reached` is set once `notify_at` of them have arrived.
template <typename T>
class CountingSink : public media::Element, public media::SinkMixin<T> {
 public:
  ~CountingSink() override { disconnect_all(); }
  void initialize() override {
    media::Element::initialize();
    media::SinkMixin<T>::initialize();
  }
  void onBuffer(std::shared_ptr<T const> const&) override {
    if (received.fetch_add(1, std::memory_order_relaxed) + 1 == notify_at) reached.set();
  }

  std::atomic<int64_t> received{0};
  int64_t notify_at = -1;
  WaitableFlag reached;
};

}  // namespace dravo::testing
