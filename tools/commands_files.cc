// info and thumbs: the commands that read media files directly.

#include <cstdio>

#include "tools/commands.h"
#include "tools/contact_sheet.h"
#include "tools/media_info.h"
#include "tools/pipeline_command.h"
#include "tools/ppm_writer.h"

namespace dravo::tool {

CommandRunner addInfoCommand(CLI::App& app, GlobalOptions const& global) {
  struct Options {
    std::string file;
    bool json = false;
    bool frames = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand("info", "Describe an AVI, Y4M or WAV file");
  command->footer(
      "Prints format, size, frame rate, frame count, duration and metadata; --frames adds every\n"
      "frame's timestamp and duration.\n\nExamples:\n  media-tool info clip.avi\n"
      "  media-tool info clip.y4m --json --frames\n  media-tool info voice.wav\n");
  command->add_option("FILE", options->file, "File to describe")->required();
  command->add_flag("--json", options->json, "Print one JSON object");
  command->add_flag("--frames", options->frames, "List every frame");
  return [options, &global]() {
    (void)global;
    auto const info = describeMediaFile(options->file, options->frames);
    std::string const text = options->json ? info.dump(2) + "\n" : formatMediaInfo(info);
    std::fputs(text.c_str(), stdout);
    return 0;
  };
}

CommandRunner addThumbsCommand(CLI::App& app, GlobalOptions const& global) {
  struct Options {
    std::string file;
    std::string output;
    std::string grid = "4x4";
    int width = 160;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("thumbs", "Draw a contact sheet of a video file into a PPM picture");
  command->footer(
      "Frames evenly spread over the file, shrunk and captioned with their timestamps.\n"
      "\nExamples:\n  media-tool thumbs clip.avi sheet.ppm\n"
      "  media-tool thumbs clip.y4m sheet.ppm --grid 6x3 --width 120\n");
  command->add_option("FILE", options->file, "Video file (.avi, .y4m)")->required();
  command->add_option("OUTPUT", options->output, "PPM file to write")->required();
  command->add_option("--grid", options->grid, "Columns x rows")->capture_default_str();
  command->add_option("--width", options->width, "Width of one picture")
      ->capture_default_str()
      ->check(CLI::Range(16, 4096));
  return [options, &global]() {
    refuseOverwritingInput(options->file, {options->output});
    ContactSheetLayout layout;
    parseSize(options->grid, &layout.columns, &layout.rows);
    layout.cell_width = options->width;
    auto const sheet = makeContactSheet(options->file, layout);
    writePpm(options->output, sheet);
    if (!global.quiet)
      std::printf("thumbs %s: %dx%d picture\n", options->output.c_str(), sheet->width(),
                  sheet->height());
    return 0;
  };
}

}  // namespace dravo::tool
