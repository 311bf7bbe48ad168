#include "media_common/element.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/cached_property.h"
#include "common/property_enum.h"
#include "media_common/media_events.h"
#include "media_common/sink_element.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

// Records its lifecycle calls; runs on a hand-stepped scheduler.
class RecordingElement : public Element {
 public:
  ~RecordingElement() override { disconnect_all(); }

  std::vector<std::string> calls;
  std::vector<int32_t> widths_seen;
  CachedProperty<int32_t> width_;

 protected:
  void initialize() override {
    Element::initialize();
    calls.push_back("initialize");
    width_.bind(getPropertyChangeSignal(), getPropertyNode("width"), 640, "Width.");
    auto mode = getPropertyNode("mode");
    setPropertyEnumValues(mode, {MetaEnumValue(PropertyValue(1), "fast", "Fast"),
                                 MetaEnumValue(PropertyValue(2), "slow", "Slow")});
  }
  void onPropertyChange(bool first) override {
    calls.push_back(first ? "change(first)" : "change");
    widths_seen.push_back(*width_);
  }
};

class ElementTest : public ::testing::Test {
 protected:
  ElementArgs args() { return ElementArgs(scheduler_, root_->getNode("elem", true)); }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
};

TEST_F(ElementTest, PropertyPassesComeFirstAndCoalesceChangesFromAnyThread) {
  auto element = createElement<RecordingElement>(args().property("width", PropertyValue(320)));
  EXPECT_EQ(element->calls, std::vector<std::string>{"initialize"});
  // The first property pass is queued ahead of anything else.
  scheduler_->schedule(TaskFunction(element, [&] { element->calls.push_back("other"); }),
                       Priority(1000, false), nullptr);
  scheduler_->runAll();
  EXPECT_EQ(element->calls, (std::vector<std::string>{"initialize", "change(first)", "other"}));

  std::thread([&] {
    for (int width : {1, 2, 3}) element->getPropertyNode("width")->setValue(PropertyValue(width));
  }).join();
  EXPECT_EQ(scheduler_->runAll(), 1);
  EXPECT_EQ(element->widths_seen, (std::vector<int32_t>{320, 3}));

  // Enum properties may be given by their runtime value; the node holds the name.
  auto other = createElement<RecordingElement>(
      ElementArgs(scheduler_, root_->getNode("enum", true)).property("mode", PropertyValue(2)));
  EXPECT_EQ(other->getPropertyNode("mode")->getValue(), PropertyValue("slow"));
}

TEST_F(ElementTest, AttributesPadsAndTeardown) {
  testing::AssertionCapture assertions;
  testing::LogCapture log;
  auto element = createElement<RecordingElement>(args());
  auto attribute = std::make_shared<AttributeEvent>();
  attribute->set_key("x");
  attribute->set_value("42");
  element->processAttributeEvents(attribute);
  element->processAttributeEvents(std::make_shared<Event>());  // ignored
  EXPECT_EQ(root_->getNode("elem/attributes/x")->getValue(), PropertyValue("42"));

  // Pads are held weakly and named once.
  auto pad = element->createStaticPad<OutputPad<Buffer>>("out");
  EXPECT_EQ(element->getPadByName<OutputPadBase>("out"), pad);
  element->createStaticPad<OutputPad<Buffer>>("out");
  pad.reset();
  EXPECT_EQ(element->getPadByName<OutputPadBase>("out"), nullptr);
  EXPECT_TRUE(log.contains("createPad called on unknown pad out"));

  ElementArgs twice = args();
  twice.property("width", PropertyValue(1)).property("width", PropertyValue(2));
  createElement<RecordingElement>(ElementArgs(scheduler_, root_->getNode("other", true))
                                      .property("nonsense", PropertyValue(1)));
  EXPECT_EQ(
      assertions.messages(),
      (std::vector<std::string>{"Assertion failed: pads_.find(name) == pads_.end()",
                                "Assertion failed: Property set multiple times on ElementArgs.",
                                "Assertion failed: Tried to assign unknown property nonsense."}));

  scheduler_->runAll();
  element.reset();
  EXPECT_EQ(root_->getNode("elem"), nullptr);
  EXPECT_EQ(scheduler_->runAll(), 0);
}

// Its first property pass binds the sink's queue to the element's sequence.
class BoundSink : public Sink<Buffer> {
 public:
  ~BoundSink() override { disconnect_all(); }
  void deliverFromOutside() { preOnBuffer(std::make_shared<Buffer>()); }

 protected:
  void onPropertyChange(bool) override { scheduleSync(); }
};

TEST_F(ElementTest, SequenceConfinedStateRefusesAnotherThread) {
  if (!DRAVO_DCHECK_IS_ON) GTEST_SKIP() << "sequence checks are compiled out";
  testing::AssertionCapture assertions;
  auto sink = createElement<BoundSink>(args());
  scheduler_->runAll();
  EXPECT_TRUE(assertions.messages().empty());
  std::thread([&] { sink->deliverFromOutside(); }).join();
  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{"Assertion failed: Called on the wrong sequence"});
}

}  // namespace
}  // namespace dravo::media
