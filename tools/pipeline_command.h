#pragma once
// What the pipeline-running commands (record, convert, snapshot, view)
// share: the --graph option, running a built pipeline with progress line,
// Ctrl-C handling and the closing per-element summary.
//
// Functions only; the main thread.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/pipeline_runner.h"

namespace dravo::tool {

struct PipelineOptions {
  std::string graph_file;
};

void addPipelineOptions(CLI::App& command, PipelineOptions* options);

// Builds and runs; writes the graph when asked; prints the summary unless
// quiet. Returns 0, or 128 + the signal's number after Ctrl-C (130) or
// SIGTERM (143); the sink's files are complete either way. A run that
// writes `output_file` (empty: none) and ends without a frame removes it,
// says so in the summary and throws a ToolError (status 1).
int runPipeline(PipelineRunner& runner, PipelineOptions const& options, GlobalOptions const& global,
                std::string const& what, std::string const& output_file = std::string());

// ToolError (status 1) naming both when a file the command would write
// (`outputs`; empty names are skipped) is the same file as `input`, or
// would become it: checked before anything is opened for writing. An input
// that does not exist needs no protection.
void refuseOverwritingInput(std::string const& input, std::vector<std::string> const& outputs);

// True when progress should be drawn: stderr is a terminal and not quiet.
bool progressWanted(GlobalOptions const& global);

}  // namespace dravo::tool
