// Where the writers send the bytes they encode. Internal.
#ifndef VELMORA_BYTE_SINK_H
#define VELMORA_BYTE_SINK_H

#include <algorithm>
#include <cstddef>
#include <vector>

namespace velmora {

// Receives the encoded bytes in order; returns false to stop the writer.
using WriteFn = bool (*)(void *context, const unsigned char *bytes, size_t size);

// For an output that can change what it has already taken (a file, memory;
// not a pipe): overwrites `size` bytes at `offset`, counted from the first
// byte the writer handed over. Null where the output cannot.
using PatchFn = bool (*)(void *context, size_t offset, const unsigned char *bytes, size_t size);
// Drops every byte from `offset` on (counted the same way); the next bytes
// written go there. Null where the output cannot.
using TruncateFn = bool (*)(void *context, size_t offset);

// Sinks over the std::vector<unsigned char> given as context: a WriteFn that
// appends, its PatchFn and TruncateFn, and the append for stb_image_write's
// callback, for code that compares the two writers in memory (tests, fuzz
// targets, benchmarks).
inline bool append_to_vector(void *context, const unsigned char *bytes, size_t size) {
    auto *out = static_cast<std::vector<unsigned char> *>(context);
    out->insert(out->end(), bytes, bytes + size);
    return true;
}
inline bool patch_vector(void *context, size_t offset, const unsigned char *bytes, size_t size) {
    auto *out = static_cast<std::vector<unsigned char> *>(context);
    if (offset > out->size() || size > out->size() - offset) return false;
    std::copy(bytes, bytes + size, out->begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}
inline bool truncate_vector(void *context, size_t offset) {
    auto *out = static_cast<std::vector<unsigned char> *>(context);
    if (offset > out->size()) return false;
    out->resize(offset);
    return true;
}
inline void append_to_vector_stb(void *context, void *data, int size) {
    append_to_vector(context, static_cast<const unsigned char *>(data), static_cast<size_t>(size));
}

}  // namespace velmora

#endif
