// media-tool end to end: every subcommand run as a process in a temporary
// folder, its exit status, output and files checked, with outside tools
// (ffprobe, pnmfile, dot, sox) where they judge the files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/file.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"
#include "tests/support/xvfb_server.h"
#include "tests/tools/tool_process.h"
#include "tests/tools/x_window_requests.h"

namespace dravo::tool {
namespace {

using namespace dravo::testing;  // the outside tools
using testing::runTool;
using testing::ToolRun;

std::string readFile(std::string const& path) {
  std::string contents;
  File::readFileToStringIfExists(path, &contents);
  return contents;
}

bool has(std::string const& text, std::string const& part) {
  return text.find(part) != std::string::npos;
}

nlohmann::json infoJson(std::string const& file, bool frames = false) {
  ToolRun const run =
      frames ? runTool({"info", file, "--json", "--frames"}) : runTool({"info", file, "--json"});
  EXPECT_EQ(0, run.status) << run.err;
  return nlohmann::json::parse(run.out);
}

// A temporary folder for the files of one test.
class MediaToolTest : public ::testing::Test {
 protected:
  // Records the synthetic source into `output` (a file name in the folder,
  // or a prefixed form such as "pnm:<folder>").
  ToolRun record(std::string const& output, std::vector<std::string> extra = {},
                 bool on_terminal = false, std::string const& interrupt_after = "") {
    std::string const to = output.find(':') == std::string::npos ? file(output) : output;
    std::vector<std::string> args = {"record", "synthetic", to, "--size", "160x120"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runTool(args, on_terminal, interrupt_after);
  }
  std::string file(std::string const& name) const { return dir_.file(name); }
  dravo::testing::ScopedTempDir dir_;
};

TEST_F(MediaToolTest, RecordAndConvertWriteFilesThatInfoAndFfprobeAgreeOn) {
  ToolRun const run = record("d.avi", {"--duration", "2", "--fps", "15"});
  ASSERT_EQ(0, run.status) << run.err;
  // The run stops where the limit is: nothing is made or dropped beyond it.
  EXPECT_TRUE(has(run.out, "SyntheticVideoSource           30          0")) << run.out;
  EXPECT_NEAR(29.0 / 15.0, infoJson(file("d.avi"), true)["frame_list"][29]["pts"].get<double>(),
              1e-6);
  ASSERT_EQ(0, runTool({"convert", file("d.avi"), file("small.avi"), "--size", "80x60", "--frames",
                        "5", "-q"})
                   .status);
  EXPECT_EQ(80, infoJson(file("small.avi"))["width"]);
  SKIP_WITHOUT_TOOL("ffprobe");
  EXPECT_EQ(std::make_pair(30, 5),
            std::make_pair(ffprobeFrameCount(file("d.avi")), ffprobeFrameCount(file("small.avi"))));
}

TEST_F(MediaToolTest, SnapshotThumbsPnmOutputAndGraphAreValidFiles) {
  ASSERT_EQ(0, record("clip.avi", {"--frames", "12", "-q", "--graph", file("g.dot")}).status);
  ASSERT_EQ(0, runTool({"snapshot", file("clip.avi"), file("s.ppm"), "--frame", "5", "-q"}).status);
  ASSERT_EQ(0, runTool({"thumbs", file("clip.avi"), file("t.ppm"), "--grid", "3x2", "--width", "48",
                        "-q"})
                   .status);
  ASSERT_EQ(0, record("pnm:" + file("frames"), {"--frames", "3", "-q"}).status);
  EXPECT_EQ(3, std::distance(std::filesystem::directory_iterator(file("frames")),
                             std::filesystem::directory_iterator()));
  EXPECT_TRUE(has(readFile(file("g.dot")), "\"limit\":\"out\" -> \"sink\":\"in\""));
  EXPECT_TRUE(!haveTool("dot") ||
              runCommand("dot -Tsvg '" + file("g.dot") + "' -o /dev/null").exit_code == 0);
  SKIP_WITHOUT_TOOL("pnmfile");
  // Thumbs: 3 cells of 48 and 4 pixel margins; cells 36 high at 4:3.
  for (auto [name, size] : {std::pair{"s.ppm", "160 by 120"}, std::pair{"t.ppm", "160 by 84"},
                            std::pair{"frames/frame_00002.pnm", "160 by 120"}})
    EXPECT_TRUE(has(runCommand(std::string("pnmfile '") + file(name) + "'").output, size)) << name;
}

TEST_F(MediaToolTest, InfoDescribesWavFilesFromSox) {
  SKIP_WITHOUT_TOOL("sox");
  ASSERT_EQ(
      0,
      runCommand("sox -n -r 8000 -c 2 -b 16 '" + file("t.wav") + "' synth 0.5 sine 440").exit_code);
  nlohmann::json const info = infoJson(file("t.wav"));
  EXPECT_EQ(std::make_tuple(2, 8000, 4000),
            std::make_tuple(info["channels"], info["sample_rate"], info["samples"]));
}

TEST_F(MediaToolTest, UsageErrorsExitTwoAndRunTimeFailuresOneNamingTheFile) {
  std::ofstream(file("junk.avi")) << "not a RIFF file at all";
  char const* usage = "Usage: media-tool";
  std::vector<std::tuple<std::vector<std::string>, int, std::string>> const cases = {
      {{}, 2, usage},
      {{"record", "synthetic", "x.mp4"}, 2, usage},
      {{"record", "synthetic", "x.avi", "--realtime", "--fast"}, 2, usage},
      {{"info", file("missing.avi")}, 1, file("missing.avi") + ": No such file"},
      {{"-v", "info", file("junk.avi")}, 1, "Can't read AVI file"},
      {{"record", "device:/no/video9", file("c.avi")}, 1, "media-tool: device:/no/video9: "},
      {{"record", "synthetic", file("no/such/dir/x.avi"), "--frames", "1"}, 1, "no/such/dir/x.avi"},
  };
  for (auto const& [args, status, err] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ToolRun const run = runTool(args);
    EXPECT_EQ(status, run.status);
    EXPECT_TRUE(has(run.err, err)) << run.err;
  }
  // Just the tool's line: the reader's own log lines need -v.
  EXPECT_EQ("media-tool: " + file("junk.avi") + ": not an AVI file\n",
            runTool({"info", file("junk.avi")}).err);
}

TEST_F(MediaToolTest, ProgressLineOnlyOnATerminalAndCtrlCLeavesAPlayableFile) {
  EXPECT_FALSE(has(record("p.avi", {"--frames", "30"}).err, "frame "));
  ToolRun const terminal = record("t.avi", {"--frames", "30"}, true);
  EXPECT_TRUE(terminal.status == 0 && has(terminal.out, "frame 30/30")) << terminal.out;

  // Real time and no limit: only the interrupt ends it. The progress line
  // says when frames are flowing.
  ToolRun const run = record("cut.avi", {"--realtime", "--duration", "3600"}, true, "frame 3");
  EXPECT_TRUE(run.status == 130 && has(run.out, "interrupted")) << run.out;
  int const frames = infoJson(file("cut.avi"))["frames"].get<int>();
  EXPECT_GE(frames, 3);
  SKIP_WITHOUT_TOOL("ffprobe");
  EXPECT_EQ(frames, ffprobeFrameCount(file("cut.avi")));
}

TEST_F(MediaToolTest, DevicesListsAndKeepsTheBlacklist) {
  setenv("DRAVO_CONFIG_PATH", file("config").c_str(), 1);
  std::string const listed = runTool({"devices", "--json", "--blacklist-add", "usb-test-1"}).out;
  unsetenv("DRAVO_CONFIG_PATH");
  EXPECT_TRUE(nlohmann::json::parse(listed)["devices"].is_array());
  EXPECT_TRUE(has(readFile(file("config/video.blacklist")), "usb-test-1"));
}

// Starts `media-tool view synthetic` and returns its pid and the id of its
// window once `media-tool screens` lists it (empty if it never does).
std::pair<pid_t, std::string> startViewer() {
  pid_t const viewer = testing::startTool({"view", "synthetic", "--quiet"});
  for (int attempt = 0; attempt < 500; ++attempt) {
    ToolRun const screens = runTool({"screens", "--json"});
    if (screens.status != 0) break;
    nlohmann::json const listed = nlohmann::json::parse(screens.out);
    for (auto const& entry : listed["windows"])
      if (entry["title"] == "media-tool view synthetic") return {viewer, entry["id"]};
  }
  return {viewer, {}};
}

// The first viewer's window is also recorded; a key press or the window
// manager's close request ends each viewer normally.
TEST_F(MediaToolTest, ViewShowsAWindowThatScreensListsRecordCapturesAndKeysClose) {
  char const* display = getenv("DISPLAY");
  std::string const saved = display ? display : "";
  unsetenv("DISPLAY");
  ToolRun const headless = runTool({"view", "synthetic", "--frames", "1"});
  EXPECT_TRUE(headless.status == 1 && has(headless.err, "X display")) << headless.err;

  dravo::testing::XvfbServer server;
  std::string error;
  if (server.start("640x480x24", &error)) {
    setenv("DISPLAY", server.display().c_str(), 1);
    for (auto request : {testing::WindowRequest::KEY_Q, testing::WindowRequest::KEY_ESCAPE,
                         testing::WindowRequest::CLOSE}) {
      SCOPED_TRACE(static_cast<int>(request));
      auto [viewer, id] = startViewer();
      if (request == testing::WindowRequest::KEY_Q) {
        EXPECT_EQ(0, runTool({"record", "window:" + id, file("w.avi"), "--frames", "3"}).status);
        nlohmann::json const info = infoJson(file("w.avi"));
        EXPECT_EQ(std::make_tuple(3, 640), std::make_tuple(info["frames"], info["width"]));
      }
      bool const sent = !id.empty() && testing::sendToWindow(id, request);
      EXPECT_TRUE(sent);
      if (!sent) kill(viewer, SIGKILL);
      int status = 0;
      waitpid(viewer, &status, 0);
      EXPECT_EQ(0, testing::statusOf(status));
    }
  }
  if (saved.empty())
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", saved.c_str(), 1);
  if (!error.empty()) GTEST_SKIP() << error;
}

}  // namespace
}  // namespace dravo::tool
