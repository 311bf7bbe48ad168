#include "common/status.h"

#include "common/logging.h"
#include "common/property_node.h"

DRAVO_LOGGER("status");

namespace dravo {
namespace {
constexpr char kStatusPtrKey[] = "status_ptr";
}  // namespace

Status::Status(std::shared_ptr<PropertyNode> const& node)
    : code_node_(node->getNode("code", true)), message_node_(node->getNode("message", true)) {
  message_node_->setDefaultValue(std::string());
  code_node_->setDefaultValue(status_codes::Ok);
}

void Status::setStatus(int code, std::string const& message) {
  MutexLock lock(mutex_);
  LOGF(5, "%s: %d %s", code_node_->getFullName().c_str(), code, message.c_str());
  message_node_->setValue(message);
  code_node_->setValue(static_cast<int32_t>(code));
}

int Status::getStatusCode() const { return code_node_->getValue().getInt(); }

std::string Status::getStatusMessage() const { return message_node_->getValue().getString(); }

std::shared_ptr<Status> createStatus(std::shared_ptr<PropertyNode> const& node) {
  auto status = std::make_shared<Status>(node);
  node->setMeta(kStatusPtrKey, status);
  return status;
}

std::shared_ptr<Status> getStatusFromProperty(std::shared_ptr<PropertyNode> const& node) {
  return node ? node->getMeta(kStatusPtrKey).getObject<Status>() : nullptr;
}

}  // namespace dravo
