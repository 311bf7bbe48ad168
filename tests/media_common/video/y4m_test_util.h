#pragma once
// Y4M files built in memory for the Y4M reader and file-source tests.

#include <string>
#include <vector>

#include "tests/media_common/video/avi_test_util.h"

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

}  // namespace dravo::media::y4m_testing
