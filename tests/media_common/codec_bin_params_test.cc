#include "media_common/codec_bin_params.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/support/capture.h"

namespace dravo::media {
namespace {

TEST(CodecBinParamsTest, NamesComeFromTheChannel) {
  CodecBinParams video(ChannelDescription("cam", CTYPE_VIDEO, "h264"), nullptr, "id1");
  EXPECT_EQ(video.getDecoderName(), "id1/decoder/cam/h264");
  EXPECT_EQ(video.getEncoderName(), "encoder/cam/h264");
  EXPECT_EQ(video.getSinkName(), "video_sink/id1/cam");
  EXPECT_EQ(video.getSourceName(), "video_source/cam");
  EXPECT_EQ(video.getKey(), CodecBinParams::KeyType("cam", "h264"));
  EXPECT_EQ(video.getKey().toKeyString(), " channel cam with codec h264");
  EXPECT_EQ(video.getIdentifier(), "id1");

  CodecBinParams audio(ChannelDescription("mic", CTYPE_AUDIO, "opus"), nullptr, "id2");
  EXPECT_EQ(audio.getSinkName(), "mic");
  EXPECT_EQ(audio.getSourceName(), "audio_source/mic");
  EXPECT_EQ(audio.getDecoderName(), "id2/decoder/mic/opus");
}

TEST(CodecBinParamsTest, IncompleteChannelsAreReported) {
  testing::LogCapture log;
  CodecBinParams params(ChannelDescription("", "data", ""), nullptr, "id");
  EXPECT_EQ(log.messages("codec_bin_params"),
            (std::vector<std::string>{"Channel has empty name!", "Channel has empty codec!"}));
  testing::AssertionCapture assertions;
  params.getSinkName();  // neither video nor audio
  ASSERT_EQ(assertions.messages().size(), 1u);
  EXPECT_NE(assertions.messages()[0].find("type_ == CTYPE_AUDIO"), std::string::npos);
}

TEST(CodecBinParamsTest, KeysOrderByNameThenCodec) {
  using Key = CodecBinParams::KeyType;
  EXPECT_TRUE(Key("a", "z") < Key("b", "a"));
  EXPECT_FALSE(Key("b", "a") < Key("a", "z"));
  EXPECT_TRUE(Key("a", "h264") < Key("a", "vp8"));
  EXPECT_FALSE(Key("a", "vp8") < Key("a", "vp8"));

  std::map<Key, int> bins;
  bins[Key("cam", "vp8")] = 1;
  bins[Key("cam", "h264")] = 2;
  bins[Key("cam", "vp8")] = 3;
  ASSERT_EQ(bins.size(), 2u);
  EXPECT_EQ(bins.begin()->second, 2);
}

}  // namespace
}  // namespace dravo::media
