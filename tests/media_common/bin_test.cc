#include "media_common/bin.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media_common/element.h"
#include "media_common/sink_mixin.h"
#include "media_common/source_element.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

// What happened, in order, across threads.
class Journal {
 public:
  void add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

// Writes "<name> gone" into the journal when it is destroyed.
class JournalElement : public Element {
 public:
  JournalElement(std::shared_ptr<Journal> journal, std::string name)
      : journal_(std::move(journal)), name_(std::move(name)) {}
  ~JournalElement() override {
    disconnect_all();
    journal_->add(name_ + " gone");
  }

 private:
  std::shared_ptr<Journal> journal_;
  std::string name_;
};

class TestSource : public Source<Buffer> {
 public:
  ~TestSource() override { disconnect_all(); }
};

class CountingSink : public Element, public SinkMixin<Buffer> {
 public:
  ~CountingSink() override { disconnect_all(); }
  void initialize() override {
    Element::initialize();
    SinkMixin<Buffer>::initialize();
  }
  void onBuffer(std::shared_ptr<Buffer const> const&) override { ++count; }
  int count = 0;
};

class TestBin : public Bin {
 public:
  using Bin::Bin;
  using Bin::elementArgs;
  using Bin::setStatus;
};

// Owns a source linked to a sink; only the bin keeps the link.
class ChainBin : public Bin {
 public:
  explicit ChainBin(std::shared_ptr<AbstractPipeline> const& pipeline) : Bin(pipeline, "chain") {
    source = createElement<TestSource>(elementArgs("source"));
    sink = createElement<CountingSink>(elementArgs("sink"));
    addLink(LinkHandle(source->getOutputPad()->link(*sink->getInputPad())));
  }
  std::shared_ptr<TestSource> source;
  std::shared_ptr<CountingSink> sink;
};

// Sets a flag when its destruction starts, before the base waits.
class FlaggingBin : public TestBin {
 public:
  FlaggingBin(std::shared_ptr<AbstractPipeline> const& pipeline, testing::WaitableFlag* flag)
      : TestBin(pipeline, "flagging"), flag_(flag) {}
  ~FlaggingBin() override { flag_->set(); }

