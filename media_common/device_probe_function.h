#pragma once
// The function a device list manager polls for the current devices, bound
// weakly to the object that owns it (usually the driver that probes).
//
// Calling it locks the owner first: while the owner lives the function runs
// (with the owner held for the duration of the call) and its list is
// returned; once the owner is gone the call does nothing and gives null,
// which the manager reads as "no devices".
//
//     manager.enablePeriodicProbing(
//         DeviceProbeFunction(driver, [raw = driver.get()] { return raw->probe(); }));
//
// Copies share nothing but the owner and the function; it may be called on
// any thread (the function decides whether that is safe).

#include <functional>
#include <memory>
#include <utility>

#include "media_common/device_list.h"

namespace dravo::media {

class DeviceProbeFunction {
 public:
  using Function = std::function<std::shared_ptr<DeviceList>()>;

  DeviceProbeFunction() = default;
  DeviceProbeFunction(std::weak_ptr<void const> owner, Function function)
      : owner_(std::move(owner)), function_(std::move(function)) {}

  std::shared_ptr<DeviceList> operator()() const {
    std::shared_ptr<void const> alive = owner_.lock();
    if (!alive || !function_) return nullptr;
    return function_();
  }

  bool expired() const { return owner_.expired(); }

 private:
  std::weak_ptr<void const> owner_;
  Function function_;
};

}  // namespace dravo::media
