#include "tools/x11_targets.h"

#include <cerrno>
#include <cstdlib>

#include "common/property_node.h"
#include "common/status.h"
#include "media_common/video/screenshot_x11.h"
#include "media_common/video/x11_connection.h"

namespace dravo::tool {

bool x11WindowExists(std::string const& id) {
  errno = 0;
  char* end = nullptr;
  unsigned long long const number = std::strtoull(id.c_str(), &end, 10);
  if (id.empty() || *end != '\0' || errno == ERANGE || number == 0 ||
      static_cast<Window>(number) != number)
    return false;
  auto connection = media::X11Connection::get();
  if (!connection) return false;
  MutexLock lock(connection->mutex());
  media::X11ErrorTrap trap;
  XWindowAttributes attributes;
  return XGetWindowAttributes(connection->display(), static_cast<Window>(number), &attributes) &&
         !trap.failed();
}

bool x11DisplayExists(std::string const& index) {
  // A test picture at the smallest size: the library refuses indices beyond
  // its monitors with an error status.
  auto status = createStatus(PropertyNode::create("display_check"));
  return media::getScreenshot(index, Size(16, 16), status) != nullptr || !status->isError();
}

}  // namespace dravo::tool
