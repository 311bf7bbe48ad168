// record, convert, snapshot and view: the commands that run a pipeline.

#include <atomic>
#include <cstdio>

#include "common/sigslot.h"
#include "common/string_util.h"
#include "media_common/video/video_sink.h"
#include "tools/commands.h"
#include "tools/frame_keeper.h"
#include "tools/pipeline_command.h"
#include "tools/ppm_writer.h"
#include "tools/tool_error.h"
#include "tools/x11_viewer.h"

namespace dravo::tool {

namespace {

// The synthetic source records this long when no limit is given.
constexpr double kDefaultSyntheticSeconds = 10.0;

struct RecordOptions {
  std::string source;
  std::string output;
  int64_t frames = -1;
  double duration = 0;
  std::string size;
  double fps = 0;
  bool realtime = false;
  bool fast = false;
  std::string codec = "i420";
  int quality = 0;
  PipelineOptions pipeline;
};

SinkFactory fileSinkFactory(SinkSpec const& spec) {
  return
      [spec](media::ElementArgs const& args, double fps) { return makeFileSink(spec, args, fps); };
}

constexpr int kDefaultJpegQuality = 85;

void addCodecOptions(CLI::App& command, RecordOptions* options) {
  command.add_option("--codec", options->codec, "How an AVI stores frames: i420 (raw) or mjpeg")
      ->check(CLI::IsMember({"i420", "mjpeg"}))
      ->capture_default_str();
  command
      .add_option("--quality", options->quality,
                  "MJPEG quality, 1 (smallest) to 100 (best); default " +
                      std::to_string(kDefaultJpegQuality))
      ->check(CLI::Range(1, 100));
}

// The checks every file-writing command makes before anything is opened for
// writing; fills the settings' codec.
void prepareOutput(RecordOptions const& options, SinkSpec const& sink, RunSettings* settings) {
  if (options.codec == "mjpeg") {
    if (sink.kind != SinkKind::AVI)
      throw usageError("--codec mjpeg needs an .avi OUTPUT: " + options.output);
    settings->jpeg_quality = options.quality > 0 ? options.quality : kDefaultJpegQuality;
  } else if (options.quality > 0) {
    throw usageError("--quality applies to --codec mjpeg only");
  }
  if (settings->source.kind == SourceKind::FILE)
    refuseOverwritingInput(
        settings->source.argument,
        {sink.kind == SinkKind::PNM_DIR ? std::string() : sink.path, options.pipeline.graph_file});
}

// Frames of a file are only ever shrunk: a larger --size is a usage error
// rather than a silent no-op on one axis.
void checkShrinks(std::string const& path, std::string const& size, int width, int height) {
  VideoFileFacts const input = probeVideoFile(path);
  if (input.width > 0 && (width > input.width || height > input.height))
    throw usageError(stringPrintf("--size %s is larger than %s (%dx%d): frames can only be shrunk",
                                  size.c_str(), path.c_str(), input.width, input.height));
}

std::string outputFile(SinkSpec const& sink) {
  return sink.kind == SinkKind::PNM_DIR ? std::string() : sink.path;
}

}  // namespace

CommandRunner addRecordCommand(CLI::App& app, GlobalOptions const& global) {
  auto options = std::make_shared<RecordOptions>();
  CLI::App* command = app.add_subcommand("record", "Record a source into a video file");
  command->footer("SOURCE is one of:\n" + sourceFormsHelp() + "OUTPUT is one of:\n" +
                  outputFormsHelp() +
                  "\nFiles and the synthetic source run at CPU speed on a fast-forward clock (the "
                  "same command\ngives the same bytes); live sources use the system clock. The "
                  "synthetic source records\n10 s unless --frames or --duration say otherwise; "
                  "other sources run to their end or Ctrl-C.\n\nExamples:\n"
                  "  media-tool record synthetic out.avi --duration 10 --size 640x480\n"
                  "  media-tool record synthetic out.y4m --frames 100 --fps 25\n"
                  "  media-tool record screen:0 desktop.avi --duration 5\n"
                  "  media-tool record synthetic small.avi --codec mjpeg --quality 75\n");
  command->add_option("SOURCE", options->source, "What to record")->required();
  command->add_option("OUTPUT", options->output, "Where to record it")->required();
  command->add_option("--frames", options->frames, "Stop after N frames")->check(countFrom(1));
  command->add_option("--duration", options->duration, "Stop after SECONDS of video")
      ->check(greaterThanZero());
  command->add_option("--size", options->size, "Frame size WxH (synthetic source)");
  command->add_option("--fps", options->fps, "Frame rate (synthetic source)")
      ->check(greaterThanZero());
  auto* realtime = command->add_flag("--realtime", options->realtime, "Run on the system clock");
  auto* fast = command->add_flag("--fast", options->fast, "Run on the fast-forward clock");
  realtime->excludes(fast);
  addCodecOptions(*command, options.get());
  addPipelineOptions(*command, &options->pipeline);
  return [options, &global]() {
    RunSettings settings;
    settings.source = parseSourceSpec(options->source);
    SinkSpec const sink = parseSinkSpec(options->output);
    prepareOutput(*options, sink, &settings);
    if (!options->size.empty())
      parseSize(options->size, &settings.source_options.width, &settings.source_options.height);
    settings.source_options.fps = options->fps;
    settings.max_frames = options->frames;
    settings.max_seconds = options->duration;
    if (settings.source.kind == SourceKind::SYNTHETIC && options->frames < 0 &&
        options->duration <= 0)
      settings.max_seconds = kDefaultSyntheticSeconds;
    if (options->realtime) settings.realtime = true;
    if (options->fast) settings.source.live = false;
    if (settings.source.kind == SourceKind::FILE && !options->size.empty()) {
      settings.scale_width = settings.source_options.width;
      settings.scale_height = settings.source_options.height;
      checkShrinks(settings.source.argument, options->size, settings.scale_width,
                   settings.scale_height);
    }
    settings.progress = progressWanted(global);
    PipelineRunner runner(settings, fileSinkFactory(sink));
    return runPipeline(runner, options->pipeline, global, "record " + options->output,
                       outputFile(sink));
  };
}

CommandRunner addConvertCommand(CLI::App& app, GlobalOptions const& global) {
  auto options = std::make_shared<RecordOptions>();
  CLI::App* command =
      app.add_subcommand("convert", "Convert a video file through a pipeline into another");
  command->footer("OUTPUT is one of:\n" + outputFormsHelp() +
                  "\nExamples:\n  media-tool convert in.avi out.y4m\n"
                  "  media-tool convert in.y4m small.avi --size 320x240 --frames 50\n");
  command->add_option("INPUT", options->source, "Video file to read (.avi, .y4m)")->required();
  command->add_option("OUTPUT", options->output, "Where to write")->required();
  command->add_option("--size", options->size, "Shrink frames to WxH");
  command->add_option("--frames", options->frames, "Convert at most N frames")->check(countFrom(1));
  addCodecOptions(*command, options.get());
  addPipelineOptions(*command, &options->pipeline);
  return [options, &global]() {
    RunSettings settings;
    settings.source.kind = SourceKind::FILE;
    settings.source.argument = options->source;
    settings.source.text = options->source;
    SinkSpec const sink = parseSinkSpec(options->output);
    prepareOutput(*options, sink, &settings);
    if (!options->size.empty()) {
      parseSize(options->size, &settings.scale_width, &settings.scale_height);
      checkShrinks(options->source, options->size, settings.scale_width, settings.scale_height);
    }
    settings.max_frames = options->frames;
    settings.progress = progressWanted(global);
    PipelineRunner runner(settings, fileSinkFactory(sink));
    return runPipeline(runner, options->pipeline, global, "convert " + options->output,
                       outputFile(sink));
  };
}

CommandRunner addSnapshotCommand(CLI::App& app, GlobalOptions const& global) {
  struct Options {
    std::string source;
    std::string output;
    int64_t frame = 0;
    PipelineOptions pipeline;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand("snapshot", "Save one frame of a source as a PPM picture");
  command->footer("SOURCE is one of:\n" + sourceFormsHelp() +
                  "\nExamples:\n  media-tool snapshot synthetic frame.ppm --frame 30\n"
                  "  media-tool snapshot clip.avi first.ppm\n");
  command->add_option("SOURCE", options->source, "Where the frame comes from")->required();
  command->add_option("OUTPUT", options->output, "PPM file to write")->required();
  command->add_option("--frame", options->frame, "Index of the frame to save (from 0)")
      ->check(countFrom(0));
  addPipelineOptions(*command, &options->pipeline);
  return [options, &global]() {
    RunSettings settings;
    settings.source = parseSourceSpec(options->source);
    if (settings.source.kind == SourceKind::FILE)
      refuseOverwritingInput(settings.source.argument,
                             {options->output, options->pipeline.graph_file});
    settings.max_frames = options->frame + 1;
    settings.progress = progressWanted(global);
    std::shared_ptr<FrameKeeper> keeper;
    PipelineRunner runner(settings, [&keeper](media::ElementArgs const& args, double) {
      keeper = media::createElement<FrameKeeper>(args);
      return BuiltSink{keeper, keeper->getInputPad()};
    });
    int const status =
        runPipeline(runner, options->pipeline, global, "snapshot " + options->output);
    auto const frame = keeper ? keeper->last() : nullptr;
    if (!frame) throw fileError(options->source, "gave no frame");
    // A file that ends first gives its last frame, which is not the one
    // asked for.
    int64_t const kept = keeper->count();
    if (kept <= options->frame)
      throw fileError(
          options->source,
          stringPrintf("has %lld frames; --frame %lld is beyond its end (frames "
                       "count from 0)",
                       static_cast<long long>(kept), static_cast<long long>(options->frame)));
    writePpm(options->output, frame);
    return status;
  };
}

CommandRunner addViewCommand(CLI::App& app, GlobalOptions const& global) {
  struct Options {
    std::string source;
    int64_t frames = -1;
    PipelineOptions pipeline;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("view", "Show a source in a window (q, Escape or closing it ends)");
  command->footer("SOURCE is one of:\n" + sourceFormsHelp() +
                  "\nFrames reach the window through the texture sink, in real time.\n"
                  "\nExamples:\n  media-tool view synthetic\n  media-tool view clip.avi\n");
  command->add_option("SOURCE", options->source, "What to show")->required();
  command->add_option("--frames", options->frames, "Close after N frames")->check(countFrom(1));
  addPipelineOptions(*command, &options->pipeline);
  return [options, &global]() {
    RunSettings settings;
    settings.source = parseSourceSpec(options->source);
    settings.max_frames = options->frames;
    settings.realtime = true;
    settings.sink_follows_clock = true;
    settings.progress = progressWanted(global);
    // Set while the runner lives; read on the viewer's thread.
    std::atomic<PipelineRunner*> runner_for_close{nullptr};
    X11Viewer viewer("media-tool view " + options->source, [&runner_for_close] {
      if (PipelineRunner* runner = runner_for_close.load()) runner->requestStop();
    });
    // Hands the sink's textures to the window; its slot runs on the sink's
    // scheduler.
    struct Forwarder : sigslot::has_slots<> {
      ~Forwarder() override { disconnect_all(); }
    };
    Forwarder forwarder;
    PipelineRunner runner(settings, [&](media::ElementArgs const& args, double) {
      auto sink = media::createElement<media::TextureVideoSink>(args);
      sink->getPropertyNode("format")->setValue(PropertyValue("RGB"));
      sink->texture_signal_.connect(
          &forwarder, [&viewer](std::shared_ptr<Texture> const& texture) { viewer.show(texture); });
      return BuiltSink{sink, sink->getInputPad()};
    });
    runner_for_close = &runner;
    int const status = runPipeline(runner, options->pipeline, global, "view " + options->source);
    runner_for_close = nullptr;
    return status;
  };
}

}  // namespace dravo::tool
