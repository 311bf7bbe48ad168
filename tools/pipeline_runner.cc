#include "tools/pipeline_runner.h"

#include <cxxabi.h>

#include <cmath>
#include <typeinfo>

#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/link_handle.h"
#include "media_common/property_clock.h"
#include "media_common/trivial_scheduler.h"
#include "tools/interrupt_watcher.h"
#include "tools/progress_line.h"
#include "tools/tool_error.h"

DRAVO_LOGGER("media_tool");

namespace dravo::tool {

namespace {

// A fixed start makes fast-forward runs reproducible to the byte.
constexpr Time kFastForwardStart = Time::fromNSec(0);

// The class name without its namespaces.
std::string shortName(std::string const& name) {
  size_t const colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

std::string typeName(media::Element const& element) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(typeid(element).name(), nullptr, nullptr, &status);
  std::string const name = status == 0 && demangled ? demangled : typeid(element).name();
  std::free(demangled);
  return shortName(name);
}

// The element's own settings, as they stand in its property subtree.
std::vector<std::pair<std::string, std::string>> keyProperties(media::Element const& element) {
  std::vector<std::pair<std::string, std::string>> properties;
  auto const& node = element.getPropertyNode();
  for (auto const& child : node->getChildren()) {
    std::string const& name = child->getName();
    if (name == "status" || name == "pads" || name == "attributes") continue;
    PropertyValue const value = child->getValue();
    if (name == "clock") {
      auto clock = media::getClockFromPropertyValue(value);
      properties.emplace_back(name, clock ? shortName(clock->getTypeName()) : "frozen (default)");
      continue;
    }
    if (value.empty() || value.getType() >= PropertyValue::TYPE_WEAK_OBJECT) continue;
    properties.emplace_back(name, value.toString());
  }
  return properties;
}

}  // namespace

PipelineRunner::PipelineRunner(RunSettings settings, SinkFactory make_sink)
    : settings_(std::move(settings)),
      make_sink_(std::move(make_sink)),
      root_(PropertyNode::create("pipeline")) {}

PipelineRunner::~PipelineRunner() {
  if (scheduler_) scheduler_->shutdown(true);
  links_.reset();
}

void PipelineRunner::build() {
  scheduler_ = media::createTrivialScheduler();
  bool const fast = !settings_.source.live && !settings_.realtime;
  clock_ =
      fast ? media::getFastForwardClock(scheduler_, kFastForwardStart) : media::getSystemClock();

  limiter_ = media::createElement<FrameLimiter>(
      media::ElementArgs(scheduler_, root_->getNode("limit", true)));
  source_ = makeSource(settings_.source, settings_.source_options,
                       media::ElementArgs(scheduler_, root_->getNode("source", true)), clock_,
                       [weak = std::weak_ptr<FrameLimiter>(limiter_)] {
                         if (auto limiter = weak.lock()) limiter->requestFinish();
                       });
  stages_.push_back({"source", source_.element});
  if (settings_.source.live) {
    source_.element->getPropertyNode("status")
        ->getNode("code", true)
        ->connectChanged(&status_watcher_,
                         [this](PropertyChangedArgs const&) { onSourceStatus(); });
  }

  std::shared_ptr<media::OutputPad<media::ImageBuffer>> upstream = source_.pad;
  std::string upstream_name = "source";
  if (settings_.scale_width > 0 && settings_.scale_height > 0) {
    scaler_ = media::createElement<FrameScaler>(
        media::ElementArgs(scheduler_, root_->getNode("scale", true)), settings_.scale_width,
        settings_.scale_height);
    links_ += media::LinkHandle(upstream->link(*scaler_->getInputPad()));
    upstream = scaler_->getOutputPad();
    stages_.push_back({"scale", scaler_});
  }
  links_ += media::LinkHandle(upstream->link(*limiter_->getInputPad()));
  stages_.push_back({"limit", limiter_});
  upstream = limiter_->getOutputPad();
  if (settings_.jpeg_quality > 0) {
    encoder_ = media::createElement<JpegEncoder>(
        media::ElementArgs(scheduler_, root_->getNode("encode", true)), settings_.jpeg_quality);
    links_ += media::LinkHandle(upstream->link(*encoder_->getInputPad()));
    upstream = encoder_->getOutputPad();
    stages_.push_back({"encode", encoder_});
  }

  sink_ = make_sink_(media::ElementArgs(scheduler_, root_->getNode("sink", true)), source_.fps);
  if (settings_.sink_follows_clock)
    media::setPropertyClock(*sink_.element->getPropertyNode("clock"), clock_);
  links_ += media::LinkHandle(upstream->link(*sink_.pad));
  stages_.push_back({"sink", sink_.element});

  int64_t max_frames = settings_.max_frames;
  Duration max_span = Duration::max();
  if (settings_.max_seconds > 0) {
    if (fast && source_.fps > 0) {
      auto const frames = static_cast<int64_t>(std::llround(settings_.max_seconds * source_.fps));
      max_frames = max_frames < 0 ? frames : std::min(max_frames, frames);
    } else {
      max_span = Duration::fromSec(settings_.max_seconds);
    }
  }
  expected_frames_ = max_frames;
  limiter_->setLimits(max_frames, max_span);
}

PipelineDescription PipelineRunner::describe() const {
  PipelineDescription description;
  std::string const scheduler =
      "TrivialScheduler (clock: " + shortName(clock_->getTypeName()) + ")";
  for (Stage const& stage : stages_) {
    GraphElement element;
    element.name = stage.name;
    element.type = typeName(*stage.element);
    element.scheduler = scheduler;
    element.properties = keyProperties(*stage.element);
    if (stage.name != "source") element.input_pads.push_back("in");
    if (stage.name != "sink") element.output_pads.push_back("out");
    description.elements.push_back(std::move(element));
  }
  for (size_t i = 1; i < stages_.size(); ++i)
    description.links.push_back({stages_[i - 1].name, "out", stages_[i].name, "in"});
  return description;
}

void PipelineRunner::onSourceStatus() {
  auto const& status = source_.element->getStatus();
  if (!status || !status->isError()) return;
  {
    std::lock_guard lock(mutex_);
    if (source_error_.empty()) source_error_ = status->getStatusMessage();
    if (source_error_.empty()) source_error_ = "error " + std::to_string(status->getStatusCode());
  }
  requestStop();
}

void PipelineRunner::requestStop() {
  if (limiter_) limiter_->requestFinish();
}

RunResult PipelineRunner::run() {
  RunResult result;
  ProgressLine progress(settings_.progress, expected_frames_);
  limiter_->setFrameCallback([&progress](int64_t frames) { progress.update(frames); });
  limiter_->setFinishedCallback([this] {
    // Nothing more runs after this task: the sources stop where the run
    // ended, so the counts are the same on every run.
    scheduler_->shutdown(false);
    std::lock_guard lock(mutex_);
    finished_ = true;
    finished_changed_.notify_all();
  });
  Time const started = Time::now();
  {
    InterruptWatcher watcher([this] { requestStop(); });
    scheduler_->start();
    {
      std::unique_lock lock(mutex_);
      finished_changed_.wait(lock, [this] { return finished_; });
    }
    result.interrupted = watcher.interrupted();
    result.signal = watcher.signal();
  }
  scheduler_->shutdown(true);
  status_watcher_.disconnect_all();
  progress.finish();
  {
    std::lock_guard lock(mutex_);
    if (!source_error_.empty()) result.error = settings_.source.text + ": " + source_error_;
  }
  result.wall_seconds = (Time::now() - started).toSec();
  result.graph = describe();
  result.frames = limiter_->passed();

  int64_t const into_limiter = limiter_->passed() + limiter_->dropped();
  result.stats.push_back(
      {"source", typeName(*source_.element), scaler_ ? scaler_->received() : into_limiter, 0});
  if (scaler_)
    result.stats.push_back(
        {"scale", typeName(*scaler_), scaler_->received(), scaler_->received() - scaler_->sent()});
  result.stats.push_back({"limit", typeName(*limiter_), limiter_->passed(), limiter_->dropped()});
  if (encoder_) {
    result.stats.push_back({"encode", typeName(*encoder_), encoder_->received(),
                            encoder_->received() - encoder_->sent()});
    result.frames = encoder_->sent();
  }
  result.stats.push_back({"sink", typeName(*sink_.element), result.frames, 0});

  // Releasing the elements completes what the sink writes.
  limiter_->setFrameCallback(nullptr);
  links_.reset();
  stages_.clear();
  source_ = {};
  scaler_.reset();
  encoder_.reset();
  sink_ = {};
  limiter_.reset();
  return result;
}

}  // namespace dravo::tool
