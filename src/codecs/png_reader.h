// Our own PNG reader: the reference decoder's pixels and refusals, faster.
// Internal.
#ifndef VELMORA_PNG_READER_H
#define VELMORA_PNG_READER_H

#include <cstddef>
#include <memory>

#include "row_reader.h"

namespace velmora {

// Reads the header of `bytes` (which must outlive the reader). Returns the
// reader; or null with `*reason` set when the file is refused; or null with
// `*reason` null for a file this reader leaves to the reference decoder.
std::unique_ptr<RowReader> open_png_reader(const unsigned char *bytes, size_t size,
                                           const char **reason);

}  // namespace velmora

#endif
