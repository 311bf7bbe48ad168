#include <utility>

#include "common/deferred.h"
#include "common/file.h"
#include "common/logging.h"
#include "common/static_property.h"
#include "common/string_util.h"
#include "common/time.h"
#include "media_common/device_list_manager.h"

DRAVO_LOGGER("device_list_manager");

namespace dravo::media {

namespace {

StaticProperty<Duration> g_device_probe_interval(
    "media/devices/device_probe_interval", Duration::fromSec(5),
    "How often drivers should poll for devices (only for drivers that poll).");

// A blacklist holds identifiers, one per line; anything larger than this is
// not a blacklist we wrote and is ignored rather than loaded.
constexpr size_t kMaxBlacklistFileSize = 1u << 20;

// The probe thread holds the probing mutex except while it waits, so it must
// wait at least a little each round or disablePeriodicProbing could never get
// in; a zero or negative interval (bad configuration) is raised to this.
constexpr Duration kMinProbeInterval = Duration::fromMSec(1);

Duration probeInterval() {
  Duration interval = g_device_probe_interval.get();
  return interval < kMinProbeInterval ? kMinProbeInterval : interval;
}

}  // namespace

DeviceListManagerBase::DeviceListManagerBase(std::string const& source_name)
    : source_name_(source_name),
      current_list_(std::make_shared<DeviceList>()),
      current_non_blacklisted_list_(std::make_shared<DeviceList>()) {
  if (!source_name_.empty()) readBlacklist();
}

DeviceListManagerBase::~DeviceListManagerBase() {
  bool probing;
  {
    MutexLock lock(probing_mutex_);
    DRAVO_ASSERT(!periodic_probing_);
    probing = periodic_probing_;
  }
  // The assertion handler let us go on: stop the thread rather than leave it
  // running on a dying object.
  if (probing) disablePeriodicProbing();
}

void DeviceListManagerBase::updateList(std::shared_ptr<DeviceList> const& list) {
  std::shared_ptr<DeviceList> next = list ? list : std::make_shared<DeviceList>();
  MutexLock lock(list_mutex_);
  if (current_list_ && current_list_->numDevices() == next->numDevices() &&
      *current_list_ == *next) {
    LOGF(5, "Device list has not changed.");
    return;
  }
  LOGF(5, "Device list has changed.");
  current_list_ = std::move(next);
  if (!source_name_.empty()) {
    // A new object rather than clearing the old one: callers may still hold
    // the previous snapshot on other threads.
    auto filtered = std::make_shared<DeviceList>();
    for (auto const& [id, name] : *current_list_)
      if (blacklist_.count(id) == 0) filtered->appendDevice(id, name);
    current_non_blacklisted_list_ = std::move(filtered);
  }
  listUpdated();
}

void DeviceListManagerBase::enablePeriodicProbing(DeviceProbeFunction const& probe) {
  {
    MutexLock lock(probing_mutex_);
    DRAVO_ASSERT(!periodic_probing_);
    if (periodic_probing_) return;
  }
  updateList(probe());

  MutexLock lock(probing_mutex_);
  LOGF(5, "enablePeriodicProbing");
  periodic_probing_ = true;
  probe_thread_.emplace();
  probe_thread_->start([this, probe] { probeThreadFunc(probe); });
}

void DeviceListManagerBase::disablePeriodicProbing() {
  {
    MutexLock lock(probing_mutex_);
    if (!periodic_probing_) return;
    periodic_probing_ = false;
    probing_condition_.notifyAll();
  }
  probe_thread_->join();
}

void DeviceListManagerBase::probeThreadFunc(DeviceProbeFunction probe) {
  Thread::current()->setName("Periodic Device Probe");
  Time next = Time::now() + probeInterval();
  MutexLock lock(probing_mutex_);
  for (;;) {
    while (periodic_probing_ && Time::now() < next)
      probing_condition_.timedWaitAbsolute(lock, next);
    if (!periodic_probing_) {
      lock.unlock();
      return;
    }
    LOGF(5, "Doing automatic probe.");
    std::shared_ptr<DeviceList> list = probe();
    updateList(list);
    // Our reference may be the last one of an older list; let it go off this
    // thread so a heavy destructor never delays probing.
    deferredReset(list);
    next = Time::now() + probeInterval();
  }
}

std::shared_ptr<DeviceList> DeviceListManagerBase::getCurrentDeviceList() const {
  MutexLock lock(list_mutex_);
  return current_list_;
}

std::shared_ptr<DeviceList> DeviceListManagerBase::getCurrentNonBlacklistedDeviceList() const {
  MutexLock lock(list_mutex_);
  return current_non_blacklisted_list_;
}

std::string DeviceListManagerBase::getDefault() const {
  MutexLock lock(list_mutex_);
  if (current_list_->empty()) return std::string();
  return current_list_->begin()->first;
}

std::string DeviceListManagerBase::getDefaultNonBlacklisted() const {
  MutexLock lock(list_mutex_);
  if (current_non_blacklisted_list_->empty()) return std::string();
  return current_non_blacklisted_list_->begin()->second;
}

void DeviceListManagerBase::addToBlacklist(std::string const& id) {
  DRAVO_ASSERT(!source_name_.empty());
  if (source_name_.empty()) return;
  MutexLock lock(list_mutex_);
  blacklist_.insert(id);
  writeBlacklist();
}

void DeviceListManagerBase::removeFromBlacklist(std::string const& id) {
  DRAVO_ASSERT(!source_name_.empty());
  if (source_name_.empty()) return;
  MutexLock lock(list_mutex_);
  blacklist_.erase(id);
  writeBlacklist();
}

void DeviceListManagerBase::clearBlacklist() {
  DRAVO_ASSERT(!source_name_.empty());
  if (source_name_.empty()) return;
  MutexLock lock(list_mutex_);
  blacklist_.clear();
  writeBlacklist();
}

bool DeviceListManagerBase::isBlacklisted(std::string const& id) const {
  DRAVO_ASSERT(!source_name_.empty());
  MutexLock lock(list_mutex_);
  return blacklist_.count(id) != 0;
}

std::string DeviceListManagerBase::getBlacklistFilename() const {
  return File::joinPath(getConfigPath(), source_name_ + ".blacklist");
}

void DeviceListManagerBase::readBlacklist() {
  std::string path = getBlacklistFilename();
  std::string text;
  if (!File::readFileToStringIfExists(path, &text, kMaxBlacklistFileSize)) return;
  LOGF(4, "Successfully read device blacklist file '%s'.", path.c_str());
  // Skipping empty pieces drops blank lines and the final line feed, so an
  // empty identifier never enters the set.
  MutexLock lock(list_mutex_);
  for (std::string& id : SplitString(text, "\n", kSplitSkipEmpty)) blacklist_.insert(std::move(id));
}

void DeviceListManagerBase::writeBlacklist() {
  DRAVO_ASSERT(!source_name_.empty());
  if (source_name_.empty()) return;
  std::string text;
  for (std::string const& id : blacklist_) {
    text += id;
    text += '\n';
  }
  std::string path = getBlacklistFilename();
  // The configuration directory may not exist yet on a fresh installation.
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) File::recursivelyCreateDir(path.substr(0, slash));
  // The file is written under the list mutex so that concurrent changes reach
  // the disk in the order they were made.
  File::writeStringToFile(path, text);
}

}  // namespace dravo::media
