#include "media_common/video/v4l2_device_probe.h"

#include <linux/videodev2.h>

#include <cstring>
#include <set>
#include <vector>

#include "common/logging.h"

DRAVO_LOGGER("video_source");

namespace dravo::media {

namespace {

struct CaptureNode {
  std::string path;
  std::string id;
  std::string name;
};

// The driver's fixed-size text fields need not be terminated.
template <size_t N>
std::string fieldText(uint8_t const (&field)[N]) {
  return std::string(reinterpret_cast<char const*>(field),
                     strnlen(reinterpret_cast<char const*>(field), N));
}

std::vector<CaptureNode> captureNodes(V4L2System& system) {
  std::vector<CaptureNode> nodes;
  std::set<std::string> seen;
  for (std::string const& path : system.listDeviceNodes()) {
    std::unique_ptr<V4L2Device> device = system.createDevice();
    if (device->open(path) < 0) {
      LOGF(5, "Cannot open %s", path.c_str());
      continue;
    }
    v4l2_capability caps;
    int const result = queryStreamingCapture(*device, &caps);
    device->close();
    if (result <= 0) continue;
    std::string id = fieldText(caps.bus_info);
    if (id.empty()) id = path;
    if (!seen.insert(id).second) continue;
    std::string name = fieldText(caps.card);
    if (name.empty()) name = path;
    nodes.push_back({path, std::move(id), std::move(name)});
  }
  return nodes;
}

}  // namespace

std::shared_ptr<DeviceList> probeV4L2Devices(V4L2System& system) {
  auto list = std::make_shared<DeviceList>();
  for (CaptureNode const& node : captureNodes(system)) list->appendDevice(node.id, node.name);
  return list;
}

std::string findV4L2DeviceNode(V4L2System& system, std::string const& id) {
  if (id.rfind("/dev/", 0) == 0) return id;
  for (CaptureNode const& node : captureNodes(system))
    if (id.empty() || node.id == id) return node.path;
  return std::string();
}

}  // namespace dravo::media
