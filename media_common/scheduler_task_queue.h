#pragma once
// The queue of a scheduler: hands out tasks in run order (internal).
//
// `RunsBefore(a, b)` is a strict total order on the queued items (priority,
// then the order of queueing), and `pop` always yields the item that runs
// first. Most tasks arrive in run order: equal levels stamped with
// increasing times. Such an item, one that runs after everything queued so
// far on the in-order lane, is appended to a ring and costs O(1) to queue and
// to take; an item that overtakes goes to a binary heap. The next item is
// the first of the ring or the top of the heap, whichever runs first. Like a
// vector, the queue keeps the room it grew to; its owner lets go of it.
//
// Not synchronised: the owning scheduler guards it with its own mutex.

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace dravo::media {

template <typename T, typename RunsBefore>
class SchedulerTaskQueue {
 public:
  bool empty() const { return ring_count_ == 0 && heap_.empty(); }
  size_t size() const { return ring_count_ + heap_.size(); }

  void push(T item) {
    if (ring_count_ == 0 || !RunsBefore()(item, ringBack())) {
      pushRing(std::move(item));
      return;
    }
    heap_.push_back(std::move(item));
    std::push_heap(heap_.begin(), heap_.end(), RunsAfter());
  }

  // The item that runs first; the queue must not be empty.
  T const& front() const { return fromHeap() ? heap_.front() : ring_[ring_head_]; }

  // Removes and returns the item that runs first; the queue must not be empty.
  T pop() {
    if (fromHeap()) {
      std::pop_heap(heap_.begin(), heap_.end(), RunsAfter());
      T item = std::move(heap_.back());
      heap_.pop_back();
      return item;
    }
    T item = std::move(ring_[ring_head_]);
    ring_[ring_head_] = T();  // what the item held goes with the caller's copy
    ring_head_ = (ring_head_ + 1) & (ring_.size() - 1);
    if (--ring_count_ == 0) ring_head_ = 0;
    return item;
  }

  // Calls `f` on every item, in no particular order.
  template <typename F>
  void forEach(F&& f) const {
    for (size_t i = 0; i < ring_count_; ++i) f(ring_[(ring_head_ + i) & (ring_.size() - 1)]);
    for (T const& item : heap_) f(item);
  }

 private:
  // For the std heap functions, which keep the "largest" item in front.
  struct RunsAfter {
    bool operator()(T const& a, T const& b) const { return RunsBefore()(b, a); }
  };

  static constexpr size_t kInitialRing = 8;

  bool fromHeap() const {
    if (heap_.empty()) return false;
    return ring_count_ == 0 || RunsBefore()(heap_.front(), ring_[ring_head_]);
  }
  T const& ringBack() const { return ring_[(ring_head_ + ring_count_ - 1) & (ring_.size() - 1)]; }

  void pushRing(T item) {
    if (ring_count_ == ring_.size()) growRing();
    ring_[(ring_head_ + ring_count_) & (ring_.size() - 1)] = std::move(item);
    ++ring_count_;
  }

  void growRing() {
    std::vector<T> grown(std::max(kInitialRing, ring_.size() * 2));
    for (size_t i = 0; i < ring_count_; ++i)
      grown[i] = std::move(ring_[(ring_head_ + i) & (ring_.size() - 1)]);
    ring_.swap(grown);
    ring_head_ = 0;
  }

  // Power-of-two size; items [head, head + count) in run order.
  std::vector<T> ring_;
  size_t ring_head_ = 0;
  size_t ring_count_ = 0;
  std::vector<T> heap_;
};

}  // namespace dravo::media
