#pragma once
// Checking our files against the real tools (ffmpeg, ffprobe, sox, netpbm)
// from tests: skipping when a tool is missing, running a command that must
// succeed, and the answers of ffmpeg and ffprobe the tests compare with.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/run_command.h"

// Skips the current test when `tool` is not on the PATH.
#define SKIP_WITHOUT_TOOL(tool)          \
  if (!::dravo::testing::haveTool(tool)) \
  GTEST_SKIP() << tool " is not installed; interoperability not tested"

namespace dravo::testing {

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
  std::string const text = commandOutput("ffmpeg -v error " + input_args + " -f framemd5 -");
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string const line = text.substr(start, end - start);
    if (!line.empty() && line[0] != '#') md5s.push_back(line.substr(line.rfind(' ') + 1));
    start = end + 1;
  }
  return md5s;
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
