#pragma once
// A stand-in for the desktop's screen-cast portal, for tests: it owns
// org.freedesktop.portal.Desktop on the session bus with the ScreenCast
// interface and object paths of the real one, and on Start serves a
// PipeWire video stream of known pictures (BGRx, a moving square, the frame
// number in the first pixel, a crop region, any row stride, and the mouse
// pointer as metadata). Its answers can be set: cancelled, failed, never;
// restore tokens it did not hand out are refused.
//
// `testPictureRgb` gives what a consumer must see at each pixel of frame n.
// Buffers 10 to 19 of every 20 carry the pointer's position only.
//
// Threads: one thread of its own does all D-Bus and PipeWire work; the
// test's thread configures it, asks what it saw, and tells it to stop the
// stream or close the session (both are carried out on its thread). The
// destructor stops the thread and joins it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dravo::testing {

struct TestPicture {
  int width = 320;
  int height = 240;
  int stride = 0;  // bytes from row to row; 0 for width * 4
  // The part the consumer must show; all of it when crop_width is 0.
  int crop_x = 0;
  int crop_y = 0;
  int crop_width = 0;
  int crop_height = 0;
  int fps = 60;

  int visibleWidth() const { return crop_width > 0 ? crop_width : width; }
  int visibleHeight() const { return crop_width > 0 ? crop_height : height; }
};

// The colour (0xRRGGBB) a consumer must show at (x, y) of the visible part
// of frame `n`, pointer included.
uint32_t testPictureRgb(TestPicture const& picture, uint64_t n, int x, int y);
// The frame number a picture's first pixel (blue, green) carries.
uint64_t testPictureNumber(uint8_t const* first_bgrx_pixel);

struct TestPortalConfig {
  uint32_t version = 4;
  uint32_t source_types = 3;  // monitors and windows
  uint32_t cursor_modes = 7;
  uint32_t start_response = 0;  // 0 granted, 1 cancelled, 2 failed
  bool answer_start = true;
  TestPicture picture;
};

class TestScreenCastPortal {
 public:
  TestScreenCastPortal();
  ~TestScreenCastPortal();
  TestScreenCastPortal(TestScreenCastPortal const&) = delete;
  TestScreenCastPortal& operator=(TestScreenCastPortal const&) = delete;

  // Claims the portal's name on the session bus of the environment.
  bool start(std::string* error);

  // For the requests that come from now on.
  void configure(TestPortalConfig const& config);
  // Ends the stream as a compositor does when sharing stops, without
  // closing the portal session.
  void stopStream();
  // Closes the portal session as a portal does when the user stops sharing
  // (the stream stays: the consumer must stop on the signal alone).
  void closeSession();

  struct Seen {
    int sessions = 0;                         // CreateSession calls
    std::vector<std::string> offered_tokens;  // per SelectSources, "" for none
    std::vector<uint32_t> cursor_modes;       // per SelectSources, 0 for none
    std::vector<uint32_t> types;              // per SelectSources
    uint64_t frames = 0;                      // pictures sent
    bool streaming = false;                   // a consumer is linked
  };
  Seen seen() const;

 private:
  struct Private;
  std::unique_ptr<Private> private_;
};

}  // namespace dravo::testing
