// media-tool end to end: every subcommand run as a process in a temporary
// folder, its exit status, output and files checked, with outside tools
// (ffprobe, pnmfile, dot, sox) where they judge the files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "tests/support/run_command.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/tools/tool_process.h"
#include "tests/tools/x_window_requests.h"

namespace dravo::tool {
namespace {

using dravo::testing::haveTool;
using dravo::testing::runCommand;
using dravo::testing::ScopedTempDir;
using testing::runTool;
using testing::runToolOnTerminal;
using testing::ToolRun;

std::string readFile(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

nlohmann::json infoJson(std::string const& file, bool frames = false) {
  std::vector<std::string> args = {"info", file, "--json"};
  if (frames) args.push_back("--frames");
  ToolRun const run = runTool(args);
  EXPECT_EQ(0, run.status) << run.err;
  return nlohmann::json::parse(run.out);
}

// ffprobe's count of decodable frames, or -1 without ffprobe.
int ffprobeFrames(std::string const& file) {
  if (!haveTool("ffprobe")) return -1;
  auto const probe = runCommand(
      "ffprobe -v error -count_frames -select_streams v:0 "
      "-show_entries stream=nb_read_frames -of csv=p=0 '" +
      file + "'");
  return probe.exit_code == 0 ? std::atoi(probe.output.c_str()) : 0;
}

// The id of the window titled `title` once `media-tool screens` lists it.
std::string waitForWindow(std::string const& title) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    ToolRun const screens = runTool({"screens", "--json"});
    if (screens.status != 0) return {};
    nlohmann::json const listed = nlohmann::json::parse(screens.out);
    for (auto const& entry : listed["windows"])
      if (entry["title"] == title) return entry["id"];
  }
  return {};
}

class MediaToolTest : public ::testing::Test {
 protected:
  ToolRun record(std::string const& output, std::vector<std::string> extra = {}, int frames = 12) {
    std::vector<std::string> args = {"record",  "synthetic", dir_.file(output),      "--size",
                                     "160x120", "--frames",  std::to_string(frames), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runTool(args);
  }
  ScopedTempDir dir_;
};

TEST_F(MediaToolTest, RecordTwiceGivesIdenticalFilesThatInfoAndFfprobeAgreeOn) {
  for (char const* extension : {".avi", ".y4m"}) {
    SCOPED_TRACE(extension);
    std::string const a = std::string("a") + extension;
    std::string const b = std::string("b") + extension;
    ToolRun const first = record(a);
    ASSERT_EQ(0, first.status) << first.err;
    EXPECT_EQ("", first.out);  // --quiet
    ASSERT_EQ(0, record(b).status);
    EXPECT_EQ(readFile(dir_.file(a)), readFile(dir_.file(b)));

    nlohmann::json const info = infoJson(dir_.file(a), true);
    EXPECT_EQ(160, info["width"]);
    EXPECT_EQ(120, info["height"]);
    EXPECT_EQ(12, info["frames"]);
    EXPECT_DOUBLE_EQ(30.0, info["fps"].get<double>());
    ASSERT_EQ(12u, info["frame_list"].size());
    EXPECT_NEAR(11.0 / 30.0, info["frame_list"][11]["pts"].get<double>(), 1e-6);
    int const probed = ffprobeFrames(dir_.file(a));
    if (probed >= 0) {
      EXPECT_EQ(12, probed);
    }
  }
}

TEST_F(MediaToolTest, DurationAndFpsDecideTheFrameCountAndTheSummaryCountsBuffers) {
  ToolRun const run = runTool({"record", "synthetic", dir_.file("d.avi"), "--size", "64x48",
                               "--duration", "2", "--fps", "15"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(30, infoJson(dir_.file("d.avi"))["frames"]);
  EXPECT_NE(std::string::npos, run.out.find("30 frames")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("AVISink")) << run.out;
  // The run stops where the limit is: nothing is made or dropped beyond it.
  EXPECT_NE(std::string::npos, run.out.find("SyntheticVideoSource           30          0"))
      << run.out;
}

TEST_F(MediaToolTest, ConvertRoundTripsFramesAndShrinks) {
  ASSERT_EQ(0, record("in.y4m").status);
  ASSERT_EQ(0, runTool({"convert", dir_.file("in.y4m"), dir_.file("mid.avi"), "-q"}).status);
  ASSERT_EQ(0, runTool({"convert", dir_.file("mid.avi"), dir_.file("back.y4m"), "-q"}).status);
  EXPECT_EQ(readFile(dir_.file("in.y4m")), readFile(dir_.file("back.y4m")));

  ASSERT_EQ(0, runTool({"convert", dir_.file("in.y4m"), dir_.file("small.avi"), "--size", "80x60",
                        "--frames", "5", "-q"})
                   .status);
  nlohmann::json const info = infoJson(dir_.file("small.avi"));
  EXPECT_EQ(80, info["width"]);
  EXPECT_EQ(60, info["height"]);
  EXPECT_EQ(5, info["frames"]);
}

TEST_F(MediaToolTest, SnapshotThumbsAndPnmOutputAreValidPictures) {
  ASSERT_EQ(0, record("clip.avi").status);
  ASSERT_EQ(0,
            runTool({"snapshot", dir_.file("clip.avi"), dir_.file("s.ppm"), "--frame", "5", "-q"})
                .status);
  ASSERT_EQ(0, runTool({"thumbs", dir_.file("clip.avi"), dir_.file("t.ppm"), "--grid", "3x2",
                        "--width", "48", "-q"})
                   .status);
  ASSERT_EQ(0, runTool({"record", "synthetic", "pnm:" + dir_.file("frames"), "--size", "160x120",
                        "--frames", "3", "-q"})
                   .status);
  EXPECT_EQ(3, std::distance(std::filesystem::directory_iterator(dir_.file("frames")),
                             std::filesystem::directory_iterator()));
  if (!haveTool("pnmfile")) GTEST_SKIP() << "pnmfile (netpbm) missing";
  EXPECT_NE(std::string::npos,
            runCommand("pnmfile '" + dir_.file("s.ppm") + "'").output.find("160 by 120"));
  // 3 cells of 48 and 4 pixel margins; cells 36 high at 4:3.
  EXPECT_NE(std::string::npos,
            runCommand("pnmfile '" + dir_.file("t.ppm") + "'").output.find("160 by 84"));
  EXPECT_NE(std::string::npos, runCommand("pnmfile '" + dir_.file("frames/frame_00002.pnm") + "'")
                                   .output.find("160 by 120"));
}

TEST_F(MediaToolTest, GraphIsAValidDotFileOfThePipeline) {
  ASSERT_EQ(0, record("g.avi", {"--graph", dir_.file("g.dot")}).status);
  std::string const dot = readFile(dir_.file("g.dot"));
  EXPECT_NE(std::string::npos, dot.find("SyntheticVideoSource"));
  EXPECT_NE(std::string::npos, dot.find("FastForwardClock"));
  EXPECT_NE(std::string::npos, dot.find("\"limit\":\"out\" -> \"sink\":\"in\""));
  if (!haveTool("dot")) GTEST_SKIP() << "dot (graphviz) missing";
  EXPECT_EQ(0, runCommand("dot -Tsvg '" + dir_.file("g.dot") + "' -o '" + dir_.file("g.svg") + "'")
                   .exit_code);
}

TEST_F(MediaToolTest, InfoDescribesWavFiles) {
  if (!haveTool("sox")) GTEST_SKIP() << "sox missing";
  ASSERT_EQ(0,
            runCommand("sox -n -r 8000 -c 2 -b 16 '" + dir_.file("t.wav") + "' synth 0.5 sine 440")
                .exit_code);
  nlohmann::json const info = infoJson(dir_.file("t.wav"));
  EXPECT_EQ("wav", info["container"]);
  EXPECT_EQ(2, info["channels"]);
  EXPECT_EQ(8000, info["sample_rate"]);
  EXPECT_EQ(4000, info["samples"]);
  EXPECT_DOUBLE_EQ(0.5, info["duration"].get<double>());
}

TEST_F(MediaToolTest, UsageErrorsExitTwoWithAUsageLine) {
  std::vector<std::vector<std::string>> const bad = {
      {},
      {"frobnicate"},
      {"record", "synthetic"},
      {"record", "synthetic", "x.mp4"},
      {"record", "synthetic", "x.avi", "--size", "big"},
      {"record", "synthetic", "x.avi", "--realtime", "--fast"},
      {"thumbs", "a.avi", "b.ppm", "--grid", "4"},
  };
  for (auto const& args : bad) {
    ToolRun const run = runTool(args);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("Usage: media-tool")) << run.err;
  }
  EXPECT_EQ(0, runTool({"record", "--help"}).status);
}

TEST_F(MediaToolTest, RunTimeFailuresExitOneNamingTheFile) {
  ToolRun const missing = runTool({"info", dir_.file("missing.avi")});
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(std::string::npos, missing.err.find(dir_.file("missing.avi") + ": No such file"));
  EXPECT_EQ(std::string::npos, missing.err.find('\n', missing.err.find('\n') + 1));

  std::ofstream(dir_.file("junk.avi")) << "not a RIFF file at all";
  ToolRun const junk = runTool({"info", dir_.file("junk.avi")});
  EXPECT_EQ(1, junk.status);
  // Just the tool's line: the reader's own log lines need -v.
  EXPECT_EQ("media-tool: " + dir_.file("junk.avi") + ": not a readable AVI file\n", junk.err);
  ToolRun const verbose = runTool({"-v", "info", dir_.file("junk.avi")});
  EXPECT_NE(std::string::npos, verbose.err.find("Can't read AVI file")) << verbose.err;

  ToolRun const camera = runTool({"record", "device:" + dir_.file("video9"), dir_.file("c.avi")});
  EXPECT_EQ(1, camera.status);
  EXPECT_NE(std::string::npos, camera.err.find("media-tool: device:" + dir_.file("video9") + ": "))
      << camera.err;

  ToolRun const unwritable = record("no/such/dir/x.avi");
  EXPECT_EQ(1, unwritable.status);
  EXPECT_NE(std::string::npos, unwritable.err.find("no/such/dir/x.avi"));
}

TEST_F(MediaToolTest, ProgressLineOnlyOnATerminal) {
  ToolRun const piped = record("p.avi", {}, 30);
  ASSERT_EQ(0, piped.status);
  EXPECT_EQ(std::string::npos, piped.err.find("frame "));

  ToolRun const terminal = runToolOnTerminal(
      {"record", "synthetic", dir_.file("t.avi"), "--size", "160x120", "--frames", "30"});
  ASSERT_EQ(0, terminal.status) << terminal.out;
  EXPECT_NE(std::string::npos, terminal.out.find("frame 30/30")) << terminal.out;
  EXPECT_NE(std::string::npos, terminal.out.find("elapsed")) << terminal.out;
}

TEST_F(MediaToolTest, CtrlCDuringARecordingLeavesAPlayableFileAndExits130) {
  // Real time and no limit: only the interrupt ends it. The progress line
  // says when frames are flowing.
  ToolRun const run = runToolOnTerminal({"record", "synthetic", dir_.file("cut.avi"), "--size",
                                         "160x120", "--realtime", "--duration", "3600"},
                                        "frame 3");
  EXPECT_EQ(130, run.status) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("interrupted")) << run.out;
  nlohmann::json const info = infoJson(dir_.file("cut.avi"));
  EXPECT_GE(info["frames"].get<int>(), 3);
  int const probed = ffprobeFrames(dir_.file("cut.avi"));
  if (probed >= 0) {
    EXPECT_EQ(info["frames"].get<int>(), probed);
  }
}

TEST_F(MediaToolTest, DevicesListsAndKeepsTheBlacklist) {
  setenv("DRAVO_CONFIG_PATH", dir_.file("config").c_str(), 1);
  ToolRun const added = runTool({"devices", "--json", "--blacklist-add", "usb-test-1"});
  unsetenv("DRAVO_CONFIG_PATH");
  ASSERT_EQ(0, added.status) << added.err;
  EXPECT_TRUE(nlohmann::json::parse(added.out)["devices"].is_array());
  EXPECT_NE(std::string::npos, readFile(dir_.file("config/video.blacklist")).find("usb-test-1"));
}

TEST_F(MediaToolTest, ViewShowsFramesInAnXWindowAndEndsAtTheLimit) {
  testing::PrivateXServer server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb cannot be started";
  setenv("DISPLAY", server.display().c_str(), 1);
  ToolRun const run = runTool({"view", "synthetic", "--frames", "10"});
  unsetenv("DISPLAY");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("TextureVideoSink")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("10 frames")) << run.out;
}

TEST_F(MediaToolTest, ScreensListsTheViewWindowWhichRecordCaptures) {
  testing::PrivateXServer server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb cannot be started";
  setenv("DISPLAY", server.display().c_str(), 1);
  pid_t const viewer = testing::startTool({"view", "synthetic", "--quiet"});
  std::string const window = waitForWindow("media-tool view synthetic");
  ASSERT_FALSE(window.empty());
  ToolRun const run = runTool({"record", "window:" + window, dir_.file("w.avi"), "--frames", "3"});
  kill(viewer, SIGINT);
  int viewer_status = 0;
  waitpid(viewer, &viewer_status, 0);
  unsetenv("DISPLAY");
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("ScreenVideoSource")) << run.out;
  nlohmann::json const info = infoJson(dir_.file("w.avi"));
  EXPECT_EQ(3, info["frames"]);
  EXPECT_EQ(640, info["width"]);
  EXPECT_EQ(130, testing::statusOf(viewer_status));
}

