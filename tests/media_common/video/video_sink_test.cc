// The sinks: the AVI, Y4M and PNM file sinks, each judged by the files it
// makes, and the texture sink with the textures it hands out, also behind a
// video processor.

#include "media_common/video/video_sink.h"

#include <gtest/gtest.h>

#include <functional>

#include "media_common/link_handle.h"
#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/pnm_sink.h"
#include "media_common/video/screenshot_texture.h"
#include "media_common/video/video_processor.h"
#include "media_common/video/y4m_sink.h"
#include "tests/media_common/video/avi_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"
#include "tests/support/tool_checks.h"

namespace dravo::media {
namespace {

using avi_testing::contentsOf;
using avi_testing::makeFrame;
using avi_testing::packedI420;
using FramePtr = std::shared_ptr<ImageBuffer>;

// A sink made by its factory, fed by hand through an output pad on a
// hand-stepped scheduler that every call runs to the end; file sinks write
// into `dir_`.
class SinkTest : public ::testing::Test {
 protected:
  using Factory = std::function<std::shared_ptr<Sink<ImageBuffer>>(ElementArgs const&)>;
  void make(Factory const& factory) {
    sink_ = factory(ElementArgs(scheduler_, root_->getNode("sink", true)));
    feeder_->initialize(PadArgs(root_->getNode("feeder", true), scheduler_));
    link_ = LinkHandle(feeder_->link(*sink_->getInputPad()));
    scheduler_->runAll();
  }
  void TearDown() override {
    link_ = LinkHandle();
    sink_.reset();
    scheduler_->shutdown(true);
  }
  // Sets the sink's property `property` and runs the property pass.
  void set(std::string const& property, PropertyValue const& value) {
    sink_->getPropertyNode(property)->setValue(value);
    scheduler_->runAll();
  }
  void feed(FramePtr const& frame) {
    feeder_->sendBuffer(frame);
    scheduler_->runAll();
  }

  testing::ScopedTempDir dir_;
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<Sink<ImageBuffer>> sink_;
  std::shared_ptr<OutputPad<ImageBuffer>> feeder_ = std::make_shared<OutputPad<ImageBuffer>>();
  LinkHandle link_;
};

// What the video file `path` plays: its nominal rate, then each frame packed.
std::string plays(std::string const& path) {
  std::unique_ptr<VideoFileReader> reader(VideoFileReader::open(path));
  if (!reader) return "unreadable";
  std::string played = std::to_string(reader->nominalFrameRate());
  Duration duration;
  while (auto frame = reader->readFrame(&duration)) played += " " + packedI420(*frame);
  return played;
}

std::string playing(double rate, int width, int height, int seed) {
  return std::to_string(rate) + " " + packedI420(*makeFrame(width, height, seed));
}

// A video file sink made for the extension `GetParam().first`, first
// named into a missing folder; `GetParam().second` is the rate its first
// file states (AVI headers are written when a file is completed, with the
// rate set then).
class VideoFileSinkTest : public SinkTest,
                          public ::testing::WithParamInterface<std::pair<char const*, double>> {
 protected:
  VideoFileSinkTest() {
    make([this](ElementArgs const& args) { return createVideoFileSink(args, name("missing/")); });
  }
  std::string name(std::string const& folder, char const* part = "") {
    return dir_.file(folder + "rec" + part + "." + GetParam().first);
  }
};

// A file that cannot be created is logged and its frames dropped; a size
// change continues in a part file, which takes the rate set before it began.
TEST_P(VideoFileSinkTest, RecordsNamedFramesAndContinuesSizeChangesInAPartFile) {
  testing::LogCapture log("y4m_sink:2,avi_file_writer:2");
  feed(makeFrame(4, 2, 0));
  EXPECT_TRUE(log.contains("Could not create file " + name("missing/")));
  set("filename", PropertyValue(name("")));
  feed(makeFrame(4, 2, 1));
  set("frame_rate", PropertyValue(29.97));
  feed(makeFrame(6, 4, 2));
  sink_.reset();  // finalize completes the files
  EXPECT_EQ(plays(name("")), playing(GetParam().second, 4, 2, 1));
  EXPECT_EQ(plays(name("", "_part1")), playing(30000.0 / 1001, 6, 4, 2));
}

INSTANTIATE_TEST_SUITE_P(Formats, VideoFileSinkTest,
                         ::testing::Values(std::pair{"AVI", 30000.0 / 1001},
                                           std::pair{"y4m", 30.0}),
                         [](auto const& info) { return std::string(info.param.first); });

// The PNM sink counts every frame and saves those that come under a prefix.
class PNMSinkTest : public SinkTest {
 protected:
  PNMSinkTest() {
    make([](ElementArgs const& args) { return createPNMSink(args); });
  }
};

TEST_F(PNMSinkTest, NumbersEveryFrameAndSavesOnlyWithAPrefix) {
  testing::LogCapture log("pnm_sink:2");
  feed(makeFrame(6, 4, 0));
  set("prefix", PropertyValue(dir_.file("f")));
  feed(makeFrame(6, 4, 1));
  set("prefix", PropertyValue(dir_.file("missing/f")));
  feed(makeFrame(6, 4, 2));
  EXPECT_TRUE(log.contains("Could not create file " + dir_.file("missing/f_00002.pnm")));
  EXPECT_FALSE(File::exists(dir_.file("f_00000.pnm")));
  auto rgb = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_RGB24, makeFrame(6, 4, 1));
  EXPECT_EQ(contentsOf(dir_.file("f_00001.pnm")),
            "P6\n6 4 255\n" + std::string(rgb->data(), rgb->data() + 6 * 4 * 3));
  if (!testing::haveTool("pnmfile")) return;
  EXPECT_NE(testing::commandOutput("pnmfile '" + dir_.file("f_00001.pnm") + "'").find("6 by 4"),
            std::string::npos);
}

// Screenshot textures take BGRX as one plane and refuse other formats.
TEST(ScreenshotTextureTest, TakesOnePlaneOfBgrxAndRefusesOtherFormats) {
  auto bgrx = std::make_shared<ImageBuffer>(7, 3, ImageBuffer::IMAGE_BGRX32);
  EXPECT_EQ(bgrx->data(), ScreenshotTexture(bgrx, TextureId()).getBuffer(2));
  testing::AssertionCapture assertions;
  ScreenshotTexture refused(std::make_shared<ImageBuffer>(2, 2, ImageBuffer::IMAGE_RGB24),
                            TextureId());
  ASSERT_EQ(1u, assertions.messages().size());
  EXPECT_NE(std::string::npos, assertions.messages()[0].find("ScreenshotTexture cannot handle"));
}

// The texture sink fed by hand, recording what its signals give.
class TextureVideoSinkTest : public SinkTest, public sigslot::has_slots<> {
 protected:
  TextureVideoSinkTest() {
    make([](ElementArgs const& args) { return createElement<TextureVideoSink>(args); });
    auto& sink = static_cast<TextureVideoSink&>(*sink_);
    sink.texture_signal_.connect(this,
                                 [this](auto const& texture) { textures_.push_back(texture); });
    sink.processor_results_signal_.connect(this, [this](auto const& r) { results_.push_back(r); });
    sink.device_opening_signal_.connect(this, [this](Time t) { device_openings_.push_back(t); });
  }

