#include "tools/pipeline_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/string_util.h"
#include "tools/pipeline_graph.h"
#include "tools/tool_error.h"

namespace dravo::tool {

namespace {

void writeGraph(std::string const& path, PipelineDescription const& description) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) throw fileError(path, std::strerror(errno));
  std::string const dot = toDot(description);
  bool ok = std::fwrite(dot.data(), 1, dot.size(), file) == dot.size();
  if (std::fclose(file) != 0) ok = false;
  if (!ok) throw fileError(path, "write failed");
}

void printSummary(RunResult const& result, std::string const& what) {
  double const fps = result.wall_seconds > 0 ? result.frames / result.wall_seconds : 0.0;
  std::printf("%s: %lld frames in %.2f s (%.1f frames/s)%s\n", what.c_str(),
              static_cast<long long>(result.frames), result.wall_seconds, fps,
              result.interrupted ? ", interrupted" : "");
  std::printf("%-8s %-22s %10s %10s\n", "element", "type", "handled", "dropped");
  for (ElementStats const& stats : result.stats)
    std::printf("%-8s %-22s %10lld %10lld\n", stats.name.c_str(), stats.type.c_str(),
                static_cast<long long>(stats.handled), static_cast<long long>(stats.dropped));
  std::fflush(stdout);
}

}  // namespace

void addPipelineOptions(CLI::App& command, PipelineOptions* options) {
  command.add_option("--graph", options->graph_file,
                     "Write the pipeline as a Graphviz graph (dot) to this file");
}

bool progressWanted(GlobalOptions const& global) { return !global.quiet && isatty(STDERR_FILENO); }

int runPipeline(PipelineRunner& runner, PipelineOptions const& options, GlobalOptions const& global,
                std::string const& what) {
  runner.build();
  if (!options.graph_file.empty()) writeGraph(options.graph_file, runner.describe());
  RunResult const result = runner.run();
  // Written again with the values the run settled on.
  if (!options.graph_file.empty()) writeGraph(options.graph_file, result.graph);
  if (!global.quiet) printSummary(result, what);
  return result.interrupted ? EXIT_STATUS_INTERRUPTED : EXIT_STATUS_OK;
}

}  // namespace dravo::tool
