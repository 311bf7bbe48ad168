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

// Sample formats named as ffmpeg names them; frames counted by their size.
TEST_F(MediaToolTest, InfoDescribesWavFilesFromSox) {
  SKIP_WITHOUT_TOOL("sox");
  for (auto [encoding, format] : {std::pair{"-b 16", "pcm_s16le"},
                                  {"-b 8", "pcm_u8"},
                                  {"-b 24", "pcm_s24le"},
                                  {"-e floating-point -b 32", "pcm_f32le"}}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(0, runCommand("sox -n -r 8000 -c 2 " + std::string(encoding) + " '" + file("t.wav") +
                            "' synth 0.5 sine 440")
                     .exit_code);
    nlohmann::json const info = infoJson(file("t.wav"));
    EXPECT_EQ(std::make_tuple(format, 2, 8000, 4000, 0.5),
              std::make_tuple(info["format"], info["channels"], info["sample_rate"],
                              info["samples"], info["duration"]));
  }
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
  // A source that fails before its first frame leaves no empty file.
  EXPECT_FALSE(std::filesystem::exists(file("c.avi")));
  // Just the tool's line: the reader's own log lines need -v.
  EXPECT_EQ("media-tool: " + file("junk.avi") + ": not an AVI file\n",
            runTool({"info", file("junk.avi")}).err);
}

