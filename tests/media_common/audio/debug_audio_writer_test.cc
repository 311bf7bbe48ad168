#include "media_common/audio/debug_audio_writer.h"

#include <gtest/gtest.h>

#include <thread>

#include "media_common/audio/wav_file_reader.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

std::vector<short> samplesOf(std::string const& path) {
  std::vector<short> samples;
  EXPECT_TRUE(WAVFileReader::readFromFile(path, &samples, nullptr)) << path;
  return samples;
}

// Audio threads write their own streams while the test toggles the writer;
// under ThreadSanitizer this checks the serialisation.
TEST(DebugAudioWriterTest, EachEnablePeriodWritesAFreshNumberedSetFromAnyThread) {
  testing::ScopedTempDir tmp;
  std::string const dir = tmp.file("nested/dumps");
  DebugAudioWriter writer(dir);
  short const a[] = {1, 2, 3, 4};
  writer.setEnabled(true);
  writer.setEnabled(true);  // no change: the period goes on
  std::vector<short> const block(320, 7);
  auto writeStream = [&](std::string const& name) {
    for (int i = 0; i < 200; ++i) writer.write(name, block.data(), 2, 16000, 640);
  };
  std::thread first(writeStream, "a"), second(writeStream, "b");
  writer.write("mic", a, 1, 8000, 4);
  writer.write("mic", a + 2, 1, 8000, 4);
  first.join();
  second.join();
  writer.setEnabled(false);
  writer.write("mic", a, 1, 8000, 8);
  writer.setEnabled(true);
  writer.write("mic", a + 3, 1, 8000, 2);
  writer.setEnabled(false);
  EXPECT_EQ(samplesOf(dir + "/mic1.wav"), (std::vector<short>{1, 2, 3, 4}));
  EXPECT_EQ(samplesOf(dir + "/mic2.wav"), (std::vector<short>{4}));
  EXPECT_FALSE(File::exists(dir + "/mic3.wav"));
  EXPECT_EQ(samplesOf(dir + "/a1.wav").size(), 200u * 320u);
  EXPECT_EQ(samplesOf(dir + "/b1.wav").size(), 200u * 320u);
}

}  // namespace
}  // namespace dravo::media
