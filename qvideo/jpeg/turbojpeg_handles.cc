#include "qvideo/jpeg/turbojpeg_handles.h"

#include <memory>

namespace dravo::jpeg {
namespace {

struct HandleDestroyer {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleDestroyer>;

thread_local OwnedHandle decompressor;
thread_local OwnedHandle compressor;

}  // namespace

tjhandle threadDecompressor() {
  if (!decompressor) decompressor.reset(tjInitDecompress());
  return decompressor.get();
}

tjhandle threadCompressor() {
  if (!compressor) compressor.reset(tjInitCompress());
  return compressor.get();
}

void discardThreadDecompressor() { decompressor.reset(); }
void discardThreadCompressor() { compressor.reset(); }

}  // namespace dravo::jpeg
