// media-tool on a Wayland-like session: screens lists the portal's entries,
// and recording screen:portal writes the test portal's pictures to a file
// that ffprobe counts and ffmpeg decodes to those pictures.

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "tests/support/portal_test_session.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"
#include "tests/tools/tool_process.h"

namespace dravo::tool {
namespace {

using testing::runTool;
using testing::ToolRun;

// The mean difference per colour sample between an RGB24 picture and frame
// `n` of the test portal's picture.
double meanDifference(std::string const& rgb, dravo::testing::TestPicture const& picture,
                      uint64_t n) {
  double total = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      uint32_t const expected = dravo::testing::testPictureRgb(picture, n, x, y);
      auto const* got = reinterpret_cast<uint8_t const*>(rgb.data()) + (y * picture.width + x) * 3;
      for (int c = 0; c < 3; ++c)
        total += std::abs(int(got[c]) - int((expected >> (16 - 8 * c)) & 0xff));
    }
  return total / (picture.width * picture.height * 3.0);
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
  // colours: its best match is close, any other picture is far.
  dravo::testing::TestPicture const picture;
  std::string const rgb = dravo::testing::commandOutput(
      "ffmpeg -v error -i '" + path + "' -vf reverse -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), size_t(picture.width) * picture.height * 3);
  double best = std::numeric_limits<double>::max();
  uint64_t const produced = session.portal().seen().frames;
  for (uint64_t n = 0; n < produced; ++n) best = std::min(best, meanDifference(rgb, picture, n));
  EXPECT_LT(best, 3.0);
}

}  // namespace
}  // namespace dravo::tool
