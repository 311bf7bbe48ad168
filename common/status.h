#pragma once
// The status of a component (an element, a bin), kept in a "status" node.
//
// `createStatus(node)` attaches a new Status to the "status" node: the node
// gets the meta entry "status_ptr" holding the Status (shared), and two
// children that anyone can read and watch through the property tree:
//     <node>/code     int32, `status_codes::Ok` (0) or a negative error code
//     <node>/message  string, a text for people
// `getStatusFromProperty(node)` finds the Status attached to a node.
//
// Thread-safe: any thread may set and read a status. A change sets the
// message first and then the code, so a listener woken by the code reads
// the message that goes with it.

#include <memory>
#include <string>

#include "common/mutex.h"
#include "common/non_copyable.h"

namespace dravo {

class PropertyNode;

namespace status_codes {
constexpr int Ok = 0;
constexpr int Error_Unknown = -1;
constexpr int Error_FileCantOpen = -2;
constexpr int Error_PipelineProbeIdle = -3;
constexpr int Error_ScreenCaptureAPI = -4;
constexpr int Error_VideoCaptureNoFrames = -5;
}  // namespace status_codes

class Status : NonCopyable {
 public:
  // Use createStatus; starts as Ok with an empty message.
  explicit Status(std::shared_ptr<PropertyNode> const& node);

  // Listeners of the two nodes are called with `mutex_` held: they must not
  // set this status again.
  void setStatus(int code, std::string const& message) DRAVO_EXCLUDES(mutex_);
  int getStatusCode() const;
  std::string getStatusMessage() const;
  bool isError() const { return getStatusCode() < 0; }

 private:
  // Held across both writes of setStatus, so that concurrent calls cannot
  // leave the message of one beside the code of another. The values live in
  // the nodes, which lock for themselves.
  Mutex mutex_;
  std::shared_ptr<PropertyNode> const code_node_;
  std::shared_ptr<PropertyNode> const message_node_;
};

// Attaches a new Status to `node` (replacing any earlier one).
std::shared_ptr<Status> createStatus(std::shared_ptr<PropertyNode> const& node);
// The Status attached to `node`, or null.
std::shared_ptr<Status> getStatusFromProperty(std::shared_ptr<PropertyNode> const& node);

}  // namespace dravo
