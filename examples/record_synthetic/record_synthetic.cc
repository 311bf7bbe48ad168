// Records about two seconds of synthetic test video into an AVI file:
//
//   synthetic source -> pad -> trivial scheduler -> pad -> AVI sink
//
// The fast-forward clock runs the pipeline at CPU speed: it leaps to the
// next frame whenever the scheduler has nothing else to do.
//
// Usage: record_synthetic OUTPUT.avi

#include <cstdio>

#include "common/property_node.h"
#include "media_common/clock.h"
#include "media_common/link_handle.h"
#include "media_common/property_clock.h"
#include "media_common/trivial_scheduler.h"
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/avi_sink.h"
#include "media_common/video/synthetic_video_source.h"

using namespace dravo;
using namespace dravo::media;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.avi\n", argv[0]);
    return 2;
  }
  auto scheduler = createTrivialScheduler();
  auto clock = getFastForwardClock(scheduler, Time());
  auto root = PropertyNode::create("example");

  auto source = createSyntheticVideoSource(ElementArgs(scheduler, root->getNode("source", true)));
  setPropertyClock(*source->getPropertyNode("clock"), clock);
  source->getPropertyNode("req_width")->setValue(PropertyValue(320));
  source->getPropertyNode("req_height")->setValue(PropertyValue(240));

  auto sink = createAVISink(ElementArgs(scheduler, root->getNode("sink", true)));
  sink->getPropertyNode("filename")->setValue(PropertyValue(argv[1]));

  {
    LinkHandle link(source->getOutputPad()->link(*sink->getInputPad()));
    scheduler->start();
    // Blocks this thread until the pipeline's clock reads 2 s.
    clock->sleepUntil(ClockTime(0, Time() + Duration::fromSec(2.0)));
    source->getPropertyNode("req_fps")->setValue(PropertyValue(0.0));  // no more frames
    scheduler->waitIdle();
    scheduler->shutdown(true);
  }
  source.reset();
  sink.reset();  // completes the file

  AVIFileReader reader;
  if (!reader.openFile(argv[1])) {
    std::fprintf(stderr, "%s: not readable\n", argv[1]);
    return 1;
  }
  int frames = 0;
  Duration duration;
  while (reader.readFrame(&duration)) ++frames;
  std::printf("wrote %d frames to %s\n", frames, argv[1]);
  return frames > 0 ? 0 : 1;
}
