#pragma once
// Helpers for the Y4M, file-source and PNM tests: Y4M files built in memory,
// and running ffmpeg for reference decodes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/file.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/support/tool_checks.h"

namespace dravo::media::y4m_testing {

// A Y4M stream of `width` x `height` frames made by avi_testing::makeFrame
// from `seeds`, with `header_tail` after the size tokens.
inline std::string y4mStream(int width, int height, std::vector<int> const& seeds,
                             std::string const& header_tail = " F25:1") {
  std::string stream =
      "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + header_tail + "\n";
  for (int seed : seeds)
    stream += "FRAME\n" + avi_testing::packedI420(*avi_testing::makeFrame(width, height, seed));
  return stream;
}

// ffmpeg's decode of `path` as packed yuv420p frames of `width` x `height`.
inline std::vector<std::string> ffmpegI420Frames(std::string const& path, int width, int height) {
  std::string const raw = ::dravo::testing::commandOutput("ffmpeg -v error -i '" + path +
                                                          "' -f rawvideo -pix_fmt yuv420p -");
  size_t const frame_bytes =
      size_t(width) * height + 2 * size_t((width + 1) / 2) * ((height + 1) / 2);
  std::vector<std::string> frames;
  for (size_t at = 0; at + frame_bytes <= raw.size(); at += frame_bytes)
    frames.push_back(raw.substr(at, frame_bytes));
  EXPECT_EQ(raw.size() % frame_bytes, 0u) << path;
  return frames;
}

}  // namespace dravo::media::y4m_testing
