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

bool endsWith(std::string const& text, std::string const& suffix) {
  return text.size() >= suffix.size() &&
         toLower(text.substr(text.size() - suffix.size())) == suffix;
}

// One form of SOURCE: a fixed word, optionally followed by ":ARGUMENT".
struct SourceForm {
  char const* word;
  SourceKind kind;
  bool live;
  bool argument_required;
  char const* help;
};

constexpr SourceForm kSourceForms[] = {
    {"synthetic", SourceKind::SYNTHETIC, false, false, "synthetic         moving test picture"},
    {"screen", SourceKind::SCREEN, true, false, "screen[:ID]       a display (see `screens`)"},
    {"window", SourceKind::WINDOW, true, true, "window:ID         a window (see `screens`)"},
    {"device", SourceKind::DEVICE, true, false,
     "device[:NAME]     a capture device (see `devices`)"},
};

struct SinkForm {
  char const* pattern;
  SinkKind kind;
  char const* help;
};

constexpr SinkForm kSinkForms[] = {
    {".avi", SinkKind::AVI, "FILE.avi          AVI file, I420 or Motion-JPEG (--codec)"},
    {".y4m", SinkKind::Y4M, "FILE.y4m          YUV4MPEG2 file"},
    {"pnm:", SinkKind::PNM_DIR, "pnm:DIR           one PNM picture per frame in DIR"},
};

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

SourceSpec parseSourceSpec(std::string const& text) {
  if (text.empty()) throw usageError("SOURCE is empty");
  SourceSpec spec;
  spec.text = text;
  std::string const word = text.substr(0, text.find(':'));
  for (SourceForm const& form : kSourceForms) {
    if (word != form.word) continue;
    spec.kind = form.kind;
    spec.live = form.live;
    spec.argument = word.size() < text.size() ? text.substr(word.size() + 1) : std::string();
    if (form.argument_required && spec.argument.empty())
      throw usageError(std::string("SOURCE ") + form.word + " needs an id: " + form.help);
    if (form.kind == SourceKind::SYNTHETIC && !spec.argument.empty())
      throw usageError("SOURCE synthetic takes no argument");
    bool const numbered = form.kind == SourceKind::SCREEN || form.kind == SourceKind::WINDOW;
    // "portal" stands for whatever the desktop's portal lets the user pick.
    if (numbered && !spec.argument.empty() && spec.argument != "portal" &&
        spec.argument.find_first_not_of("0123456789") != std::string::npos)
      throw usageError("SOURCE " + text + ": the id must be a number (see `media-tool screens`)");
    return spec;
  }
  spec.kind = SourceKind::FILE;
  spec.argument = text;
  return spec;
}

SinkSpec parseSinkSpec(std::string const& text) {
  for (SinkForm const& form : kSinkForms) {
    std::string const pattern = form.pattern;
    bool const prefix = pattern.back() == ':';
    if (prefix ? text.rfind(pattern, 0) == 0 && text.size() > pattern.size()
               : endsWith(text, pattern)) {
      return {form.kind, prefix ? text.substr(pattern.size()) : text};
    }
  }
  throw usageError("OUTPUT must end in .avi or .y4m, or be pnm:DIR: " + text);
}

std::string sourceFormsHelp() {
  std::string help;
  for (SourceForm const& form : kSourceForms) help += std::string("  ") + form.help + "\n";
  return help + "  PATH              a video file (.avi, .y4m)\n";
}

std::string outputFormsHelp() {
  std::string help;
  for (SinkForm const& form : kSinkForms) help += std::string("  ") + form.help + "\n";
  return help;
}

std::unique_ptr<media::VideoFileReader> openVideoFile(std::string const& path) {
  struct stat info = {};
  if (stat(path.c_str(), &info) != 0) throw fileError(path, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) throw fileError(path, "not a regular file");
  std::unique_ptr<media::VideoFileReader> reader;
  if (endsWith(path, ".avi")) {
    reader = std::make_unique<media::AVIFileReader>();
  } else if (endsWith(path, ".y4m")) {
    auto y4m = std::make_unique<media::Y4MFileReader>();
    if (!y4m->openFile(path)) throw fileError(path, y4m->openError());
    return y4m;
  } else {
    throw fileError(path, "unknown video file type (expected .avi or .y4m)");
  }
  // The AVI reader takes file lists; a plain path must stay one file.
  if (!reader->openFile(path)) {
    auto const* avi = dynamic_cast<media::AVIFileReader const*>(reader.get());
    std::string const reason = avi ? avi->openErrorText() : std::string();
    throw fileError(path, reason.empty() ? "not a readable video file" : reason);
  }
  return reader;
}

VideoFileFacts probeVideoFile(std::string const& path) {
  auto reader = openVideoFile(path);
  Duration duration;
  auto const frame = reader->readFrame(&duration);
  VideoFileFacts facts;
  if (!frame) return facts;
  facts.width = frame->width();
  facts.height = frame->height();
  if (duration > Duration()) facts.fps = 1.0 / duration.toSec();
  return facts;
}

BuiltSource makeSource(SourceSpec const& spec, SourceOptions const& options,
                       media::ElementArgs const& args, std::shared_ptr<media::Clock> const& clock,
                       std::function<void()> on_end) {
  switch (spec.kind) {
    case SourceKind::SYNTHETIC:
      return makeSynthetic(options, args, clock);
    case SourceKind::FILE: {
      // Opened once here for a clear error and the file's rate; the source
      // opens it again.
      double const fps = probeVideoFile(spec.argument).fps;
      auto source = media::createVideoFileSource(args, spec.argument);
      media::setPropertyClock(*source->getPropertyNode("clock"), clock);
      auto watcher = std::make_shared<EndWatcher>(std::move(on_end));
      source->end_of_file_signal_.connect(watcher.get(), [w = watcher.get()] { w->onEnd(); });
      return {source, source->getOutputPad(), fps, watcher};
    }
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
