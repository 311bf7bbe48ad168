#include "media_common/video/video_source.h"

#include "common/logging.h"

DRAVO_LOGGER("video_source");

namespace dravo::media {

VideoSource::VideoSource() = default;

VideoSource::~VideoSource() { disconnect_all(); }

void VideoSource::initialize() {
  Source<ImageBuffer>::initialize();
  auto& signal = getPropertyChangeSignal();
  req_width_.bind(signal, getPropertyNode("req_width"), 640, "Requested width.");
  req_height_.bind(signal, getPropertyNode("req_height"), 480, "Requested height.");
  req_fps_.bind(signal, getPropertyNode("req_fps"), 30.0f,
                "Requested frame rate (frames per second).");
  width_.bind(signal, getPropertyNode("width"), 640, "Actual width.",
              CachedProperty<int32_t>::READ_ONLY);
  height_.bind(signal, getPropertyNode("height"), 480, "Actual height.",
               CachedProperty<int32_t>::READ_ONLY);
  fps_.bind(signal, getPropertyNode("fps"), 30.0f,
            "Frame rate of the current camera mode (frames per second).",
            CachedProperty<float>::READ_ONLY);
  actual_fps_.bind(signal, getPropertyNode("actual_fps"), 30.0f,
                   "Actual rate of the frames captured by this source (frames per second).",
                   CachedProperty<float>::READ_ONLY);
  do_crop_.bind(signal, getPropertyNode("do_crop"), true,
                "Used to indicate to the receiving party whether it's OK to crop the video.",
                CachedProperty<bool>::READ_ONLY);
  enabled_.bind(signal, getPropertyNode("enabled"), false);
  req_pixel_format_.bind(
      signal, getPropertyNode("req_pixel_format"), ImageBuffer::IMAGE_CONSTRAINED_I420,
      "Preferred pixel format (e.g. as indicated by the encoder or video monitor).");
  clock_ = initializeClockProperty("clock", getSystemClock());
  actual_fps_history_ = std::make_shared<HistoryPropertyUpdater>(actual_fps_.node());
}

void VideoSource::publishMode(int width, int height, float fps) {
  // Nodes, not the wrappers: this may run on a capture thread, and the
  // wrappers pick the values up at the next property-change pass.
  width_.node()->setValue(PropertyValue(width));
  height_.node()->setValue(PropertyValue(height));
  fps_.node()->setValue(PropertyValue(fps));
  LOGF(5, "%s: mode %dx%d at %.2f fps", getFullName().c_str(), width, height,
       static_cast<double>(fps));
}

void VideoSource::publishActualFps(float fps) {
  actual_fps_.node()->setValue(PropertyValue(fps));
  actual_fps_history_->add(fps);
}

void VideoSource::publishDoCrop(bool do_crop) { do_crop_.node()->setValue(PropertyValue(do_crop)); }

}  // namespace dravo::media
