#pragma once
// A structural pre-check of protocol-buffer bytes from outside the process.
//
// protobuf's parser trusts the length of a nested message until it reaches
// the message's end, and reserves string storage against that length: a few
// dozen hostile bytes can make it allocate tens of megabytes before failing.
// This check walks the encoding with the message's descriptor and refuses it
// unless every field is complete and every length-delimited field (and every
// nested message, recursively) fits inside the bytes that enclose it. After
// it passes, nothing the parser allocates exceeds the input's size.
//
// Stateless; any thread.

#include <cstddef>

namespace google::protobuf {
class Descriptor;
}

namespace dravo::media {

// True when `data[0, size)` is a well-framed encoding of `descriptor`'s
// message (field contents themselves are left to the parser).
bool protoLengthsFit(const char* data, size_t size, google::protobuf::Descriptor const* descriptor);

}  // namespace dravo::media
