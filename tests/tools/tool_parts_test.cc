// The pieces of media-tool that have rules of their own: source and output
// forms, size parsing, graph escaping, the progress text and the choice of
// contact-sheet frames.

#include <gtest/gtest.h>

#include "tools/commands.h"
#include "tools/contact_sheet.h"
#include "tools/endpoints.h"
#include "tools/pipeline_graph.h"
#include "tools/progress_line.h"
#include "tools/tool_error.h"

namespace dravo::tool {
namespace {

TEST(ToolPartsTest, SourceOutputAndSizeForms) {
  EXPECT_TRUE(parseSourceSpec("screen:1").live);
  EXPECT_EQ("usb-1:2", parseSourceSpec("device:usb-1:2").argument);
  EXPECT_EQ(SinkKind::AVI, parseSinkSpec("OUT.AVI").kind);
  int width = 0, height = 0;
  parseSize("640x480", &width, &height);
  EXPECT_EQ(std::make_pair(640, 480), std::make_pair(width, height));
  for (char const* bad : {"window", "synthetic:3", ""})
    EXPECT_THROW(parseSourceSpec(bad), ToolError) << bad;
  for (char const* bad : {"pnm:", "avi"}) EXPECT_THROW(parseSinkSpec(bad), ToolError) << bad;
  for (char const* bad : {"640", "0x10", "-1x5", "640x480x3", "x", "123456x1"})
    EXPECT_THROW(parseSize(bad, &width, &height), ToolError) << bad;
}

TEST(ToolPartsTest, GraphQuotesNamesAndEscapesRecordLabels) {
  PipelineDescription pipeline;
  pipeline.elements.push_back(
      {"src", "Source", "s1", {{"name", "a|b {c} <d> \"e\""}}, {}, {"out"}});
  pipeline.elements.push_back({"sink", "Sink", "s2", {}, {"in"}, {}});
  std::string const dot = toDot(pipeline);
  EXPECT_NE(std::string::npos, dot.find(R"(a\|b\ \{c\}\ \<d\>\ \"e\")"));
  // One cluster per scheduler.
  EXPECT_NE(std::string::npos, dot.find("cluster_1"));
  EXPECT_EQ(std::string::npos, dot.find("cluster_2"));
}

TEST(ToolPartsTest, ProgressTextAndContactSheetFrames) {
  EXPECT_EQ("frame 50/200  100.0 fps  elapsed 0:00.5  remaining 0:01.5",
            ProgressLine::format(50, 200, Duration::fromMSec(500)));
  EXPECT_EQ("frame 7  3.5 fps  elapsed 0:02.0", ProgressLine::format(7, -1, Duration::fromSec(2)));
  // Contact-sheet frames are spread evenly.
  EXPECT_EQ((std::vector<int64_t>{0, 25, 50, 75}), contactSheetIndices(100, 4));
  EXPECT_EQ((std::vector<int64_t>{0, 1, 2}), contactSheetIndices(3, 16));
}

}  // namespace
}  // namespace dravo::tool
