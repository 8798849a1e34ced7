// Writing the output file: the encoders append their bytes to an
// OutputStream, which either collects them in memory or stages them in a
// fixed buffer that is passed on to a file whenever it fills. Bytes already
// appended can be patched, and the stream cut back, wherever they now are
// (the PNG writer patches its IDAT's length in once known). Internal.
#ifndef VELMORA_OUTPUT_FILE_H
#define VELMORA_OUTPUT_FILE_H

#include <cstddef>
#include <cstring>

#include "byte_sink.h"

namespace velmora {

class OutputStream {
public:
    // Takes `n` bytes; false when they could not be passed on.
    using Sink = bool (*)(void *context, const unsigned char *bytes, size_t n);

    // Collects everything in memory, growing as needed.
    OutputStream() = default;
    // Stages up to `stage` bytes at a time and hands them to `sink`, so that
    // no image-sized output is held. `ok()` is false if the stage could not
    // be allocated.
    OutputStream(size_t stage, Sink sink, void *context);
    // The same, for a sink that can also overwrite bytes it has taken and
    // cut itself back (offsets counted from its first byte): the stream can
    // then patch and truncate too.
    OutputStream(size_t stage, Sink sink, PatchFn patch, TruncateFn truncate, void *context);
    ~OutputStream();
    OutputStream(const OutputStream &) = delete;
    OutputStream &operator=(const OutputStream &) = delete;

    // The reference JPEG writer hands over its output a byte at a time, so
    // the common cases (room left in the buffer) stay inline, a single byte
    // without a call to memcpy. A piece of half a stage or more goes to the
    // sink as it is: copying it would save no call of the sink.
    void append(const void *bytes, size_t n) {
        if (n == 1 && size_ < capacity_) {
            data_[size_++] = *static_cast<const unsigned char *>(bytes);
            return;
        }
        if (n != 0 && n <= capacity_ - size_ && (!sink_ || n < capacity_ / 2)) {
            std::memcpy(data_ + size_, bytes, n);
            size_ += n;
            return;
        }
        append_slow(bytes, n);
    }

    // Hands what is staged to the sink, if any; false if anything has failed.
    bool flush();

    // Bytes appended so far, wherever they are now.
    size_t position() const { return passed_ + size_; }
    // Whether patch() and truncate() can work: in memory always, with a sink
    // when it can overwrite and cut.
    bool can_rewrite() const { return !sink_ || (sink_patch_ && sink_truncate_); }
    // Overwrites `n` bytes already appended, from `offset` on; false (and the
    // stream failed) when they were not all appended or the sink refuses.
    bool patch(size_t offset, const void *bytes, size_t n);
    // Drops every byte from `offset` on; the next append goes there. False
    // (and the stream failed) when fewer were appended or the sink refuses.
    bool truncate(size_t offset);
    bool ok() const { return !failed_; }

    // What is held: everything appended, for a stream without a sink.
    const unsigned char *data() const { return data_; }
    size_t size() const { return size_; }

private:
    void append_slow(const void *bytes, size_t n);
    void give_up();

    unsigned char *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool failed_ = false;
    Sink sink_ = nullptr;
    PatchFn sink_patch_ = nullptr;
    TruncateFn sink_truncate_ = nullptr;
    void *sink_context_ = nullptr;
    size_t passed_ = 0;  // bytes the sink has taken
};

// Puts the whole file into `out`; nonzero on success.
using Producer = int (*)(OutputStream &out, void *context);

// Writes the file that `produce` makes without ever leaving a partial file at
// `path` (or at the file a symbolic link there leads to): a new file in the
// same folder, with the old file's owner, group, extended attributes and mode,
// is renamed over it once complete; where the folder takes no new
// file, an existing file is rewritten in place once the new content is known
// to fit. Nonzero when the whole file is in place.
int write_file_safely(const char *path, Producer produce, void *context);

// For tests: false makes every replacement take a temporary name from the
// start, as where the system has no file without a name (Windows, Linux
// file systems without O_TMPFILE), so that path runs where sanitizers do.
void use_anonymous_files(bool on);

}  // namespace velmora

#endif