TEST_F(MediaToolTest, ViewClosesOnQEscapeAndTheWindowManagersCloseRequest) {
  testing::PrivateXServer server;
  if (server.display().empty()) GTEST_SKIP() << "Xvfb cannot be started";
  setenv("DISPLAY", server.display().c_str(), 1);
  for (auto request : {testing::WindowRequest::KEY_Q, testing::WindowRequest::KEY_ESCAPE,
                       testing::WindowRequest::CLOSE}) {
    SCOPED_TRACE(static_cast<int>(request));
    pid_t const viewer = testing::startTool({"view", "synthetic", "--quiet"});
    std::string const window = waitForWindow("media-tool view synthetic");
    bool const sent = !window.empty() && testing::sendToWindow(window, request);
    EXPECT_TRUE(sent);
    if (!sent) kill(viewer, SIGKILL);
    int status = 0;
    waitpid(viewer, &status, 0);
    EXPECT_EQ(0, testing::statusOf(status));
  }
  unsetenv("DISPLAY");
}

TEST_F(MediaToolTest, ViewWithoutADisplayFailsWithOneLine) {
  char const* display = getenv("DISPLAY");
  std::string const saved = display ? display : "";
  unsetenv("DISPLAY");
  ToolRun const run = runTool({"view", "synthetic", "--frames", "1"});
  if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("X display")) << run.err;
}

}  // namespace
}  // namespace dravo::tool
