#pragma once
// Checks of the screen and window ids media-tool is given, made before a
// capture pipeline is built so that a wrong id fails at once with one clear
// line instead of a capture that never delivers.
//
// Functions only; any thread (they use the library's shared X connection).

#include <string>

namespace dravo::tool {

// Whether the decimal `id` names an existing X window on $DISPLAY.
bool x11WindowExists(std::string const& id);

// Whether the decimal `index` names a display that can be captured.
bool x11DisplayExists(std::string const& index);

}  // namespace dravo::tool
