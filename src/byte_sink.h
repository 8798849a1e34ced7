// Where the writers send the bytes they encode. Internal.
#ifndef VELMORA_BYTE_SINK_H
#define VELMORA_BYTE_SINK_H

#include <cstddef>

namespace velmora {

// Receives the encoded bytes in order; returns false to stop the writer.
using WriteFn = bool (*)(void *context, const unsigned char *bytes, size_t size);

}  // namespace velmora

#endif
