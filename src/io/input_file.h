// Reading the input file: whole, or a piece at a time. Internal.
#ifndef VELMORA_INPUT_FILE_H
#define VELMORA_INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "memory.h"

namespace velmora {

// The whole file in one heap buffer, or null. `size` is written only on
// success. Files of 0 bytes or over INT_MAX bytes (the decoder takes an int
// size) are refused.
Buffer read_file(const char *path, uint64_t *size);

// The reason a reader gives when its input fails to read part-way (the file
// shrank, or the system refused a read).
constexpr const char *kInputReadFailed = "read failed";

// The input, opened once and read a piece at a time, so that a reader that
// goes through it in order never holds the file whole. Positioned reads, not
// a mapping: a file cut short by someone else must fail a read, not kill the
// host.
class InputSource {
public:
    virtual ~InputSource();
    InputSource(const InputSource &) = delete;
    InputSource &operator=(const InputSource &) = delete;

    // Bytes already in memory (not copied: they must outlive the source).
    static std::unique_ptr<InputSource> of_memory(const unsigned char *bytes, size_t size);

    uint64_t size() const { return size_; }

    // `n` bytes from `offset` into `dst`. False, never a crash, when they
    // lie past the end or cannot be read; after a failure every later read
    // fails too, and failed() says so.
    bool read_at(uint64_t offset, void *dst, size_t n);
    bool failed() const { return failed_; }

    // The whole file, read and kept on first use, for the readers that need
    // it whole; null when it cannot be read.
    const unsigned char *whole();

    // The bytes, when they are in memory already (a memory source, or after
    // whole()); else null. Readers use them in place rather than copying.
    const unsigned char *memory() const { return memory_; }

protected:
    explicit InputSource(uint64_t size) : size_(size) {}
    // `n` bytes from `offset` (both inside the size); false when the read fails.
    virtual bool fetch(uint64_t offset, unsigned char *dst, size_t n) = 0;

    const unsigned char *memory_ = nullptr;

private:
    uint64_t size_;
    bool failed_ = false;
    Buffer kept_;
};

// The file at `path`, with read_file's refusals (missing, a folder, 0 bytes,
// over INT_MAX bytes): null. A regular file stays open and is read in
// pieces; anything else (a pipe, a device) is read whole now, as read_file
// reads it.
std::unique_ptr<InputSource> open_input(const char *path);

}  // namespace velmora

#endif
