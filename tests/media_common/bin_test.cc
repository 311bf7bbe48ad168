// Bins: shared status, property links and copies, destruction that waits
// for every element; and the names codec bins derive from their channels.

#include "media_common/bin.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media_common/codec_bin_params.h"
#include "tests/support/capture.h"
#include "tests/support/chain_elements.h"
#include "tests/support/manual_scheduler.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

// What happened, in order, across threads.
struct Journal {
  void add(std::string entry) {
    std::lock_guard lock(mutex);
    entries.push_back(std::move(entry));
  }
  std::mutex mutex;
  std::vector<std::string> entries;  // read once the writers are done
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

// A bin that exposes its protected helpers and sets `destroying` when its
// destruction starts, before the base waits for its elements.
class TestBin : public Bin {
 public:
  TestBin(std::shared_ptr<AbstractPipeline> const& pipeline, std::string const& name,
          testing::WaitableFlag* destroying = nullptr)
      : Bin(pipeline, name), destroying_(destroying) {}
  ~TestBin() override {
    if (destroying_) destroying_->set();
  }
  using Bin::addLink;
  using Bin::elementArgs;
  using Bin::setStatus;

 private:
  testing::WaitableFlag* destroying_;
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

TEST_F(BinTest, SharesAnAttachedStatusAndLinksPropertiesBothWaysOrOneWay) {
  testing::LogCapture log("bin:5");
  std::shared_ptr<Status> existing = createStatus(root_->getNode("bin/status", true));
  TestBin bin(pipeline_, "bin");
  EXPECT_EQ(bin.getStatus(), existing);
  bin.setStatus(status_codes::Error_Unknown, "broken");
  EXPECT_EQ(existing->getStatusMessage(), "broken");

  auto other = PropertyNode::create("enc");
  auto set = [](std::shared_ptr<PropertyNode> const& node, int v) {
    node->setValue(PropertyValue(v));
  };
  auto value = [](std::shared_ptr<PropertyNode> const& node) { return node->getValue().getInt(); };
  bin.addAlias("gain", other->getNode("gain", true));
  auto bitrate = other->getNode("bitrate", true), fps = other->getNode("fps", true);
  set(bin.getNode("bitrate"), 100);
  bin.addPropertyCopyFromBin("bitrate", bitrate);
  EXPECT_EQ(value(bitrate), 100);  // copied at once
  bin.addPropertyCopyToBin("fps", fps);
  set(bitrate, 300);  // each copy goes one way only
  set(fps, 30);
  EXPECT_EQ(value(bin.getNode("bitrate")), 100);
  EXPECT_EQ(value(bin.getNode("fps")), 30);
  // An unset bin property does not wipe the other one.
  auto quality = other->getNode("quality", true);
  set(quality, 42);
  bin.addPropertyCopyFromBin(bin.getNode("quality"), quality);
  EXPECT_EQ(value(quality), 42);
  EXPECT_EQ(log.messages("bin"),
            (std::vector<std::string>{
                "Bin property name: pipe/bin", "Adding alias from pipe/bin/gain to enc/gain.",
                "Adding property copy from pipe/bin/bitrate to enc/bitrate.",
                "Adding property copy to pipe/bin/fps from enc/fps.",
                "Adding property copy from pipe/bin/quality to enc/quality."}));
}

// The bin's destruction waits for its elements, which go on another thread;
// the links and nodes it holds go with it.
TEST_F(BinTest, DestructionWaitsUntilEveryElementIsGoneThenDropsLinksAndNodes) {
  Listener listener;
  testing::WaitableFlag destroying;
  auto bin = std::make_unique<TestBin>(pipeline_, "chain", &destroying);
  bin->getDestroyedSignal().connect(&listener, [this](void*) { journal_->add("bin destroyed"); });
  auto source = createElement<testing::PlainSource<Buffer>>(bin->elementArgs("source"));
  auto sink = createElement<testing::CountingSink<Buffer>>(bin->elementArgs("sink"));
  bin->addLink(LinkHandle(source->getOutputPad()->link(*sink->getInputPad())));
  scheduler_->runAll();
  std::weak_ptr<PadBase> pad = source->getOutputPad();
  // An element that is already gone does not hold the bin up.
  createElement<JournalElement>(bin->elementArgs("early"), journal_, "early").reset();
  auto first = createElement<JournalElement>(bin->elementArgs("first"), journal_, "first");
  auto second = createElement<JournalElement>(bin->elementArgs("second"), journal_, "second");
  std::thread releaser([&] {
    ASSERT_TRUE(destroying.waitFor());
    source.reset();
    sink.reset();
    first.reset();
    second.reset();
  });
  bin.reset();
  releaser.join();
  EXPECT_EQ(journal_->entries,
            (std::vector<std::string>{"early gone", "first gone", "second gone", "bin destroyed"}));
  EXPECT_TRUE(pad.expired());
  EXPECT_FALSE(root_->getNode("chain"));
}

TEST(CodecBinParamsTest, NamesComeFromTheChannelKeysOrderByNameThenCodecGapsAreReported) {
  CodecBinParams video(ChannelDescription("cam", CTYPE_VIDEO, "h264"), nullptr, "id1");
  EXPECT_EQ(video.getDecoderName(), "id1/decoder/cam/h264");
  EXPECT_EQ(video.getEncoderName(), "encoder/cam/h264");
  EXPECT_EQ(video.getSourceName(), "video_source/cam");
  EXPECT_EQ(video.getSinkName(), "video_sink/id1/cam");
  EXPECT_EQ(video.getKey().toKeyString(), " channel cam with codec h264");
  CodecBinParams audio(ChannelDescription("mic", CTYPE_AUDIO, "opus"), nullptr, "id2");
  EXPECT_EQ(audio.getSinkName(), "mic");  // audio sinks are named by the channel alone

  using Key = CodecBinParams::KeyType;
  EXPECT_TRUE(Key("a", "z") < Key("b", "a") && Key("a", "h264") < Key("a", "vp8"));
  EXPECT_FALSE(Key("b", "a") < Key("a", "z") || Key("a", "vp8") < Key("a", "vp8"));

  // Incomplete channels are reported.
  testing::LogCapture log;
  CodecBinParams params(ChannelDescription("", "data", ""), nullptr, "id");
  EXPECT_EQ(log.messages("codec_bin_params"),
            (std::vector<std::string>{"Channel has empty name!", "Channel has empty codec!"}));
  testing::AssertionCapture assertions;
  params.getSinkName();  // neither video nor audio
  ASSERT_EQ(assertions.messages().size(), 1u);
  EXPECT_NE(assertions.messages()[0].find("type_ == CTYPE_AUDIO"), std::string::npos);
}

}  // namespace
}  // namespace dravo::media
