// Where the writers send the bytes they encode. Internal.
#ifndef VELMORA_BYTE_SINK_H
#define VELMORA_BYTE_SINK_H

#include <cstddef>
#include <vector>

namespace velmora {

// Receives the encoded bytes in order; returns false to stop the writer.
using WriteFn = bool (*)(void *context, const unsigned char *bytes, size_t size);

// Sinks that append to the std::vector<unsigned char> given as context: a
// WriteFn, and the same for stb_image_write's callback, for code that compares
// the two writers in memory (tests, fuzz targets, benchmarks).
inline bool append_to_vector(void *context, const unsigned char *bytes, size_t size) {
    auto *out = static_cast<std::vector<unsigned char> *>(context);
    out->insert(out->end(), bytes, bytes + size);
    return true;
}
inline void append_to_vector_stb(void *context, void *data, int size) {
    append_to_vector(context, static_cast<const unsigned char *>(data), static_cast<size_t>(size));
}

}  // namespace velmora

#endif
