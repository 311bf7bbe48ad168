#pragma once
// The parts of a synthetic test frame drawn over the plasma: the strip of
// eight colour bars in the top eight rows (red, green, blue, yellow, cyan,
// magenta, black, white; 32 pixels each) and neutral chroma for the samples
// of odd-sized frames that lie outside every whole 2x2 block.
//
// Both clip to the frame; frames without three planes or pixels are left
// alone. Stateless; any thread, on a frame no other thread uses.

#include "media_common/video/image_buffer.h"

namespace dravo::media::synthetic_overlay {

void drawColourBars(ImageBuffer* frame);
void neutraliseChromaEdges(ImageBuffer* frame);

}  // namespace dravo::media::synthetic_overlay