 private:
  testing::WaitableFlag* flag_;
};

struct Listener : sigslot::has_slots<sigslot::multi_threaded_local> {
  ~Listener() override { disconnect_all(); }
};

class BinTest : public ::testing::Test {
 protected:
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipe");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<AbstractPipeline> pipeline_ = std::make_shared<SimplePipeline>(scheduler_, root_);
  std::shared_ptr<Journal> journal_ = std::make_shared<Journal>();
};

TEST_F(BinTest, ElementsLiveUnderTheBinNodeAndRunOnThePipelineScheduler) {
  TestBin bin(pipeline_, "bin");
  EXPECT_EQ(bin.getPropertyNode(), root_->getNode("bin"));

  ElementArgs first = bin.elementArgs("encoder");
  ElementArgs second = bin.elementArgs("decoder");
  EXPECT_EQ(first.getScheduler(), scheduler_);
  EXPECT_EQ(first.getPropertyNode(), root_->getNode("bin/encoder"));
  // Both elements hold the one tracker the bin waits on.
  ASSERT_EQ(first.getTrackingObjects().size(), 1u);
  EXPECT_EQ(first.getTrackingObjects(), second.getTrackingObjects());

  auto element = createElement<JournalElement>(first, journal_, "encoder");
  EXPECT_EQ(element->getFullName(), "pipe/bin/encoder");
  EXPECT_EQ(element->getScheduler(), scheduler_);
}

TEST_F(BinTest, StatusIsSharedWhenOneIsAlreadyAttached) {
  std::shared_ptr<Status> existing = createStatus(root_->getNode("shared/status", true));
  TestBin shared(pipeline_, "shared");
  EXPECT_EQ(shared.getStatus(), existing);
  shared.setStatus(status_codes::Error_Unknown, "broken");
  EXPECT_EQ(existing->getStatusCode(), status_codes::Error_Unknown);
  EXPECT_EQ(existing->getStatusMessage(), "broken");

  // A "status" node without a status attached gets a new one.
  root_->getNode("fresh/status", true);
  TestBin fresh(pipeline_, "fresh");
  ASSERT_TRUE(fresh.getStatus());
  EXPECT_EQ(getStatusFromProperty(root_->getNode("fresh/status")), fresh.getStatus());
}

TEST_F(BinTest, AliasesShowOneValueBothWays) {
  testing::LogCapture log("bin:5");
  auto inner_root = PropertyNode::create("inner");
  auto inner = inner_root->getNode("gain", true);
  inner->setValue(PropertyValue(5));
  inner->setMeta("help", PropertyValue("Gain."));
  TestBin bin(pipeline_, "bin");
  bin.addAlias("gain", inner);
  auto alias = bin.getNode("gain");
  EXPECT_EQ(alias->getValue().getInt(), 5);
  EXPECT_EQ(alias->getMeta("help").getString(), "Gain.");
  alias->setValue(PropertyValue(7));
  EXPECT_EQ(inner->getValue().getInt(), 7);
  inner->setValue(PropertyValue(9));
  EXPECT_EQ(alias->getValue().getInt(), 9);
  EXPECT_TRUE(log.contains("Adding alias from pipe/bin/gain to inner/gain."));

  // By global path.
  getPropertyNode("bin_test/level")->setValue(PropertyValue(3));
  bin.addAlias("level", "bin_test/level");
  EXPECT_EQ(bin.getNode("level")->getValue().getInt(), 3);
  bin.getNode("level")->setValue(PropertyValue(4));
  EXPECT_EQ(getPropertyNode("bin_test/level")->getValue().getInt(), 4);
  getRootPropertyNode()->removeNode("bin_test");
}

TEST_F(BinTest, PropertyCopiesGoOneWayOnly) {
  testing::LogCapture log("bin:5");
  TestBin bin(pipeline_, "bin");
  auto other = PropertyNode::create("enc");
  auto bitrate = other->getNode("bitrate", true);
  bin.getNode("bitrate")->setValue(PropertyValue(100));
  bin.addPropertyCopyFromBin("bitrate", bitrate);
  EXPECT_EQ(bitrate->getValue().getInt(), 100);  // copied at once
  bin.getNode("bitrate")->setValue(PropertyValue(200));
  EXPECT_EQ(bitrate->getValue().getInt(), 200);
  bitrate->setValue(PropertyValue(300));
  EXPECT_EQ(bin.getNode("bitrate")->getValue().getInt(), 200);
  EXPECT_TRUE(log.contains("Adding property copy from pipe/bin/bitrate to enc/bitrate."));

  // An unset bin property does not wipe the other one.
  auto quality = other->getNode("quality", true);
  quality->setValue(PropertyValue(42));
  bin.addPropertyCopyFromBin(bin.getNode("quality"), quality);
  EXPECT_EQ(quality->getValue().getInt(), 42);

  auto fps = other->getNode("fps", true);
  fps->setValue(PropertyValue(25));
  bin.addPropertyCopyToBin("fps", fps);
  EXPECT_EQ(bin.getNode("fps")->getValue().getInt(), 25);
  fps->setValue(PropertyValue(30));
  EXPECT_EQ(bin.getNode("fps")->getValue().getInt(), 30);
  bin.getNode("fps")->setValue(PropertyValue(15));
  EXPECT_EQ(fps->getValue().getInt(), 30);
  EXPECT_TRUE(log.contains("Adding property copy to pipe/bin/fps from enc/fps."));

  // By global path.
  getPropertyNode("bin_test/volume")->setValue(PropertyValue(8));
  bin.addPropertyCopyToBin("volume", "bin_test/volume");
  EXPECT_EQ(bin.getNode("volume")->getValue().getInt(), 8);
  getRootPropertyNode()->removeNode("bin_test");
}

TEST_F(BinTest, LinksLiveAsLongAsTheBin) {
  auto bin = std::make_unique<ChainBin>(pipeline_);
  scheduler_->runAll();
  auto buffer = std::make_shared<Buffer>();
  bin->source->sendBuffer(buffer);
  scheduler_->runAll();
  EXPECT_EQ(bin->sink->count, 1);

  std::weak_ptr<PadBase> pad = bin->source->getOutputPad();
  bin.reset();
  // The link held the pads; released with the bin.
  EXPECT_TRUE(pad.expired());
  EXPECT_FALSE(root_->getNode("chain"));
}

TEST_F(BinTest, BinWithoutElementsIsDestroyedAtOnce) {
  Listener listener;
  std::vector<void*> destroyed;
  auto bin = std::make_unique<TestBin>(pipeline_, "empty");
  void* address = static_cast<Bin*>(bin.get());
  bin->getDestroyedSignal().connect(&listener, [&](void* bin) { destroyed.push_back(bin); });
  bin.reset();
  EXPECT_EQ(destroyed, std::vector<void*>{address});
  EXPECT_FALSE(root_->getNode("empty"));
}

TEST_F(BinTest, DestructionWaitsUntilEveryElementIsGone) {
  testing::WaitableFlag destroying;
  auto bin = std::make_unique<FlaggingBin>(pipeline_, &destroying);
  Listener listener;
  bin->getDestroyedSignal().connect(&listener, [this](void*) { journal_->add("bin destroyed"); });

  // An element that is already gone does not hold the bin up.
  createElement<JournalElement>(bin->elementArgs("early"), journal_, "early").reset();
  auto first = createElement<JournalElement>(bin->elementArgs("first"), journal_, "first");
  auto second = createElement<JournalElement>(bin->elementArgs("second"), journal_, "second");

  std::thread releaser([&] {
    ASSERT_TRUE(destroying.waitFor());
    first.reset();
    second.reset();
  });
  bin.reset();
  releaser.join();
  EXPECT_EQ(journal_->entries(),
            (std::vector<std::string>{"early gone", "first gone", "second gone", "bin destroyed"}));
}

}  // namespace
}  // namespace dravo::media
