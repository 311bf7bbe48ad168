#pragma once
// TurboJPEG handles kept per thread, so that every call does not pay for
// creating a codec and calls on different threads never share one.
//
// Internal to qvideo. Each thread's handles live until the thread ends or
// are discarded. Null when TurboJPEG cannot create one (out of memory); the
// next call retries.

#include <turbojpeg.h>

namespace dravo::jpeg {

tjhandle threadDecompressor();
tjhandle threadCompressor();

// After a failed call a handle can keep state from the broken stream (seen
// with damaged Huffman tables: the next, valid frame is refused), so callers
// discard it and the next call starts afresh.
void discardThreadDecompressor();
void discardThreadCompressor();

}  // namespace dravo::jpeg
