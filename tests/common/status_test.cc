#include "common/status.h"

#include <gtest/gtest.h>

#include <set>

#include "common/property_node.h"

namespace dravo {
namespace {

TEST(StatusTest, CodesAreOkOrDistinctNegatives) {
  EXPECT_EQ(status_codes::Ok, 0);
  std::set<int> errors = {status_codes::Error_FileCantOpen, status_codes::Error_PipelineProbeIdle,
                          status_codes::Error_ScreenCaptureAPI,
                          status_codes::Error_VideoCaptureNoFrames};
  EXPECT_EQ(errors.size(), 4u);
  EXPECT_LT(*errors.rbegin(), 0);
}

TEST(StatusTest, StatusIsAttachedToItsNodeAndReadableThroughTheTree) {
  auto node = PropertyNode::create("el")->getNode("status", true);
  EXPECT_EQ(getStatusFromProperty(node), nullptr);
  auto status = createStatus(node);
  EXPECT_TRUE(node->hasMeta("status_ptr"));
  EXPECT_EQ(getStatusFromProperty(node), status);
  EXPECT_EQ(status->getStatusCode(), status_codes::Ok);
  EXPECT_EQ(status->getStatusMessage(), "");

  status->setStatus(status_codes::Error_FileCantOpen, "Could not open file a.avi");
  EXPECT_EQ(node->getNode("code")->getValue(), PropertyValue(status_codes::Error_FileCantOpen));
  EXPECT_EQ(node->getNode("message")->getValue(), PropertyValue("Could not open file a.avi"));
  EXPECT_TRUE(status->isError());
  EXPECT_EQ(getStatusFromProperty(node)->getStatusMessage(), "Could not open file a.avi");
}

TEST(StatusTest, ListenerWokenByTheCodeSeesTheMatchingMessage) {
  auto node = PropertyNode::create()->getNode("status", true);
  auto status = createStatus(node);
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
  status->setStatus(status_codes::Error_VideoCaptureNoFrames, "Max retry count of 2 reached");
  status->setStatus(status_codes::Ok, "Element Ok");
  EXPECT_EQ(watcher.seen,
            (std::vector<std::string>{"Frames timed out on default camera", "Element Ok"}));
}

}  // namespace
}  // namespace dravo
