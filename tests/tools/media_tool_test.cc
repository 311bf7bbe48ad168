// media-tool end to end: every subcommand run as a process in a temporary
// folder, its exit status, output and files checked, with outside tools
// (ffprobe, ffmpeg, pnmfile) where they judge the files.

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

// ffprobe's answer for the first video stream of `path`: the values of
// `entries` (e.g. "stream=r_frame_rate"), comma-separated.
std::string ffprobe(std::string const& path, std::string const& entries) {
  std::string out =
      commandOutput("ffprobe -v error -select_streams v:0 -count_frames -show_entries " + entries +
                    " -of csv=p=0 '" + path + "'");
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

// A temporary folder for the files of one test, and recordings of the
// synthetic source into it.
class MediaToolTest : public ::testing::Test {
 protected:
  // `output` is a file name in the folder, or a prefixed form such as
  // "pnm:<folder>".
  ToolRun record(std::string const& output, std::vector<std::string> extra = {},
                 bool on_terminal = false, std::string const& interrupt_after = "",
                 int signal = SIGINT) {
    std::string const to = output.find(':') == std::string::npos ? file(output) : output;
    std::vector<std::string> args = {"record", "synthetic", to, "--size", "160x120"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runTool(args, on_terminal, interrupt_after, signal);
  }
  std::string file(std::string const& name) const { return dir_.file(name); }
  dravo::testing::ScopedTempDir dir_;
};

// Motion-JPEG through the library's JPEG conversion, converted back, and
// pictures made from it.
TEST_F(MediaToolTest, RecordsThroughJpegConvertsBackAndMakesPictures) {
  ToolRun const run = record("m.avi", {"--duration", "2", "--fps", "15", "--codec", "mjpeg",
                                       "--quality", "60", "--graph", file("g.dot")});
  ASSERT_EQ(0, run.status) << run.err;
  // The run stops where the limit is: nothing is made or dropped beyond it.
  EXPECT_TRUE(has(run.out, "SyntheticVideoSource           30          0")) << run.out;
  EXPECT_FALSE(has(run.err, "frame ")) << "no progress line off a terminal";
  EXPECT_TRUE(has(readFile(file("g.dot")), "\"limit\":\"out\" -> ")) << readFile(file("g.dot"));
  nlohmann::json const info = infoJson(file("m.avi"), true);
  EXPECT_EQ(std::make_tuple("MJPG", 30, 160),
            std::make_tuple(info["format"], info["frames"], info["width"]));
  EXPECT_NEAR(29.0 / 15.0, info["frame_list"][29]["pts"].get<double>(), 1e-6);

  ASSERT_EQ(0, runTool({"convert", file("m.avi"), file("b.y4m"), "--size", "80x60", "--frames", "5",
                        "-q"})
                   .status);
  EXPECT_EQ(std::make_tuple(5, 80),
            std::make_tuple(infoJson(file("b.y4m"))["frames"], infoJson(file("b.y4m"))["width"]));
  ASSERT_EQ(0, runTool({"snapshot", file("m.avi"), file("s.ppm"), "--frame", "5", "-q"}).status);
  ASSERT_EQ(
      0, runTool({"thumbs", file("m.avi"), file("t.ppm"), "--grid", "3x2", "--width", "48", "-q"})
             .status);
  ASSERT_EQ(0, record("pnm:" + file("frames"), {"--frames", "3", "-q"}).status);
  EXPECT_EQ(3, std::distance(std::filesystem::directory_iterator(file("frames")),
                             std::filesystem::directory_iterator()));
  if (haveTool("ffprobe")) {
    EXPECT_EQ(
        ffprobe(file("m.avi"), "stream=codec_name,codec_tag_string,r_frame_rate,nb_read_frames"),
        "mjpeg,MJPG,15/1,30");
  }
  SKIP_WITHOUT_TOOL("pnmfile");
  // Thumbs: 3 cells of 48 and 4 pixel margins; cells 36 high at 4:3.
  for (auto [name, size] : {std::pair{"s.ppm", "160 by 120"}, std::pair{"t.ppm", "160 by 84"},
                            std::pair{"frames/frame_00002.pnm", "160 by 120"}})
    EXPECT_TRUE(has(runCommand(std::string("pnmfile '") + file(name) + "'").output, size)) << name;
}

// Each mistake fails at once with one line naming the argument or file and
// the reason (usage errors exit 2, failures 1), and no input is touched.
TEST_F(MediaToolTest, MistakesFailAtOnceAndNeverTouchAnInput) {
  std::string const clip = file("s.avi");
  ASSERT_EQ(0, record("s.avi", {"--frames", "5", "-q"}).status);
  std::ofstream(file("junk.avi")) << "not a RIFF file at all";
  std::ofstream(file("empty.y4m")) << "YUV4MPEG2 W8 H8 F25:1\n";
  std::filesystem::create_symlink(clip, file("link.avi"));
  std::filesystem::create_hard_link(clip, file("hard.avi"));
  std::string const clip_bytes = readFile(clip);

  char const* usage = "Usage: media-tool";
  char const* same = "is the same file as the input";
  std::vector<std::tuple<std::vector<std::string>, int, std::string>> const cases = {
      {{}, 2, usage},
      {{"record", "synthetic", "x.mp4"}, 2, usage},
      {{"record", "synthetic", "x.avi", "--realtime", "--fast"}, 2, usage},
      {{"record", "screen:abc", file("x.avi")}, 2, "screen:abc: the id must be a number"},
      {{"record", "synthetic", file("z.avi"), "--frames", "0"}, 2, "--frames: must be at least 1"},
      {{"record", "synthetic", file("z.y4m"), "--codec", "mjpeg"}, 2, "needs an .avi OUTPUT"},
      {{"convert", clip, file("o.y4m"), "--size", "320x240"}, 2, "frames can only be shrunk"},
      {{"thumbs", clip, file("t.ppm"), "--grid", "100x100"}, 2, "the limit is 64 megapixels"},
      {{"info", file("missing.avi")}, 1, file("missing.avi") + ": No such file"},
      {{"snapshot", clip, file("s.ppm"), "--frame", "1000"}, 1, clip + ": has 5 frames"},
      {{"record", "device:/no/video9", file("c.avi")}, 1, "media-tool: device:/no/video9: "},
      {{"record", "synthetic", file("no/such/dir/x.avi"), "--frames", "1"}, 1, "no/such/dir/x.avi"},
      {{"convert", clip, clip}, 1, same},
      {{"convert", clip, file("link.avi")}, 1, same},
      {{"convert", file("link.avi"), file("hard.avi")}, 1, same},
      {{"record", clip, clip}, 1, same},
      {{"convert", clip, file("o.avi"), "--graph", clip}, 1, same},
      {{"convert", file("empty.y4m"), file("e.avi")}, 1, "e.avi: no frame was written"},
  };
  for (auto const& [args, status, message] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ToolRun const run = runTool(args);
    EXPECT_EQ(status, run.status);
    EXPECT_TRUE(has(run.err, message)) << run.out << run.err;
    EXPECT_TRUE(status == 2 || std::count(run.err.begin(), run.err.end(), '\n') == 1) << run.err;
  }
  EXPECT_EQ(readFile(clip), clip_bytes);
  // Neither a source that fails before its first frame nor an empty input
  // leaves a file behind.
  EXPECT_FALSE(std::filesystem::exists(file("c.avi")) || std::filesystem::exists(file("e.avi")));
  // Just the tool's line: the reader's own log lines need -v.
  EXPECT_EQ("media-tool: " + file("junk.avi") + ": not an AVI file\n",
            runTool({"info", file("junk.avi")}).err);
  EXPECT_TRUE(has(runTool({"-v", "info", file("junk.avi")}).err, "Can't read AVI file"));
}

// A 30000/1001 file is 29.97 frames a second to info, not 29, and its copy
// states 30000/1001 again.
TEST_F(MediaToolTest, NtscRateIsReportedAndConvertedExactly) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  SKIP_WITHOUT_TOOL("ffprobe");
  commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=30000/1001 -frames:v 10 -c:v rawvideo "
      "-pix_fmt yuv420p -y '" +
      file("ntsc.avi") + "'");
  EXPECT_TRUE(
      has(runTool({"info", file("ntsc.avi")}).out, "fps: 29.97\nframes: 10\nduration: 0.333667\n"));
  ASSERT_EQ(runTool({"convert", file("ntsc.avi"), file("out.avi"), "-q"}).status, 0);
  EXPECT_EQ(ffprobe(file("out.avi"), "stream=r_frame_rate,nb_read_frames"), "30000/1001,10");
}

