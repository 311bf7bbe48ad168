#pragma once
// X11Viewer: a window on the X display that shows the textures of a
// `TextureVideoSink`, so media-tool can be its renderer. RGB24 textures are
// turned into 32-bit BGRX rows and drawn with XPutImage; the window follows
// the frame size. Pressing q or Escape, or closing the window, calls the
// close callback (once).
//
// Owner: the view command. Threads: the window is created and destroyed on
// the owner's thread; all other X calls run on the viewer's own thread.
// `show` may be called from any thread (the sink's scheduler): only the
// newest texture is kept.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/texture.h"

namespace dravo::tool {

class X11ViewerPrivate;

class X11Viewer {
 public:
  // ToolError (status 1) when no display can be opened.
  X11Viewer(std::string const& title, std::function<void()> on_close);
  ~X11Viewer();
  X11Viewer(X11Viewer const&) = delete;
  X11Viewer& operator=(X11Viewer const&) = delete;

  void show(std::shared_ptr<Texture> const& texture);
  // Frames drawn so far.
  int64_t framesShown() const;

 private:
  std::unique_ptr<X11ViewerPrivate> impl_;
};

}  // namespace dravo::tool
