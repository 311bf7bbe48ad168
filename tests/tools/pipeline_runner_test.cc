// How a media-tool run ends when its scheduler never goes idle: other work
// keeps coming, and the source is always behind.

#include "tools/pipeline_runner.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "tests/support/waitable_flag.h"
#include "tools/frame_keeper.h"

namespace dravo::tool {
namespace {

// Each step sends a small frame and queues the next step at once. Steps at
// the frames' own level with fresh stamps leave room for the deliveries;
// from step `starve_from` on, steps come above it with one fixed stamp, like
// a timer that has fallen behind, and starve everything below them.
class BehindSource : public media::Source<media::ImageBuffer> {
 public:
  BehindSource(int starve_from, std::function<void(int)> on_step)
      : starve_from_(starve_from), on_step_(std::move(on_step)) {}
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
    on_step_(++steps_);
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
  std::function<void(int)> const on_step_;
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
        auto source = media::createElement<BehindSource>(args, ending.starve_from, [&](int steps) {
          if (steps == 20) busy.set();
        });
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

}  // namespace
}  // namespace dravo::tool
