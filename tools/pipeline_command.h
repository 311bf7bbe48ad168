#pragma once
// What the pipeline-running commands (record, convert, snapshot, view)
// share: the --graph option, running a built pipeline with progress line,
// Ctrl-C handling and the closing per-element summary.
//
// Functions only; the main thread.

#include <CLI/CLI.hpp>
#include <string>

#include "tools/commands.h"
#include "tools/pipeline_runner.h"

namespace dravo::tool {

struct PipelineOptions {
  std::string graph_file;
};

void addPipelineOptions(CLI::App& command, PipelineOptions* options);

// Builds and runs; writes the graph when asked; prints the summary unless
// quiet. Returns 0, or 130 after Ctrl-C (the sink's files are complete).
int runPipeline(PipelineRunner& runner, PipelineOptions const& options, GlobalOptions const& global,
                std::string const& what);

// True when progress should be drawn: stderr is a terminal and not quiet.
bool progressWanted(GlobalOptions const& global);

}  // namespace dravo::tool
