#pragma once
// The common set-up of the sink tests: a sink element made by its factory
// under the node `name`, fed by hand through an output pad, on a
// hand-stepped scheduler that every call runs to completion; file sinks
// write into `dir_`.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "common/property_node.h"
#include "media_common/link_handle.h"
#include "media_common/pad.h"
#include "media_common/sink_element.h"
#include "media_common/video/image_buffer.h"
#include "tests/support/manual_scheduler.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {

class FileSinkTest : public ::testing::Test {
 protected:
  using Factory = std::function<std::shared_ptr<Sink<ImageBuffer>>(ElementArgs const&)>;
  FileSinkTest(Factory const& factory, std::string name) : name_(std::move(name)) {
    sink_ = factory(ElementArgs(scheduler_, root_->getNode(name_, true)));
    feeder_->initialize(PadArgs(root_->getNode("feeder", true), scheduler_));
    link_ = LinkHandle(feeder_->link(*sink_->getInputPad()));
    scheduler_->runAll();
  }
  void TearDown() override {
    link_ = LinkHandle();
    sink_.reset();
    scheduler_->shutdown(true);
  }
  // Sets the sink's property `property` and runs the property pass.
  void set(std::string const& property, PropertyValue const& value) {
    root_->getNode(name_ + "/" + property, true)->setValue(value);
    scheduler_->runAll();
  }
  void feed(std::shared_ptr<ImageBuffer> const& frame) {
    feeder_->sendBuffer(frame);
    scheduler_->runAll();
  }

  testing::ScopedTempDir dir_;
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<Sink<ImageBuffer>> sink_;
  std::shared_ptr<OutputPad<ImageBuffer>> feeder_ = std::make_shared<OutputPad<ImageBuffer>>();
  LinkHandle link_;
  std::string name_;
};

}  // namespace dravo::media
