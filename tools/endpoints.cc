#include "tools/endpoints.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/string_util.h"
#include "media_common/property_clock.h"
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/avi_sink.h"
#include "media_common/video/pnm_sink.h"
#include "media_common/video/screen_capture_backend.h"
#include "media_common/video/screenshot_x11.h"
#include "media_common/video/synthetic_video_source.h"
#include "media_common/video/v4l2_video_source.h"
#include "media_common/video/video_file_source.h"
#include "media_common/video/x11_screen_source.h"
#include "media_common/video/y4m_file_reader.h"
#include "media_common/video/y4m_sink.h"
#include "tools/tool_error.h"
#include "tools/x11_targets.h"

namespace dravo::tool {

namespace {

constexpr double kDefaultScreenFps = 10.0;

void setProperty(media::Element& element, char const* name, PropertyValue const& value) {
  element.getPropertyNode(name)->setValue(value);
}

[[noreturn]] void notInThisBuild(std::string const& what) {
  throw ToolError(EXIT_STATUS_FAILURE, what + ": not available in this build");
}

BuiltSource makeSynthetic(SourceOptions const& options, media::ElementArgs const& args,
                          std::shared_ptr<media::Clock> const& clock) {
  auto source = media::createSyntheticVideoSource(args);
  media::setPropertyClock(*source->getPropertyNode("clock"), clock);
  if (options.width > 0) setProperty(*source, "req_width", PropertyValue(options.width));
  if (options.height > 0) setProperty(*source, "req_height", PropertyValue(options.height));
  double const fps = options.fps > 0 ? options.fps : 30.0;
  setProperty(*source, "req_fps", PropertyValue(fps));
  return {source, source->getOutputPad(), fps, nullptr};
}

// Creates the file, so that a bad path fails before anything runs rather
// than as frames silently dropped by the writer.
void checkWritable(std::string const& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw fileError(path, std::strerror(errno));
  std::fclose(file);
}

}  // namespace

std::unique_ptr<media::VideoFileReader> openVideoFile(std::string const& path) {
  struct stat info = {};
  if (stat(path.c_str(), &info) != 0) throw fileError(path, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) throw fileError(path, "not a regular file");
  auto reader = media::VideoFileReader::forExtension(path);
  if (!reader) throw fileError(path, "unknown video file type (expected .avi or .y4m)");
  if (reader->openFile(path)) return reader;
  std::string reason;
  if (auto const* y4m = dynamic_cast<media::Y4MFileReader const*>(reader.get()))
    reason = y4m->openError();
  else if (auto const* avi = dynamic_cast<media::AVIFileReader const*>(reader.get()))
    reason = avi->openErrorText();
  throw fileError(path, reason.empty() ? "not a readable video file" : reason);
}

VideoFileFacts peekVideoFileFacts(media::VideoFileReader& reader) {
  Duration duration;
  auto const frame = reader.peekFrame(&duration);
  VideoFileFacts facts;
  if (!frame) return facts;
  facts.width = frame->width();
  facts.height = frame->height();
  // The rate the file states, exactly (30000/1001 rather than the whole
  // number a reader's frame durations may follow).
  facts.fps = reader.nominalFrameRate();
  if (facts.fps <= 0 && duration > Duration()) facts.fps = 1.0 / duration.toSec();
  return facts;
}

namespace {

BuiltSource makeFileSource(std::string const& path, std::unique_ptr<media::VideoFileReader> reader,
                           double fps, media::ElementArgs const& args,
                           std::shared_ptr<media::Clock> const& clock,
                           std::function<void()> on_end) {
  auto source = media::createVideoFileSource(args, path, std::move(reader));
  media::setPropertyClock(*source->getPropertyNode("clock"), clock);
  auto watcher = std::make_shared<EndWatcher>(std::move(on_end));
  source->end_of_file_signal_.connect(watcher.get(), [w = watcher.get()] { w->onEnd(); });
  return {source, source->getOutputPad(), fps, watcher};
}

// Any source but a file.
BuiltSource makeSource(SourceSpec const& spec, SourceOptions const& options,
                       media::ElementArgs const& args, std::shared_ptr<media::Clock> const& clock) {
  switch (spec.kind) {
    case SourceKind::SYNTHETIC:
      return makeSynthetic(options, args, clock);
    case SourceKind::FILE:
      break;
    case SourceKind::SCREEN:
    case SourceKind::WINDOW: {
      std::string id = spec.argument.empty() ? "0" : spec.argument;
      if (media::getScreenCaptureBackend() == media::ScreenCaptureBackend::PORTAL) {
        if (!spec.argument.empty() && spec.argument != "portal")
          throw ToolError(EXIT_STATUS_FAILURE,
                          spec.text +
                              ": on Wayland the desktop chooses; use screen:portal or "
                              "window:portal");
        id = spec.kind == SourceKind::WINDOW ? media::kPortalWindowId : media::kPortalScreenId;
      } else if (!media::screenshotSupported()) {
        throw ToolError(EXIT_STATUS_FAILURE, spec.text + ": cannot open the X display");
      }
      auto source = media::createScreenSource(args);
      media::setPropertyClock(*source->getPropertyNode("clock"), clock);
      if (media::getScreenCaptureBackend() != media::ScreenCaptureBackend::PORTAL) {
        if (spec.kind == SourceKind::WINDOW && !x11WindowExists(id))
          throw fileError(spec.text, "no window with id " + id + " (see `media-tool screens`)");
        if (spec.kind == SourceKind::SCREEN && !x11DisplayExists(id))
          throw fileError(spec.text, "no display " + id + " (see `media-tool screens`)");
      }
      setProperty(*source, "window", PropertyValue(id));
      if (options.width > 0) setProperty(*source, "req_width", PropertyValue(options.width));
      if (options.height > 0) setProperty(*source, "req_height", PropertyValue(options.height));
      double const fps = options.fps > 0 ? options.fps : kDefaultScreenFps;
      // The source takes pictures at a third of its requested rate.
      setProperty(*source, "req_fps", PropertyValue(static_cast<float>(fps * 3)));
      setProperty(*source, "enabled", PropertyValue(true));
      return {source, source->getOutputPad(), fps, nullptr};
    }
    case SourceKind::DEVICE: {
      auto source = media::createV4L2VideoSource(args);
      media::setPropertyClock(*source->getPropertyNode("clock"), clock);
      setProperty(*source, "device", PropertyValue(spec.argument));
      if (options.width > 0) setProperty(*source, "req_width", PropertyValue(options.width));
      if (options.height > 0) setProperty(*source, "req_height", PropertyValue(options.height));
      if (options.fps > 0)
        setProperty(*source, "req_fps", PropertyValue(static_cast<float>(options.fps)));
      setProperty(*source, "enabled", PropertyValue(true));
      return {source, source->getOutputPad(), options.fps > 0 ? options.fps : 0, nullptr};
    }
  }
  notInThisBuild(spec.text);
}

}  // namespace

SourceFactory sourceFactory(SourceSpec const& spec, SourceOptions const& options,
                            VideoFileFacts* file_facts) {
  if (spec.kind != SourceKind::FILE) {
    return
        [spec, options](media::ElementArgs const& args, std::shared_ptr<media::Clock> const& clock,
                        std::function<void()>) { return makeSource(spec, options, args, clock); };
  }
  // Shared, as the factory must be copyable; the first source made takes it.
  std::unique_ptr<media::VideoFileReader> reader = openVideoFile(spec.argument);
  VideoFileFacts const facts = peekVideoFileFacts(*reader);
  if (file_facts) *file_facts = facts;
  auto opened = std::make_shared<std::unique_ptr<media::VideoFileReader>>(std::move(reader));
  return [path = spec.argument, fps = facts.fps, opened](media::ElementArgs const& args,
                                                         std::shared_ptr<media::Clock> const& clock,
                                                         std::function<void()> on_end) {
    return makeFileSource(path, std::move(*opened), fps, args, clock, std::move(on_end));
  };
}

BuiltSink makeFileSink(SinkSpec const& spec, media::ElementArgs const& args, double fps) {
  switch (spec.kind) {
    case SinkKind::AVI: {
      checkWritable(spec.path);
      auto sink = media::createAVISink(args);
      setProperty(*sink, "filename", PropertyValue(spec.path));
      if (fps > 0) setProperty(*sink, "frame_rate", PropertyValue(fps));
      return {sink, sink->getInputPad()};
    }
    case SinkKind::Y4M: {
      checkWritable(spec.path);
      auto sink = media::createY4MSink(args);
      setProperty(*sink, "filename", PropertyValue(spec.path));
      if (fps > 0) setProperty(*sink, "frame_rate", PropertyValue(fps));
      return {sink, sink->getInputPad()};
    }
    case SinkKind::PNM_DIR: {
      if (mkdir(spec.path.c_str(), 0777) != 0 && errno != EEXIST)
        throw fileError(spec.path, std::strerror(errno));
      struct stat info = {};
      if (stat(spec.path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw fileError(spec.path, "not a directory");
      auto sink = media::createPNMSink(args);
      setProperty(*sink, "prefix", PropertyValue(spec.path + "/frame"));
      return {sink, sink->getInputPad()};
    }
  }
  notInThisBuild(spec.path);
}

}  // namespace dravo::tool
