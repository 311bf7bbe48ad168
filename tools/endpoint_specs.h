#pragma once
// What the command line says about the ends of a media-tool pipeline, each
// kind of source and output one row of a table: the word that names it,
// whether it is live (system clock) or file-like (fast-forward clock by
// default), and its line of --help.
//
// Sources: "synthetic", "screen[:ID]", "window:ID", "device[:NAME]" or a
// video file path. Outputs: a path ending in ".avi" or ".y4m", or "pnm:DIR".
// Building the elements is endpoints.h's job.
//
// Functions only, any thread.

#include <string>

namespace dravo::tool {

enum class SourceKind { SYNTHETIC, SCREEN, WINDOW, DEVICE, FILE };
enum class SinkKind { AVI, Y4M, PNM_DIR };

struct SourceSpec {
  SourceKind kind = SourceKind::SYNTHETIC;
  // The part after "kind:", or the file path.
  std::string argument;
  std::string text;
  bool live = false;
};

struct SinkSpec {
  SinkKind kind = SinkKind::AVI;
  std::string path;
};

// Usage errors (status 2) for texts that name no known kind.
SourceSpec parseSourceSpec(std::string const& text);
SinkSpec parseSinkSpec(std::string const& text);

// The one-line descriptions of the source and output forms, for --help.
std::string sourceFormsHelp();
std::string outputFormsHelp();

}  // namespace dravo::tool
