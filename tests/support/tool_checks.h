#pragma once
// Checking our files against the real tools (ffmpeg, ffprobe, sox, netpbm)
// from tests: running a shell command and collecting its standard output,
// skipping when a tool is missing, and the answers of ffmpeg and ffprobe the
// tests compare with.

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/file.h"
#include "common/string_util.h"

// Skips the current test when `tool` is not on the PATH.
#define SKIP_WITHOUT_TOOL(tool)          \
  if (!::dravo::testing::haveTool(tool)) \
  GTEST_SKIP() << tool " is not installed; interoperability not tested"

namespace dravo::testing {

struct CommandResult {
  int exit_code = -1;
  std::string output;  // standard output only; stderr goes to the test log
};

inline CommandResult runCommand(std::string const& command) {
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[65536];
  for (size_t count; (count = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    result.output.append(buffer, count);
  int const status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Whether `tool` is found on the PATH.
inline bool haveTool(std::string const& tool) {
  return runCommand("command -v '" + tool + "' >/dev/null 2>&1").exit_code == 0;
}

// Standard output of `command`, which is expected to succeed.
inline std::string commandOutput(std::string const& command) {
  auto result = runCommand(command);
  EXPECT_EQ(result.exit_code, 0) << command;
  return result.output;
}

// The MD5 column of ffmpeg's framemd5 output for `input_args` (e.g.
// "-i 'clip.avi'").
inline std::vector<std::string> ffmpegFrameMd5s(std::string const& input_args) {
  std::vector<std::string> md5s;
  for (std::string const& line :
       SplitString(commandOutput("ffmpeg -v error " + input_args + " -f framemd5 -"), "\n",
                   kSplitSkipEmpty))
    if (line[0] != '#') md5s.push_back(line.substr(line.rfind(' ') + 1));
  return md5s;
}

// ffmpeg's decode of `path` as packed yuv420p frames of `width` x `height`.
inline std::vector<std::string> ffmpegI420Frames(std::string const& path, int width, int height) {
  std::string const raw =
      commandOutput("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt yuv420p -");
  size_t const frame_bytes =
      size_t(width) * height + 2 * size_t((width + 1) / 2) * ((height + 1) / 2);
  std::vector<std::string> frames;
  for (size_t at = 0; at + frame_bytes <= raw.size(); at += frame_bytes)
    frames.push_back(raw.substr(at, frame_bytes));
  EXPECT_EQ(raw.size() % frame_bytes, 0u) << path;
  return frames;
}

// Expects ffprobe to find `frames.size()` frames of `width` x `height` at
// `rate` in the video file `path`, and ffmpeg to decode them to `frames`
// (packed yuv420p each): the per-frame MD5s of the file must equal those of
// the same bytes given to ffmpeg as raw video (written next to `path`).
inline void expectFfmpegPlays(std::string const& path, int width, int height,
                              std::string const& rate, std::vector<std::string> const& frames) {
  SCOPED_TRACE(path);
  std::string const size = std::to_string(width) + "x" + std::to_string(height);
  EXPECT_EQ(commandOutput("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                          "stream=width,height,r_frame_rate,nb_read_frames -of csv=p=0 '" +
                          path + "'"),
            std::to_string(width) + "," + std::to_string(height) + "," + rate + "," +
                std::to_string(frames.size()) + "\n");
  std::string raw;
  for (std::string const& frame : frames) raw += frame;
  ASSERT_TRUE(File::writeStringToFile(path + ".yuv", raw));
  std::vector<std::string> const expected =
      ffmpegFrameMd5s("-f rawvideo -pix_fmt yuv420p -s " + size + " -i '" + path + ".yuv'");
  ASSERT_EQ(expected.size(), frames.size());
  EXPECT_EQ(ffmpegFrameMd5s("-i '" + path + "' -pix_fmt yuv420p"), expected);
}

// The number of video frames ffprobe decodes from `path`, or -1 when it
// refuses the file.
inline int ffprobeFrameCount(std::string const& path) {
  auto probe = runCommand(
      "ffprobe -v error -count_frames -select_streams v:0 "
      "-show_entries stream=nb_read_frames -of csv=p=0 '" +
      path + "'");
  return probe.exit_code == 0 ? std::atoi(probe.output.c_str()) : -1;
}

}  // namespace dravo::testing
