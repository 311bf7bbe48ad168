#include "tools/endpoint_specs.h"

#include "common/string_util.h"
#include "tools/tool_error.h"

namespace dravo::tool {

namespace {

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

}  // namespace dravo::tool
