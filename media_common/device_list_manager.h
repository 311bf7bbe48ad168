#pragma once
// Keeps the current list of devices of one kind and a persistent blacklist.
//
// The owner feeds lists through `updateList`, or lets the manager poll a
// probe function: once on `enablePeriodicProbing`, then on a thread of the
// manager's own ("Periodic Device Probe") every
// "media/devices/device_probe_interval" (default 5 s, read again before each
// wait). A list that differs from the current one (entries or their order)
// replaces it, the list without blacklisted devices is rebuilt, and
// `listUpdated()` is called.
//
// The blacklist is a set of device identifiers stored in
// `<getConfigPath()>/<source name>.blacklist`, one identifier per line in
// byte order, each ended by "\n". A manager with an empty source name has no
// blacklist: the blacklist calls are assertions, no file is touched, and the
// non-blacklisted list stays empty. Changing the blacklist takes effect on
// the non-blacklisted list at the next changed `updateList`.
//
// Lifecycle: probing off -> enablePeriodicProbing -> on ->
// disablePeriodicProbing (returns after the thread has ended) -> off; it may
// be enabled again. The owner must switch probing off before destroying the
// manager ("!periodic_probing_" is asserted), and enables and disables
// probing from one thread at a time.
//
// Threads and locks: every public call may come from any thread. The probing
// mutex guards the probing flag and is held by the probe thread while it
// probes and updates, so `disablePeriodicProbing` waits for a running probe.
// The list mutex guards the lists and the blacklist; `updateList` calls
// `listUpdated()` with it held, on the thread that called `updateList` (the
// caller's or the probe thread). Hence `listUpdated()`, the probe function and anything they
// trigger synchronously must not call back into this manager's locking calls (lists, defaults,
// blacklist, probing switches).

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "common/condition_variable.h"
#include "common/mutex.h"
#include "common/non_copyable.h"
#include "common/thread.h"
#include "common/thread_annotations.h"
#include "media_common/device_list.h"
#include "media_common/device_probe_function.h"

namespace dravo {
class PropertyNode;
}  // namespace dravo

namespace dravo::media {

class DeviceListManagerBase : NonCopyable {
 protected:
  // Called after the current list changed, inside the list mutex; read the
  // new lists through `currentListLocked()` / `currentNonBlacklistedListLocked()`.
  virtual void listUpdated() DRAVO_REQUIRES(list_mutex_) = 0;

 public:
  // Reads the blacklist file when `source_name` is not empty.
  explicit DeviceListManagerBase(std::string const& source_name);
  virtual ~DeviceListManagerBase();

  // Makes `list` the current list unless it equals it; null counts as an
  // empty list. The list must not be changed afterwards.
  void updateList(std::shared_ptr<DeviceList> const& list);

  // Probes once on the calling thread, then starts the probe thread.
  // Probing must be off ("!periodic_probing_").
  void enablePeriodicProbing(DeviceProbeFunction const& probe);
  // Stops and joins the probe thread; nothing when probing is off. Must not
  // be called from the probe thread.
  void disablePeriodicProbing();

  // Snapshots: never null, and never changed after they were handed out.
  std::shared_ptr<DeviceList> getCurrentDeviceList() const;
  std::shared_ptr<DeviceList> getCurrentNonBlacklistedDeviceList() const;
  // The identifier of the first current device, or "".
  std::string getDefault() const;
  // The name of the first non-blacklisted device, or "".
  std::string getDefaultNonBlacklisted() const;

  // Each change rewrites the blacklist file. All need a source name.
  void addToBlacklist(std::string const& id);
  void removeFromBlacklist(std::string const& id);
  void clearBlacklist();
  bool isBlacklisted(std::string const& id) const;

 protected:
  // The list mutex, for the annotations of `listUpdated` overrides.
  Mutex& listMutex() const DRAVO_RETURN_CAPABILITY(list_mutex_) { return list_mutex_; }
  std::shared_ptr<DeviceList> const& currentListLocked() const DRAVO_REQUIRES(list_mutex_) {
    return current_list_;
  }
  std::shared_ptr<DeviceList> const& currentNonBlacklistedListLocked() const
      DRAVO_REQUIRES(list_mutex_) {
    return current_non_blacklisted_list_;
  }

 private:
  std::string getBlacklistFilename() const;
  void readBlacklist();
  void writeBlacklist() DRAVO_REQUIRES(list_mutex_);
  void probeThreadFunc(DeviceProbeFunction probe);

  Mutex probing_mutex_;
  // A fresh thread for every enable (a Thread starts only once).
  std::optional<Thread> probe_thread_;
  ConditionVariable probing_condition_;
  mutable Mutex list_mutex_ DRAVO_ACQUIRED_AFTER(probing_mutex_);
  bool periodic_probing_ DRAVO_GUARDED_BY(probing_mutex_) = false;
  std::string const source_name_;
  std::set<std::string> blacklist_ DRAVO_GUARDED_BY(list_mutex_);
  std::shared_ptr<DeviceList> current_list_ DRAVO_GUARDED_BY(list_mutex_);
  std::shared_ptr<DeviceList> current_non_blacklisted_list_ DRAVO_GUARDED_BY(list_mutex_);
};

// A device list manager that publishes the current devices as the
// enumeration entries of a property node: for each device, in order, the
// value and name are its identifier and the display name its name.
// Blacklisted devices are published too. Node listeners are notified on the
// thread that updated the list, inside the list mutex (see above).
class DeviceListManager : public DeviceListManagerBase {
 public:
  DeviceListManager(std::string const& source_name, std::shared_ptr<PropertyNode> const& node);

 protected:
  void listUpdated() override DRAVO_REQUIRES(listMutex());

 private:
  std::shared_ptr<PropertyNode> const node_;
};

}  // namespace dravo::media