// Real time and no limit: only a signal ends the run, which leaves a
// playable file. The progress line, on a terminal, says when frames flow.
TEST_F(MediaToolTest, SignalsEndARunWithAPlayableFile) {
  for (auto [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}}) {
    SCOPED_TRACE(signal);
    ToolRun const run =
        record("cut.avi", {"--realtime", "--duration", "3600"}, true, "frame 3", signal);
    EXPECT_TRUE(run.status == status && has(run.out, "interrupted")) << run.out;
    int const frames = infoJson(file("cut.avi"))["frames"].get<int>();
    EXPECT_GE(frames, 3);
    EXPECT_TRUE(!haveTool("ffprobe") || frames == ffprobeFrameCount(file("cut.avi"))) << frames;
  }
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

// Without a display the viewer fails at once; under Xvfb its window is
// listed, recorded, and closed by a q key press.
TEST_F(MediaToolTest, ViewShowsAWindowThatScreensListsRecordCapturesAndQCloses) {
  char const* display = getenv("DISPLAY");
  std::string const saved = display ? display : "";
  unsetenv("DISPLAY");
  ToolRun const headless = runTool({"view", "synthetic", "--frames", "1"});
  EXPECT_TRUE(headless.status == 1 && has(headless.err, "X display")) << headless.err;

  dravo::testing::XvfbServer server;
  std::string error;
  if (server.start("640x480x24", &error)) {
    setenv("DISPLAY", server.display().c_str(), 1);
    // An empty black desktop still has its display; wrong ids fail at once.
    EXPECT_EQ("screen:0\n", runTool({"screens"}).out);
    ToolRun const no_window = runTool({"record", "window:12345", file("n.avi")});
    EXPECT_TRUE(no_window.status == 1 && has(no_window.err, "window:12345: no window with id"))
        << no_window.err;
    auto [viewer, id] = startViewer();
    EXPECT_EQ(0, runTool({"record", "window:" + id, file("w.avi"), "--frames", "3"}).status);
    nlohmann::json const info = infoJson(file("w.avi"));
    EXPECT_EQ(std::make_tuple(3, 640), std::make_tuple(info["frames"], info["width"]));
    // A key pressed before the viewer listens for keys is lost: q again
    // every second until the viewer is gone.
    int status = 0;
    bool gone = false;
    for (int poll = 0; poll < 3000 && !gone && !id.empty(); ++poll) {
      EXPECT_TRUE(poll % 100 || testing::pressQ(id));
      usleep(10'000);
      gone = waitpid(viewer, &status, WNOHANG) == viewer;
    }
    if (!gone) kill(viewer, SIGKILL), waitpid(viewer, &status, 0);
    EXPECT_EQ(0, testing::statusOf(status));
  }
  saved.empty() ? unsetenv("DISPLAY") : setenv("DISPLAY", saved.c_str(), 1);
  if (!error.empty()) GTEST_SKIP() << error;
}

}  // namespace
}  // namespace dravo::tool
