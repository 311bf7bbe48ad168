#pragma once
// An ordered map from keys to weakly held objects.
//
// `WeakMap<K, V>` maps K to `std::weak_ptr<V>`: it never keeps a value alive,
// and an entry whose object has died counts as absent. `find` gives end() for
// missing and dead entries alike; iteration visits live entries only, in key
// order, and each visited entry holds a strong reference for as long as the
// iterator stands on it:
//
//     for (auto const& entry : pads_) entry.second->flush();   // entry.first is the key
//     if (auto it = pads_.find("src"); it != pads_.end()) use(it->second);
//
// Inserting over a live entry is a broken contract (the assertion
// "dest.expired()"); dead entries are pruned as the map grows, or on `prune`.
// Not thread-safe: the owner guards it.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "common/check.h"

namespace dravo {

template <typename K, typename V, typename Compare = std::less<K>>
class WeakMap {
  using Map = std::map<K, std::weak_ptr<V>, Compare>;

 public:
  // What an iterator points at: the key and a strong reference to the value.
  struct Entry {
    K const& first;
    std::shared_ptr<V> second;
  };

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = Entry const*;
    using reference = Entry const&;

    const_iterator() = default;
    const_iterator(const_iterator const& other) : at_(other.at_), end_(other.end_) {
      if (other.entry_) entry_.emplace(Entry{other.entry_->first, other.entry_->second});
    }
    const_iterator& operator=(const_iterator const& other) {
      if (this != &other) {
        at_ = other.at_;
        end_ = other.end_;
        entry_.reset();
        if (other.entry_) entry_.emplace(Entry{other.entry_->first, other.entry_->second});
      }
      return *this;
    }

    Entry const& operator*() const { return *entry_; }
    Entry const* operator->() const { return &*entry_; }
    const_iterator& operator++() {
      ++at_;
      settle();
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator previous = *this;
      ++*this;
      return previous;
    }
    bool operator==(const_iterator const& other) const { return at_ == other.at_; }

   private:
    friend class WeakMap;
    const_iterator(typename Map::const_iterator at, typename Map::const_iterator end)
        : at_(at), end_(end) {
      settle();
    }
    // Moves forward to the first live entry and locks it.
    void settle() {
      entry_.reset();
      for (; at_ != end_; ++at_) {
        if (std::shared_ptr<V> value = at_->second.lock()) {
          entry_.emplace(Entry{at_->first, std::move(value)});
          return;
        }
      }
    }

    typename Map::const_iterator at_;
    typename Map::const_iterator end_;
    std::optional<Entry> entry_;
  };
  using iterator = const_iterator;

  const_iterator begin() const { return const_iterator(map_.begin(), map_.end()); }
  const_iterator end() const { return const_iterator(map_.end(), map_.end()); }

  // end() when the key is missing or its object has died.
  const_iterator find(K const& key) const {
    auto at = map_.find(key);
    if (at == map_.end() || at->second.expired()) return end();
    return const_iterator(at, map_.end());
  }
  // The live value, or null.
  std::shared_ptr<V> get(K const& key) const {
    auto at = map_.find(key);
    return at == map_.end() ? nullptr : at->second.lock();
  }
  bool contains(K const& key) const { return static_cast<bool>(get(key)); }

  // The key must be absent or dead.
  void insert(K const& key, std::shared_ptr<V> const& value) {
    if (map_.size() >= 2 * live_at_last_prune_ + 8) prune();
    std::weak_ptr<V>& dest = map_[key];
    DRAVO_ASSERT(dest.expired());
    dest = value;
  }

  // Removes the entry, live or dead; returns whether the key was present.
  bool erase(K const& key) { return map_.erase(key) != 0; }
  void clear() {
    map_.clear();
    live_at_last_prune_ = 0;
  }

  // Drops entries whose objects have died.
  void prune() {
    std::erase_if(map_, [](auto const& item) { return item.second.expired(); });
    live_at_last_prune_ = map_.size();
  }

  // Live entries; walks the whole map.
  size_t size() const {
    size_t live = 0;
    for (auto const& item : map_) live += item.second.expired() ? 0 : 1;
    return live;
  }
  bool empty() const { return begin() == end(); }

 private:
  Map map_;
  size_t live_at_last_prune_ = 0;
};

}  // namespace dravo
