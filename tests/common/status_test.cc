#include "common/status.h"

#include <gtest/gtest.h>

#include "common/property_node.h"

namespace dravo {
namespace {

TEST(StatusTest, StatusLivesOnItsNodeAndListenersSeeTheMatchingMessage) {
  auto node = PropertyNode::create("el")->getNode("status", true);
  auto status = createStatus(node);

  // Woken by the code, the listener must already see the new message.
  struct Watcher : sigslot::has_slots<sigslot::multi_threaded_local> {
    ~Watcher() override { disconnect_all(); }
    void onChange(PropertyChangedArgs const& args) {
      if (args.node->getName() == "code") seen.push_back(status->getStatusMessage());
    }
    std::shared_ptr<Status> status;
    std::vector<std::string> seen;
  } watcher;
  watcher.status = status;
  node->connectChanged(&watcher, &Watcher::onChange);
  status->setStatus(status_codes::Error_VideoCaptureNoFrames, "Frames timed out on default camera");
  EXPECT_TRUE(status->isError());
  // The same code again: the message changes, the code does not.
  status->setStatus(status_codes::Error_VideoCaptureNoFrames, "Max retry count of 2 reached");
  status->setStatus(status_codes::Ok, "Element Ok");
  EXPECT_EQ(watcher.seen,
            (std::vector<std::string>{"Frames timed out on default camera", "Element Ok"}));
}

}  // namespace
}  // namespace dravo