  std::vector<std::shared_ptr<Texture>> textures_;
  std::vector<std::shared_ptr<ProcessorResultsProto const>> results_;
  std::vector<Time> device_openings_;
};

// Frames become textures of the constrained size, with their feedback
// forwarded (processor results: see below); a changed format property lets
// platform buffers pass as they are; device openings are forwarded.
TEST_F(TextureVideoSinkTest, DeliversTexturesWithFeedbackAndDeviceOpenings) {
  feed(makeFrame(641, 480, 0));
  auto frame = makeFrame(64, 48, 1);
  frame->appendEventToMetadata(drivingFeedbackToEvent(DrivingFeedback{0x1234}));
  feed(frame);
  ASSERT_EQ(2u, textures_.size());
  EXPECT_EQ(640, textures_[0]->getWidth());
  ASSERT_NE(nullptr, textures_[1]->getId().feedback());
  EXPECT_EQ(0x1234u, textures_[1]->getId().feedback()->tag);

  set("format", PropertyValue("APPL"));
  unsigned char opaque[4] = {};
  auto platform = std::make_shared<ImageBuffer>(320, 240, ImageBuffer::IMAGE_PLATFORM_BUFFER,
                                                opaque, nullptr, 4);
  platform->setPriority(1);
  feed(platform);
  ASSERT_EQ(3u, textures_.size());
  EXPECT_EQ(opaque, textures_[2]->getBuffer());

  auto event = std::make_shared<DeviceOpeningEvent>();
  event->setStartTimestamp(Time::fromNSec(999));
  event->setPriority(1);
  feeder_->sendDownstreamEvent(event);
  scheduler_->runAll();
  EXPECT_EQ(std::vector<Time>{Time::fromNSec(999)}, device_openings_);
}

// The texture sink fed through a video processor whose hook records each
// request and answers the main video stream with one result.
class VideoProcessorTest : public TextureVideoSinkTest {
 protected:
  VideoProcessorTest() {
    link_ = LinkHandle(feeder_->link(*processor_->getInputPad()));
    out_ = LinkHandle(processor_->getOutputPad()->link(*sink_->getInputPad()));
    hook_->signal_.connect(this, [this](ProcessorRequest& request) {
      requests_.push_back(request);
      if (request.stream_kind == 2) request.results.add_results()->set_name("motion");
    });
    scheduler_->runAll();
  }

  std::shared_ptr<VideoProcessor> processor_ =
      createElement<VideoProcessor>(ElementArgs(scheduler_, root_->getNode("processor", true)));
  LinkHandle out_;
  std::shared_ptr<VideoProcessorHook> hook_ = std::make_shared<VideoProcessorHook>();
  std::vector<ProcessorRequest> requests_;
};

// Without a hook frames pass with no results; the hook sees the aligned
// planes of each frame of the main stream, and its results ride on the
// frame to the sink.
TEST_F(VideoProcessorTest, HookSeesTheAlignedPlanesAndItsResultsReachTheSink) {
  feed(makeFrame(40, 30, 0));
  processor_->setParameters("video", hook_);
  feed(makeFrame(40, 30, 1, 4242));
  ASSERT_EQ(2u, textures_.size());
  ASSERT_EQ(2u, results_.size());
  EXPECT_EQ(nullptr, results_[0]);
  ASSERT_NE(nullptr, results_[1]);
  EXPECT_EQ("motion", results_[1]->results(0).name());
  ASSERT_EQ(1u, requests_.size());
  EXPECT_EQ(2, requests_[0].stream_kind);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(requests_[0].planes[p].width, p ? 20 : 40) << p;
    EXPECT_EQ(requests_[0].planes[p].stride % 16, 0) << p;
    EXPECT_EQ(requests_[0].planes[p].timestamp, Time::fromNSec(4242000000)) << p;
  }
}

}  // namespace
}  // namespace dravo::media
