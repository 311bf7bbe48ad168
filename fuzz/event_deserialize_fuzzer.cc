// Serialised events: type header, length pre-check and protobuf bodies of
// every registered event class.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input_file.h"
#include "media_common/event.h"
#include "media_common/media_events.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return -1;
  dravo::fuzz::quietLogging();
  static bool registered = [] {
    dravo::media::registerMediaEvents();
    return true;
  }();
  (void)registered;
  auto event = dravo::media::Event::deserialize(reinterpret_cast<char const*>(data),
                                                static_cast<unsigned int>(size));
  if (event) {
    std::string again;
    event->serialize(&again);
  }
  return 0;
}
