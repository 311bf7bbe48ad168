// media-tool on a Wayland-like session: screens lists the portal's entries,
// and recording screen:portal writes the test portal's pictures to a file
// that ffprobe counts.

#include <gtest/gtest.h>

#include "tests/support/portal_test_session.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"
#include "tests/tools/tool_process.h"

namespace dravo::tool {
namespace {

using testing::runTool;
using testing::ToolRun;

TEST(ScreenPortalRecordTest, ScreensNamesThePortalAndRecordWritesItsPictures) {
  dravo::testing::PortalTestSession session;
  ASSERT_EQ(session.error(), "");
  ToolRun const screens = runTool({"screens"});
  EXPECT_NE(screens.out.find("screen:portal\n"), std::string::npos) << screens.out;
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
}

}  // namespace
}  // namespace dravo::tool
