// Frames from screen-cast pictures: byte orders, strides and crop regions
// honoured, and every claim the stream makes checked against the bytes it
// handed over; the pointer from hostile metadata.

#include "media_common/video/screencast_frame.h"

#include <gtest/gtest.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <cstring>
#include <vector>

namespace dravo::media {
namespace {

// A 6x4 picture whose pixel (x, y) is bytes {x, y, 0x80 + x, 0xee} (in
// memory order), rows `stride` bytes apart.
std::vector<uint8_t> picture(int stride) {
  std::vector<uint8_t> bytes(size_t(stride) * 4, 0x11);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      uint8_t* pixel = &bytes[size_t(y) * stride + x * 4];
      pixel[0] = uint8_t(x);
      pixel[1] = uint8_t(y);
      pixel[2] = uint8_t(0x80 + x);
      pixel[3] = 0xee;
    }
  return bytes;
}

// Blue, green and red of the frame's pixel (x, y).
std::vector<uint8_t> bgrAt(ImageBuffer const& frame, int x, int y) {
  uint8_t const* pixel = frame.getPixelAddress(x * 4, y, 0);
  return {pixel[0], pixel[1], pixel[2]};
}

TEST(ScreenCastFrameTest, HonoursLayoutStrideAndCropAndRefusesWhatDoesNotFit) {
  struct Case {
    char const* name;
    int stride;              // of the bytes
    int64_t claimed_stride;  // what the stream says
    size_t size_cut;         // bytes missing at the end
    StreamPixelLayout layout;
    std::optional<StreamRect> crop;
    int width, height;  // expected frame; 0 for a refusal
    std::vector<uint8_t> top_left;
  } const cases[] = {
      {"packed BGRx", 24, 0, 0, StreamPixelLayout::BGRX, {}, 6, 4, {0, 0, 0x80}},
      {"RGBA swapped", 24, 24, 0, StreamPixelLayout::RGBA, {}, 6, 4, {0x80, 0, 0}},
      {"odd stride", 27, 27, 0, StreamPixelLayout::BGRX, {}, 6, 4, {0, 0, 0x80}},
      {"crop", 27, 27, 0, StreamPixelLayout::RGBX, StreamRect{2, 1, 3, 2}, 3, 2, {0x82, 1, 2}},
      {"crop clipped",
       24,
       24,
       0,
       StreamPixelLayout::BGRX,
       StreamRect{4, 2, 9, 9},
       2,
       2,
       {4, 2, 0x84}},
      // The last row needs only its pixels, not its padding.
      {"short last row", 27, 27, 3, StreamPixelLayout::BGRX, {}, 6, 4, {0, 0, 0x80}},
      {"truncated", 24, 24, 1, StreamPixelLayout::BGRX, {}, 0, 0, {}},
      {"stride too short", 24, 20, 0, StreamPixelLayout::BGRX, {}, 0, 0, {}},
      {"negative stride", 24, -24, 0, StreamPixelLayout::BGRX, {}, 0, 0, {}},
      {"crop outside", 24, 24, 0, StreamPixelLayout::BGRX, StreamRect{6, 0, 2, 2}, 0, 0, {}},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> const bytes = picture(c.stride);
    StreamPicture in;
    in.data = bytes.data();
    in.size = bytes.size() - c.size_cut;
    in.width = 6;
    in.height = 4;
    in.stride = c.claimed_stride;
    in.layout = c.layout;
    in.crop = c.crop;
    ScreenCastFrameBuilder builder;
    char const* why = nullptr;
    auto frame = builder.build(in, StreamCursor(), &why);
    if (c.width == 0) {
      EXPECT_FALSE(frame);
      EXPECT_NE(why, nullptr);
      continue;
    }
    ASSERT_TRUE(frame) << why;
    EXPECT_EQ(frame->width() * 100 + frame->height(), c.width * 100 + c.height);
    EXPECT_EQ(frame->planes()[0].stride_, c.width * 4);
    EXPECT_EQ(bgrAt(*frame, 0, 0), c.top_left);
    // Bottom-right pixel too: the whole area, not a shifted one.
    uint8_t const x = uint8_t((c.crop ? c.crop->x : 0) + c.width - 1);
    uint8_t const y = uint8_t((c.crop ? c.crop->y : 0) + c.height - 1);
    std::vector<uint8_t> expected = {x, y, uint8_t(0x80 + x)};
    if (c.layout == StreamPixelLayout::RGBA || c.layout == StreamPixelLayout::RGBX)
      std::swap(expected[0], expected[2]);
    EXPECT_EQ(bgrAt(*frame, c.width - 1, c.height - 1), expected);
  }
}

// Cursor metadata: a spa_meta_cursor, then a bitmap header and its pixels.
struct CursorMeta {
  std::vector<uint8_t> bytes;
  spa_meta_cursor* cursor() { return reinterpret_cast<spa_meta_cursor*>(bytes.data()); }
  spa_meta_bitmap* bitmap() {
    return reinterpret_cast<spa_meta_bitmap*>(bytes.data() + sizeof(spa_meta_cursor));
  }
};

// A 2x2 opaque white pointer (BGRA) at `x`, `y` with its hot spot at (1, 1).
CursorMeta whitePointer(int x, int y) {
  CursorMeta meta;
  meta.bytes.assign(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 16, 0xff);
  *meta.cursor() = {};
  meta.cursor()->id = 7;
  meta.cursor()->position = {x, y};
  meta.cursor()->hotspot = {1, 1};
  meta.cursor()->bitmap_offset = sizeof(spa_meta_cursor);
  *meta.bitmap() = {};
  meta.bitmap()->format = SPA_VIDEO_FORMAT_BGRA;
  meta.bitmap()->size = {2, 2};
  meta.bitmap()->stride = 8;
  meta.bitmap()->offset = sizeof(spa_meta_bitmap);
  return meta;
}

TEST(ScreenCastFrameTest, PointerFromMetadataSurvivesHostileClaimsAndMovesCleanly) {
  std::vector<uint8_t> const bytes(6 * 4 * 4, 0x40);
  StreamPicture in;
  in.data = bytes.data();
  in.size = bytes.size();
  in.width = 6;
  in.height = 4;
  ScreenCastFrameBuilder builder;
  StreamCursor cursor;
  char const* why = nullptr;

  CursorMeta meta = whitePointer(2, 2);
  ASSERT_TRUE(cursor.update(meta.bytes.data(), meta.bytes.size()));
  auto first = builder.build(in, cursor, &why);
  ASSERT_TRUE(first);
  EXPECT_EQ(bgrAt(*first, 1, 1), (std::vector<uint8_t>{0xff, 0xff, 0xff}));
  EXPECT_EQ(bgrAt(*first, 2, 2), (std::vector<uint8_t>{0xff, 0xff, 0xff}));
  EXPECT_EQ(bgrAt(*first, 3, 3), (std::vector<uint8_t>{0x40, 0x40, 0x40}));

  // Claims that do not fit the metadata leave the pointer's picture as it
  // was; only the position is taken.
  struct Hostile {
    char const* name;
    void (*spoil)(CursorMeta&);
  } const hostile[] = {
      {"bitmap beyond the metadata",
       [](CursorMeta& m) { m.cursor()->bitmap_offset = uint32_t(m.bytes.size()); }},
      {"pixels beyond the metadata",
       [](CursorMeta& m) {
         m.bitmap()->size = {64, 64};
       }},
      {"offset inside the header", [](CursorMeta& m) { m.bitmap()->offset = 4; }},
      {"unknown format", [](CursorMeta& m) { m.bitmap()->format = SPA_VIDEO_FORMAT_I420; }},
      {"stride shorter than a row", [](CursorMeta& m) { m.bitmap()->stride = 2; }},
  };
  for (auto const& h : hostile) {
    SCOPED_TRACE(h.name);
    CursorMeta spoiled = whitePointer(4, 2);
    spoiled.bitmap()->size = {1, 1};  // taken, this would show
    h.spoil(spoiled);
    cursor.update(spoiled.bytes.data(), spoiled.bytes.size());
    EXPECT_EQ(cursor.placed().x_, 3);
    EXPECT_EQ(cursor.placed().width_, 2);
  }
  EXPECT_FALSE(cursor.update(meta.bytes.data(), sizeof(spa_meta_cursor) - 1));

  // A move with no new picture redraws the last frame: the old place is
  // clean again.
  CursorMeta moved = whitePointer(5, 3);
  moved.cursor()->bitmap_offset = 0;
  ASSERT_TRUE(cursor.update(moved.bytes.data(), moved.bytes.size()));
  auto second = builder.redrawCursor(cursor);
  ASSERT_TRUE(second);
  EXPECT_EQ(bgrAt(*second, 1, 1), (std::vector<uint8_t>{0x40, 0x40, 0x40}));
  EXPECT_EQ(bgrAt(*second, 4, 2), (std::vector<uint8_t>{0xff, 0xff, 0xff}));
  EXPECT_EQ(bgrAt(*second, 5, 3), (std::vector<uint8_t>{0xff, 0xff, 0xff}));
  EXPECT_EQ(bgrAt(*first, 4, 2), (std::vector<uint8_t>{0x40, 0x40, 0x40}));  // sent frames stay

  // A bitmap without pixels hides the pointer.
  CursorMeta hidden = whitePointer(5, 3);
  hidden.bitmap()->offset = 0;
  cursor.update(hidden.bytes.data(), hidden.bytes.size());
  EXPECT_FALSE(cursor.visible());
}

}  // namespace
}  // namespace dravo::media
