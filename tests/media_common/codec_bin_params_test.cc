#include "media_common/codec_bin_params.h"

#include <gtest/gtest.h>

#include "tests/support/capture.h"

namespace dravo::media {
namespace {

TEST(CodecBinParamsTest, NamesComeFromTheChannelKeysOrderByNameThenCodecGapsAreReported) {
  CodecBinParams video(ChannelDescription("cam", CTYPE_VIDEO, "h264"), nullptr, "id1");
  EXPECT_EQ(video.getDecoderName(), "id1/decoder/cam/h264");
  EXPECT_EQ(video.getEncoderName(), "encoder/cam/h264");
  EXPECT_EQ(video.getSourceName(), "video_source/cam");
  EXPECT_EQ(video.getSinkName(), "video_sink/id1/cam");
  EXPECT_EQ(video.getKey().toKeyString(), " channel cam with codec h264");
  CodecBinParams audio(ChannelDescription("mic", CTYPE_AUDIO, "opus"), nullptr, "id2");
  EXPECT_EQ(audio.getSinkName(), "mic");  // audio sinks are named by the channel alone

  using Key = CodecBinParams::KeyType;
  EXPECT_TRUE(Key("a", "z") < Key("b", "a") && Key("a", "h264") < Key("a", "vp8"));
  EXPECT_FALSE(Key("b", "a") < Key("a", "z") || Key("a", "vp8") < Key("a", "vp8"));

  // Incomplete channels are reported.
  testing::LogCapture log;
  CodecBinParams params(ChannelDescription("", "data", ""), nullptr, "id");
  EXPECT_EQ(log.messages("codec_bin_params"),
            (std::vector<std::string>{"Channel has empty name!", "Channel has empty codec!"}));
  testing::AssertionCapture assertions;
  params.getSinkName();  // neither video nor audio
  ASSERT_EQ(assertions.messages().size(), 1u);
  EXPECT_NE(assertions.messages()[0].find("type_ == CTYPE_AUDIO"), std::string::npos);
}

}  // namespace
}  // namespace dravo::media
