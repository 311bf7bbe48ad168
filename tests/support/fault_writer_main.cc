// fault_writer FORMAT PATH COUNT: writes COUNT frames (or 1000-sample
// blocks of stereo audio) with the library's writer for FORMAT ("avi",
// "avi-odml" (RIFF lists of 16 KiB), "y4m", "wav" or "pnm") to PATH, then closes it. Tests run it
// in a child process under a file-size limit or against /dev/full to see how the writers cope when
// the disk fills; it must always exit 0.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media_common/audio/wav_file_writer.h"
#include "media_common/video/avi_file_writer.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/pnm_sink.h"
#include "media_common/video/y4m_sink.h"
#include "tests/support/manual_scheduler.h"

namespace {

using dravo::Time;
using dravo::media::ImageBuffer;

std::shared_ptr<ImageBuffer> frame(int index) {
  auto image = std::make_shared<ImageBuffer>(64, 48, ImageBuffer::IMAGE_I420);
  std::fill(image->data(), image->data() + image->size(), 128);
  for (int y = 0; y < image->height(); ++y)
    for (int x = 0; x < image->width(); ++x)
      *image->getPixelAddress(x, y, 0) = static_cast<unsigned char>(x * 7 + y + index * 13);
  image->setStartTimestamp(Time::fromNSec(int64_t{index} * 40'000'000));
  return image;
}

// The Y4M sink with its frame handler reachable, to record without a pipeline.
class DirectY4MSink : public dravo::media::Y4MSink {
 public:
  using Y4MSink::onBuffer;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s avi|avi-odml|y4m|wav|pnm PATH COUNT\n", argv[0]);
    return 2;
  }
  std::string const format = argv[1], path = argv[2];
  int const count = std::atoi(argv[3]);
  if (format == "avi" || format == "avi-odml") {
    dravo::media::AVIFileWriter writer;
    if (format == "avi-odml") writer.setRiffSizeLimit(16 * 1024);
    writer.openFile(path);
    for (int i = 0; i < count; ++i) writer.writeFrame(frame(i));
    writer.close();
  } else if (format == "wav") {
    dravo::media::WAVFileWriter writer;
    writer.openFile(path);
    std::vector<short> block(2000);
    for (int i = 0; i < count; ++i) {
      for (size_t s = 0; s < block.size(); ++s) block[s] = static_cast<short>(s * 31 + i);
      writer.writeSamples(block.data(), 2, 16000, static_cast<unsigned>(block.size() * 2));
    }
    writer.close();
  } else if (format == "y4m") {
    auto scheduler = std::make_shared<dravo::testing::ManualScheduler>();
    auto sink = dravo::media::createElement<DirectY4MSink>(
        dravo::media::ElementArgs(scheduler, dravo::PropertyNode::create())
            .property("filename", dravo::PropertyValue(path)));
    scheduler->runAll();  // the first property pass sets "filename"
    for (int i = 0; i < count; ++i) sink->onBuffer(frame(i));
    sink.reset();
    scheduler->shutdown(true);
  } else if (format == "pnm") {
    for (int i = 0; i < count; ++i) dravo::media::PNMSink::saveBufferToFile(frame(i), path);
  } else {
    return 2;
  }
  return 0;
}
