// `media-tool info` and `convert` on AVI files: the rate a file states,
// exactly, and what info says of recordings that continue past one RIFF list
// or are cut short.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "media_common/video/avi_file_writer.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/tool_checks.h"
#include "tests/tools/tool_process.h"

namespace dravo::tool {
namespace {

using testing::runTool;

nlohmann::json infoJson(std::string const& path) {
  auto const run = runTool({"info", path, "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  return nlohmann::json::parse(run.out);
}

// A 30000/1001 file is 29.97 frames a second to info, not 29, and its copy
// states 30000/1001 again.
TEST(MediaInfoAviTest, NtscRateIsReportedAndConvertedExactly) {
  SKIP_WITHOUT_TOOL("ffmpeg");
  SKIP_WITHOUT_TOOL("ffprobe");
  dravo::testing::ScopedTempDir dir;
  std::string const in = dir.file("ntsc.avi");
  dravo::testing::commandOutput(
      "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=30000/1001 -frames:v 10 -c:v rawvideo "
      "-pix_fmt yuv420p -y '" +
      in + "'");
  auto const text = runTool({"info", in});
  EXPECT_NE(text.out.find("fps: 29.97\nframes: 10\nduration: 0.333667\n"), std::string::npos)
      << text.out;
  EXPECT_EQ(infoJson(in)["fps"], 29.97);
  ASSERT_EQ(runTool({"convert", in, dir.file("out.avi"), "-q"}).status, 0);
  EXPECT_EQ(dravo::testing::commandOutput(
                "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                "stream=r_frame_rate,nb_read_frames -of csv=p=0 '" +
                dir.file("out.avi") + "'"),
            "30000/1001,10\n");
}

// A recording over four RIFF lists, whole and cut inside its last frame.
TEST(MediaInfoAviTest, ReportsRiffListsAndTruncation) {
  dravo::testing::ScopedTempDir dir;
  std::string const path = dir.file("long.avi");
  {
    media::AVIFileWriter writer;
    writer.setRiffSizeLimit(48000);  // three 160x60 frames a list
    writer.openFile(path);
    for (int i = 0; i < 12; ++i)
      writer.writeFrame(media::avi_testing::makeFrame(160, 60, i, 40 * i));
  }
  nlohmann::json const whole = infoJson(path);
  EXPECT_EQ(std::make_tuple(12, 4, 12, false),
            std::make_tuple(whole["frames"], whole["opendml_segments"], whole["opendml_frames"],
                            whole.contains("truncated")));
  std::string const bytes = media::avi_testing::contentsOf(path);
  std::string const cut = dir.file("cut.avi");
  // Only the index and timestamps, 272 bytes, follow the last 14408-byte frame.
  ASSERT_TRUE(File::writeStringToFile(cut, bytes.substr(0, bytes.size() - 8000)));
  nlohmann::json const partial = infoJson(cut);
  EXPECT_EQ(std::make_tuple(11, 4, true),
            std::make_tuple(partial["frames"], partial["opendml_segments"], partial["truncated"]));
}

}  // namespace
}  // namespace dravo::tool
