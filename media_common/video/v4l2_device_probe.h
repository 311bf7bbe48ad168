#pragma once
// Finds the Video4Linux2 capture devices, for the device list manager and
// for the capture source.
//
// A device is a node that reports video capture with streaming. Its
// identifier is the bus position the driver reports ("usb-0000:00:14.0-1"),
// which stays the same across reboots and re-plugging into the same port,
// or the node path when the driver reports none; its name is the driver's
// card name. Nodes of one device that share the bus position (metadata
// nodes) are listed once.
//
//     auto system = getV4L2System();
//     manager.enablePeriodicProbing(DeviceProbeFunction(
//         system, [system] { return probeV4L2Devices(*system); }));
//
// Plain functions; any thread (each opens its own devices).

#include <memory>
#include <string>

#include "media_common/device_list.h"
#include "media_common/video/v4l2_device.h"

namespace dravo::media {

std::shared_ptr<DeviceList> probeV4L2Devices(V4L2System& system);

// The node to open for the device `id`: the first capture device when `id`
// is empty, `id` itself when it is a path, else the node whose identifier
// is `id`; empty when there is none.
std::string findV4L2DeviceNode(V4L2System& system, std::string const& id);

}  // namespace dravo::media
