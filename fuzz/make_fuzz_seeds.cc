// Writes seed inputs for the fuzz targets with the library's own writers:
//   make_fuzz_seeds <corpus folder>
// creates <corpus folder>/<target>/ for each target it knows and fills it
// with small valid inputs. scripts/fuzz-seeds adds files made by ffmpeg and
// sox beside them.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file.h"
#include "media_common/audio/wav_file_writer.h"
#include "media_common/media_events.h"
#include "media_common/video/avi_file_writer.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/image_buffer_converter.h"

namespace dravo::media {
namespace {

namespace fs = std::filesystem;

void writeBytes(fs::path const& path, std::string const& bytes) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

std::shared_ptr<ImageBuffer> grayFrame(int width, int height, int shade, int64_t ms) {
  auto frame = std::make_shared<ImageBuffer>(width, height, ImageBuffer::IMAGE_I420);
  std::fill(frame->data(), frame->data() + frame->size(), static_cast<unsigned char>(shade));
  frame->setStartTimestamp(Time::fromNSec(ms * 1000000));
  return frame;
}

void aviSeeds(fs::path const& folder) {
  for (ImageBuffer::PixelFormat format : {ImageBuffer::IMAGE_I420, ImageBuffer::IMAGE_JPEG}) {
    AVIFileWriter writer;
    std::string name = format == ImageBuffer::IMAGE_I420 ? "i420.avi" : "jpeg.avi";
    writer.openFile((folder / name).string());
    writer.appendMetadata("ISFT", "make_fuzz_seeds");
    for (int i = 0; i < 3; ++i) {
      auto frame = grayFrame(16, 16, 40 * i, 40 * i);
      if (format == ImageBuffer::IMAGE_I420) {
        writer.writeFrame(frame);
      } else if (auto jpeg = ImageBufferConverter::easyConvert(format, frame)) {
        writer.writeFrame(jpeg);
      }
    }
    writer.close();
  }
  // A recording continued in "AVIX" lists, each a frame or two.
  AVIFileWriter writer;
  writer.setRiffSizeLimit(4096 + 1200);
  writer.openFile((folder / "opendml.avi").string());
  for (int i = 0; i < 5; ++i) writer.writeFrame(grayFrame(16, 16, 50 * i, 40 * i));
  writer.close();
}

void jpegSeeds(fs::path const& folder) {
  auto jpeg = ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_JPEG, grayFrame(24, 16, 90, 0));
  if (jpeg) {
    writeBytes(folder / "gray.jpg",
               std::string(reinterpret_cast<char const*>(jpeg->data()), jpeg->size()));
  }
}

void wavSeeds(fs::path const& folder) {
  std::vector<short> samples;
  for (int i = 0; i < 200; ++i) samples.push_back(static_cast<short>((i * 331) % 20000 - 10000));
  WAVFileWriter::writeToFile((folder / "stereo.wav").string(), samples, 2, 8000);
  WAVFileWriter::writeToFile((folder / "mono.wav").string(), samples, 1, 44100);
}

void eventSeeds(fs::path const& folder) {
  registerMediaEvents();
  std::string bytes;
  DrivingFeedbackEvent feedback;
  feedback.mutableMessage()->set_tag(1234567);
  if (feedback.serialize(&bytes)) writeBytes(folder / "driving_feedback", bytes);
  DeviceOpeningEvent opening;
  bytes.clear();
  if (opening.serialize(&bytes)) writeBytes(folder / "device_opening", bytes);
}

void textSeeds(fs::path const& blacklist, fs::path const& file_list) {
  writeBytes(blacklist / "two", "usb-0000:00:14.0-1\nplatform:vivid-000\n");
  writeBytes(blacklist / "blank_lines", "\n\nid\n\n");
  writeBytes(file_list / "list", "a.avi:10,b.avi,c.avi:0");
  writeBytes(file_list / "colons", "weird:name.avi:3:4,::,");
}

// Tiny streams by hand: two 4x2 frames, one with a parameter on its line,
// in each colour space the reader converts.
void y4mSeeds(fs::path const& folder) {
  std::string frame(12, '\x80');
  writeBytes(folder / "tiny.y4m", "YUV4MPEG2 W4 H2 F25:1 It A1:1 C420jpeg XYSCSS=420JPEG\nFRAME\n" +
                                      frame + "FRAME Ixyz\n" + frame);
  for (auto const& [space, bytes] :
       {std::pair{"C422", 16}, std::pair{"C444", 24}, std::pair{"Cmono", 8}}) {
    std::string const stored(static_cast<size_t>(bytes), '\x60');
    writeBytes(folder / (std::string(space) + ".y4m"), "YUV4MPEG2 W4 H2 F30000:1001 " +
                                                           std::string(space) + "\nFRAME\n" +
                                                           stored + "FRAME\n" + stored);
  }
}

}  // namespace
}  // namespace dravo::media

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  fs::path root = argv[1];
  auto folder = [&](char const* target) {
    fs::create_directories(root / target);
    return root / target;
  };
  using namespace dravo::media;
  aviSeeds(folder("avi_reader_fuzzer"));
  jpegSeeds(folder("jpeg_fuzzer"));
  wavSeeds(folder("wav_reader_fuzzer"));
  wavSeeds(folder("riff_fuzzer"));
  eventSeeds(folder("event_deserialize_fuzzer"));
  textSeeds(folder("blacklist_fuzzer"), folder("avi_file_list_fuzzer"));
  y4mSeeds(folder("y4m_reader_fuzzer"));
  return 0;
}
