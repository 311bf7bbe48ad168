// media-tool on a Wayland-like session: screens lists the portal's entries,
// and recording screen:portal writes the test portal's pictures to a file
// that ffprobe counts and ffmpeg decodes to those pictures.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/support/portal_test_session.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"
#include "tests/tools/tool_process.h"

namespace dravo::tool {
namespace {

using testing::runTool;
using testing::ToolRun;

// The largest difference, over 8x8 blocks and colours, between the block
// averages of an RGB24 picture and of frame `n` of the test portal's
// picture: I420 keeps block colours, not sharp edges.
double blockDifference(std::string const& rgb, dravo::testing::TestPicture const& picture,
                       uint64_t n) {
  double worst = 0;
  for (int by = 0; by < picture.height; by += 8)
    for (int bx = 0; bx < picture.width; bx += 8)
      for (int c = 0; c < 3; ++c) {
        double got = 0;
        double expected = 0;
        for (int y = by; y < by + 8; ++y)
          for (int x = bx; x < bx + 8; ++x) {
            got += uint8_t(rgb[size_t(y * picture.width + x) * 3 + c]);
            expected += (dravo::testing::testPictureRgb(picture, n, x, y) >> (16 - 8 * c)) & 0xff;
          }
        worst = std::max(worst, std::abs(got - expected) / 64);
      }
  return worst;
}

TEST(ScreenPortalRecordTest, ScreensNamesThePortalAndRecordWritesItsPictures) {
  dravo::testing::PortalTestSession session;
  ASSERT_EQ(session.error(), "");
  ToolRun const screens = runTool({"screens"});
  EXPECT_EQ(screens.status, 0) << screens.err;
  EXPECT_NE(screens.out.find("screen:portal\n"), std::string::npos) << screens.out;
  EXPECT_NE(screens.out.find("window:portal\t"), std::string::npos) << screens.out;
  EXPECT_NE(screens.out.find("Wayland"), std::string::npos) << screens.out;
  dravo::testing::ScopedTempDir dir;
  ToolRun const wrong = runTool({"record", "screen:0", dir.file("wrong.avi")});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("screen:0: on Wayland"), std::string::npos) << wrong.err;

  std::string const path = dir.file("screen.avi");
  ToolRun const run = runTool({"record", "screen:portal", path, "--duration", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  // Ten pictures a second by default; a loaded machine may lose a few.
  int const frames = dravo::testing::ffprobeFrameCount(path);
  EXPECT_GE(frames, 12);
  EXPECT_LE(frames, 21);

  // The last frame is one of the producer's pictures, as far as I420 keeps
  // colours: one of them matches it closely, all others are far off.
  dravo::testing::TestPicture const picture;
  std::string const rgb = dravo::testing::commandOutput(
      "ffmpeg -v error -i '" + path + "' -vf reverse -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), size_t(picture.width) * picture.height * 3);
  uint64_t const produced = session.portal().seen().frames;
  std::vector<double> differences;
  for (uint64_t n = 0; n < produced; ++n) differences.push_back(blockDifference(rgb, picture, n));
  std::sort(differences.begin(), differences.end());
  ASSERT_GE(differences.size(), 2u);
  EXPECT_LT(differences[0], 24.0);  // saturated edges lose the most
  EXPECT_GT(differences[1], 48.0);  // a square or pointer out of place
}

}  // namespace
}  // namespace dravo::tool
