#include "tools/pipeline_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

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

void printSummary(RunResult const& result, std::string const& what, bool removed) {
  double const fps = result.wall_seconds > 0 ? result.frames / result.wall_seconds : 0.0;
  std::printf("%s: %lld frames in %.2f s (%.1f frames/s)%s%s\n", what.c_str(),
              static_cast<long long>(result.frames), result.wall_seconds, fps,
              result.interrupted ? ", interrupted" : "",
              removed ? ", nothing written (file removed)" : "");
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
                std::string const& what, std::string const& output_file) {
  runner.build();
  if (!options.graph_file.empty()) writeGraph(options.graph_file, runner.describe());
  RunResult const result = runner.run();
  // Written again with the values the run settled on.
  if (!options.graph_file.empty()) writeGraph(options.graph_file, result.graph);
  // A file without frames (empty, or a header alone) would pass for a
  // recording; it goes.
  bool const empty = !output_file.empty() && result.frames == 0;
  if (empty) std::remove(output_file.c_str());
  if (!result.error.empty()) throw ToolError(EXIT_STATUS_FAILURE, result.error);
  if (!global.quiet) printSummary(result, what, empty);
  if (empty) throw fileError(output_file, "no frame was written; the file was removed");
  return result.signal != 0   ? 128 + result.signal
         : result.interrupted ? EXIT_STATUS_INTERRUPTED
                              : EXIT_STATUS_OK;
}

void refuseOverwritingInput(std::string const& input, std::vector<std::string> const& outputs) {
  struct stat input_info = {};
  if (input.empty() || stat(input.c_str(), &input_info) != 0) return;
  std::error_code error;
  std::filesystem::path const input_path = std::filesystem::canonical(input, error);
  for (std::string const& output : outputs) {
    if (output.empty()) continue;
    struct stat output_info = {};
    bool same = false;
    if (stat(output.c_str(), &output_info) == 0) {
      // Symbolic and hard links included.
      same = output_info.st_dev == input_info.st_dev && output_info.st_ino == input_info.st_ino;
    } else if (!input_path.empty()) {
      // Not there yet: it would be made where the input is only if its
      // folder resolves to the input's and the names agree.
      std::filesystem::path const path = std::filesystem::absolute(output, error);
      std::filesystem::path const folder =
          std::filesystem::weakly_canonical(path.parent_path(), error);
      same = !error && folder / path.filename() == input_path;
    }
    if (same)
      throw fileError(output, "is the same file as the input " + input + "; nothing was written");
  }
}

}  // namespace dravo::tool