// ffmpeg's answer for the first video stream of `path`: the values of
// `entries` (e.g. "stream=r_frame_rate"), comma-separated.
std::string ffprobe(std::string const& path, std::string const& entries) {
  std::string out = commandOutput(
      "ffprobe -v error -select_streams v:0 -count_frames "
      "-show_entries " +
      entries + " -of csv=p=0 '" + path + "'");
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

// Each everyday mistake fails at once with one line naming the argument or
// file and the reason, and no input is ever touched.
TEST_F(MediaToolTest, EverydayMistakesFailAtOnceAndNeverTouchAnInput) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  std::string const small = file("small.y4m");
  std::string const clip = file("s.avi");
  commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=25 -frames:v 30 -pix_fmt yuv420p -y "
      "'" +
      small + "'");
  commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -frames:v 5 -c:v "
      "rawvideo -pix_fmt yuv420p -y '" +
      clip + "'");
  commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=16x16 -frames:v 1 -pix_fmt yuv420p10le "
      "-strict -1 -f yuv4mpegpipe -y '" +
      file("p10.y4m") + "'");
  std::ofstream(file("empty.y4m")) << "YUV4MPEG2 W8 H8 F25:1\n";
  std::filesystem::create_symlink(clip, file("link.avi"));
  std::filesystem::create_hard_link(clip, file("hard.avi"));
  std::string const small_bytes = readFile(small);
  std::string const clip_bytes = readFile(clip);

  char const* same = "is the same file as the input";
  std::vector<std::tuple<std::vector<std::string>, int, std::string>> const cases = {
      {{"record", "screen:abc", file("x.avi")}, 2, "screen:abc: the id must be a number"},
      {{"record", "window:abc", file("x.avi")}, 2, "window:abc: the id must be a number"},
      {{"record", "synthetic", file("z.avi"), "--frames", "0"}, 2, "--frames: must be at least 1"},
      {{"record", "synthetic", file("z.avi"), "--frames", "-1"}, 2, "must be at least 1, got -1"},
      {{"record", "synthetic", file("z.avi"), "--fps", "0"}, 2, "--fps: must be greater than 0"},
      {{"record", "synthetic", file("z.avi"), "--duration", "0"}, 2, "--duration: must be greater"},
      {{"record", "synthetic", file("z.y4m"), "--codec", "mjpeg"}, 2, "needs an .avi OUTPUT"},
      {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
      {{"--version"}, 0, "media-tool 0.1.0\n"},
      {{"snapshot", small, file("s.ppm"), "--frame", "1000"}, 1, small + ": has 30 frames"},
      {{"convert", small, file("o.y4m"), "--size", "1280x960"}, 2, "frames can only be shrunk"},
      {{"convert", small, file("o.y4m"), "--size", "640x120"}, 2, "frames can only be shrunk"},
      {{"thumbs", small, file("t.ppm"), "--grid", "100x100"}, 2, "the limit is 64 megapixels"},
      {{"info", file("p10.y4m")}, 1, "unsupported Y4M colour space 'C420p10'"},
      {{"convert", clip, clip}, 1, same},
      {{"convert", clip, file("link.avi")}, 1, same},
      {{"convert", file("link.avi"), file("hard.avi")}, 1, same},
      {{"convert", clip, file("sub/../s.avi")}, 1, same},
      {{"record", clip, clip}, 1, same},
      {{"convert", small, file("o.avi"), "--graph", small}, 1, same},
      {{"snapshot", small, small}, 1, same},
      {{"thumbs", clip, clip}, 1, same},
      {{"convert", file("empty.y4m"), file("e.avi")}, 1, "e.avi: no frame was written"},
  };
  std::filesystem::create_directory(file("sub"));
  for (auto const& [args, status, message] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ToolRun const run = runTool(args);
    EXPECT_EQ(status, run.status);
    EXPECT_TRUE(has(run.out + run.err, message)) << run.out << run.err;
    if (status == 1) {
      EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
  }
  EXPECT_EQ(readFile(small), small_bytes);
  EXPECT_EQ(readFile(clip), clip_bytes);
  // The empty result is said and not left behind.
  EXPECT_FALSE(std::filesystem::exists(file("e.avi")));
  EXPECT_TRUE(has(runTool({"convert", file("empty.y4m"), file("e.y4m")}).out, "nothing written"));
}

// What the tool writes states the source's true rate, for ffmpeg and for
// `info`; 4:2:2, 4:4:4 and mono Y4M files convert with every frame.
TEST_F(MediaToolTest, WrittenFilesPlayAtTheSourceRate) {
  SKIP_WITHOUT_TOOL("ffprobe");
  ASSERT_EQ(0, record("f60.avi", {"--fps", "60", "--duration", "1", "-q"}).status);
  ASSERT_EQ(0, record("f24.avi", {"--fps", "24", "--frames", "24", "-q"}).status);
  ASSERT_EQ(0, record("ntsc.avi", {"--fps", "29.97", "--frames", "30", "-q"}).status);
  ASSERT_EQ(0, record("ntsc.y4m", {"--fps", "29.97", "--frames", "30", "-q"}).status);
  EXPECT_EQ(ffprobe(file("f60.avi"), "stream=r_frame_rate,nb_read_frames:format=duration"),
            "60/1,60\n1.000000");
  EXPECT_EQ(ffprobe(file("f24.avi"), "stream=r_frame_rate"), "24/1");
  for (char const* name : {"ntsc.avi", "ntsc.y4m"})
    EXPECT_EQ(ffprobe(file(name), "stream=r_frame_rate"), "30000/1001") << name;
  EXPECT_TRUE(has(runTool({"info", file("ntsc.y4m")}).out, "fps: 29.97\n"));

  for (char const* pixel_format : {"yuv420p", "yuv422p", "yuv444p", "gray"}) {
    SCOPED_TRACE(pixel_format);
    commandOutput("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 12 -pix_fmt " +
                  std::string(pixel_format) + " -y '" + file("in.y4m") + "'");
    ASSERT_EQ(0, runTool({"convert", file("in.y4m"), file("out.avi"), "-q"}).status);
    ASSERT_EQ(0, runTool({"convert", file("in.y4m"), file("out.y4m"), "-q"}).status);
    EXPECT_EQ(ffprobe(file("out.avi"), "stream=r_frame_rate,nb_read_frames"), "25/1,12");
    EXPECT_EQ(ffprobe(file("out.y4m"), "stream=r_frame_rate,nb_read_frames"), "25/1,12");
  }
}

// MJPEG goes through the library's JPEG conversion into an "MJPG" stream
// that ffmpeg and our own reader play.
TEST_F(MediaToolTest, MjpegRecordingIsSmallAndPlays) {
  ASSERT_EQ(0, record("raw.avi", {"--frames", "10", "-q"}).status);
  ASSERT_EQ(
      0, record("m.avi", {"--frames", "10", "--codec", "mjpeg", "--quality", "60", "-q"}).status);
  EXPECT_LT(4 * std::filesystem::file_size(file("m.avi")),
            std::filesystem::file_size(file("raw.avi")));
  nlohmann::json const info = infoJson(file("m.avi"));
  EXPECT_EQ(std::make_tuple("MJPG", 10, 160),
            std::make_tuple(info["format"], info["frames"], info["width"]));
  ASSERT_EQ(0, runTool({"convert", file("m.avi"), file("back.y4m"), "-q"}).status);
  EXPECT_EQ(10, infoJson(file("back.y4m"))["frames"]);
  EXPECT_EQ(2, runTool({"record", "synthetic", file("q.avi"), "--quality", "101"}).status);
  SKIP_WITHOUT_TOOL("ffprobe");
  EXPECT_EQ(ffprobe(file("m.avi"), "stream=codec_name,codec_tag_string,nb_read_frames"),
            "mjpeg,MJPG,10");
}

TEST_F(MediaToolTest, ProgressLineOnlyOnATerminalAndCtrlCLeavesAPlayableFile) {
  EXPECT_FALSE(has(record("p.avi", {"--frames", "30"}).err, "frame "));
  ToolRun const terminal = record("t.avi", {"--frames", "30"}, true);
  EXPECT_TRUE(terminal.status == 0 && has(terminal.out, "frame 30/30")) << terminal.out;

  // Real time and no limit: only the interrupt ends it. The progress line
  // says when frames are flowing.
  // SIGTERM, as a service manager sends, ends it the same way with 143.
  for (auto [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}}) {
    SCOPED_TRACE(signal);
    ToolRun const run =
        record("cut.avi", {"--realtime", "--duration", "3600"}, true, "frame 3", signal);
    EXPECT_TRUE(run.status == status && has(run.out, "interrupted")) << run.out;
    int const frames = infoJson(file("cut.avi"))["frames"].get<int>();
    EXPECT_GE(frames, 3);
    if (haveTool("ffprobe")) {
      EXPECT_EQ(frames, ffprobeFrameCount(file("cut.avi")));
    }
  }
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
    // An empty black desktop still has its display; wrong ids fail at once.
    EXPECT_EQ("screen:0\n", runTool({"screens"}).out);
    ToolRun const no_window = runTool({"record", "window:12345", file("n.avi")});
    EXPECT_TRUE(no_window.status == 1 &&
                has(no_window.err, "window:12345: no window with id 12345"))
        << no_window.err;
    EXPECT_EQ(1, runTool({"record", "screen:7", file("n.avi")}).status);
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
