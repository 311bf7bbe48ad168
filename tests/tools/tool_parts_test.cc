// The pieces of media-tool that have rules of their own: source, output and
// size forms, graph escaping, how a run ends when its scheduler never goes
// idle, and the README's copy of the consumer example.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>

#include "tests/support/waitable_flag.h"
#include "tools/commands.h"
#include "tools/endpoints.h"
#include "tools/frame_keeper.h"
#include "tools/pipeline_graph.h"
#include "tools/pipeline_runner.h"
#include "tools/tool_error.h"

namespace dravo::tool {
namespace {

TEST(ToolPartsTest, BadSourceOutputAndSizeFormsAreRefused) {
  EXPECT_EQ(SinkKind::AVI, parseSinkSpec("OUT.AVI").kind);
  int width = 0, height = 0;
  for (char const* bad : {"window", "synthetic:3", ""})
    EXPECT_THROW(parseSourceSpec(bad), ToolError) << bad;
  for (char const* bad : {"pnm:", "avi"}) EXPECT_THROW(parseSinkSpec(bad), ToolError) << bad;
  for (char const* bad : {"640", "0x10", "-1x5", "640x480x3", "x", "123456x1"})
    EXPECT_THROW(parseSize(bad, &width, &height), ToolError) << bad;
}

TEST(ToolPartsTest, GraphQuotesNamesAndEscapesRecordLabels) {
  PipelineDescription pipeline;
  pipeline.elements.push_back(
      {"src", "Source", "s1", {{"name", "a|b {c} <d> \"e\""}}, {}, {"out"}});
  pipeline.elements.push_back({"sink", "Sink", "s2", {}, {"in"}, {}});
  std::string const dot = toDot(pipeline);
  EXPECT_NE(std::string::npos, dot.find(R"(a\|b\ \{c\}\ \<d\>\ \"e\")"));
  // One cluster per scheduler.
  EXPECT_TRUE(dot.find("cluster_1") != std::string::npos &&
              dot.find("cluster_2") == std::string::npos)
      << dot;
}

// Each step sends a small frame and queues the next step at once. Steps at
// the frames' own level with fresh stamps leave room for the deliveries;
// from step `starve_from` on, steps come above it with one fixed stamp, like
// a timer that has fallen behind, and starve everything below them.
class BehindSource : public media::Source<media::ImageBuffer> {
 public:
  BehindSource(int starve_from, testing::WaitableFlag* twenty_steps)
      : starve_from_(starve_from), twenty_steps_(twenty_steps) {}
  ~BehindSource() override { disconnect_all(); }

 protected:
  void onPropertyChange(bool first) override {
    Source<media::ImageBuffer>::onPropertyChange(first);
    if (first) queueStep();
  }

 private:
  void step() {
    auto frame = std::make_shared<media::ImageBuffer>(16, 16, media::ImageBuffer::IMAGE_I420);
    frame->setStartTimestamp(Time::fromNSec(int64_t{steps_} * 1'000'000));
    sendBuffer(frame);
    if (++steps_ == 20) twenty_steps_->set();
    queueStep();
  }
  void queueStep() {
    auto self = std::static_pointer_cast<BehindSource>(shared_from_this());
    getScheduler()->schedule(bindWeak(self, &BehindSource::step),
                             steps_ >= starve_from_ ? media::Priority(*priority_ + 1, made_)
                                                    : media::Priority(*priority_, Time::now()),
                             nullptr);
  }

  int const starve_from_;
  testing::WaitableFlag* const twenty_steps_;
  Time const made_ = Time::now();
  int steps_ = 0;
};

// Work of someone else on the pipeline's scheduler that never ends, at the
// frames' level: it leaves room for them but the scheduler is never idle.
struct Neighbour : std::enable_shared_from_this<Neighbour> {
  explicit Neighbour(std::shared_ptr<media::Scheduler> s) : scheduler(std::move(s)) {}
  void tick() {
    scheduler->schedule(bindWeak(shared_from_this(), &Neighbour::tick),
                        media::Priority(-1, Time::now()), nullptr);
  }
  std::shared_ptr<media::Scheduler> const scheduler;
};

constexpr int kNever = std::numeric_limits<int>::max();

struct Ending {
  char const* name;
  int starve_from;
  int64_t max_frames;  // -1: stopped from another thread after 20 steps
};

class PipelineRunnerTest : public ::testing::TestWithParam<Ending> {};

// Every frame the limiter passed reached the sink, and the run returned.
TEST_P(PipelineRunnerTest, EndsWithEveryPassedFrameAtTheSink) {
  Ending const ending = GetParam();
  RunSettings settings;
  settings.source = {SourceKind::SYNTHETIC, "", "behind", true};
  settings.max_frames = ending.max_frames;
  testing::WaitableFlag busy;
  std::shared_ptr<FrameKeeper> keeper;
  std::shared_ptr<Neighbour> neighbour;
  PipelineRunner runner(
      settings,
      [&](media::ElementArgs const& args, std::shared_ptr<media::Clock> const&, auto) {
        neighbour = std::make_shared<Neighbour>(args.getScheduler());
        neighbour->tick();
        auto source = media::createElement<BehindSource>(args, ending.starve_from, &busy);
        return BuiltSource{source, source->getOutputPad(), 0, nullptr};
      },
      [&](media::ElementArgs const& args, double) {
        keeper = media::createElement<FrameKeeper>(args);
        return BuiltSink{keeper, keeper->getInputPad()};
      });
  runner.build();
  std::thread stopper([&] {
    if (ending.max_frames < 0 && busy.waitFor()) runner.requestStop();
  });
  RunResult const result = runner.run();
  stopper.join();
  EXPECT_EQ(keeper->count(), result.frames);
  EXPECT_EQ(ending.max_frames > 0 ? ending.max_frames : result.frames, result.frames);
  // Frames passed before the source fell behind still had to be delivered.
  EXPECT_GT(result.frames, 0);
}

INSTANTIATE_TEST_SUITE_P(Endings, PipelineRunnerTest,
                         ::testing::Values(Ending{"FrameLimit", kNever, 5},
                                           Ending{"StopRequest", kNever, -1},
                                           Ending{"StopRequestWhileStarving", 10, -1}),
                         [](auto const& info) { return std::string(info.param.name); });

std::string readSource(std::string const& relative) {
  std::ifstream in(std::string(MEDIA_SOURCE_DIR) + "/" + relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ReadmeExampleTest, ReadmeQuotesTheConsumerExampleVerbatim) {
  std::string const example = readSource("examples/record_synthetic/record_synthetic.cc");
  ASSERT_FALSE(example.empty());
  EXPECT_NE(std::string::npos, readSource("README.md").find("```cpp\n" + example + "```\n"));
}

}  // namespace
}  // namespace dravo::tool
