#pragma once
// An ordered list of devices of one kind: pairs of (identifier, name).
//
// Identifiers are unique within a list; adding one that is already present
// changes nothing and logs a warning. Order matters: two lists are equal only
// when they hold the same entries in the same order.
//
// A plain value: copy and move it freely. One object is not synchronised;
// once a list has been handed to a DeviceListManagerBase it is shared with
// other threads and must not be changed any more.

#include <deque>
#include <string>
#include <utility>

namespace dravo::media {

class DeviceList {
 public:
  // (identifier, name)
  using Entry = std::pair<std::string, std::string>;
  using const_iterator = std::deque<Entry>::const_iterator;

  // Add at the end or at the front unless `id` is already in the list.
  void appendDevice(std::string const& id, std::string const& name);
  void prependDevice(std::string const& id, std::string const& name);
  // Removes the entry with `id`, if any.
  void removeDevice(std::string const& id);
  void clear() { devices_.clear(); }

  bool empty() const { return devices_.empty(); }
  unsigned int numDevices() const { return static_cast<unsigned int>(devices_.size()); }
  const_iterator begin() const { return devices_.begin(); }
  const_iterator end() const { return devices_.end(); }

  bool operator==(DeviceList const& other) const { return devices_ == other.devices_; }
  bool operator!=(DeviceList const& other) const { return !(*this == other); }

 private:
  bool haveDevice(std::string const& id) const;

  std::deque<Entry> devices_;
};

}  // namespace dravo::media
