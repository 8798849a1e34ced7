// Writing the output file so that a failure never destroys what was there:
// the bytes stream into a new file beside the output as the encoder makes
// them, and that file is renamed over the output only once it is complete and
// closed. Devices, FIFOs and links are written in place, once the whole file
// is encoded, since renaming over them would replace the thing itself.
#include "output_file.h"

#include <cstdint>
#include <cstdlib>

#include "image.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace velmora {

// ---- the stream -------------------------------------------------------------

OutputStream::OutputStream(size_t stage, Sink sink, void *context)
    : sink_(sink), sink_context_(context) {
    data_ = static_cast<unsigned char *>(std::malloc(stage));
    if (data_) capacity_ = stage;
    else failed_ = true;
}

OutputStream::~OutputStream() { std::free(data_); }

void OutputStream::give_up() {
    failed_ = true;
    capacity_ = size_;  // nothing more takes the inline path
}

void OutputStream::append_slow(const void *bytes, size_t n) {
    if (failed_ || n == 0) return;
    if (sink_) {
        // The stage is full: pass it on, then stage the new bytes, or pass
        // them on directly when they would not fit.
        if (!flush()) return;
        if (n <= capacity_) {
            std::memcpy(data_, bytes, n);
            size_ = n;
        } else if (!sink_(sink_context_, static_cast<const unsigned char *>(bytes), n)) {
            give_up();
        }
        return;
    }
    size_t want = capacity_ ? capacity_ : 65536;
    while (want - size_ < n) {
        if (want > SIZE_MAX / 2) return give_up();
        want *= 2;
    }
    void *grown = std::realloc(data_, want);
    if (!grown) return give_up();
    data_ = static_cast<unsigned char *>(grown);
    capacity_ = want;
    std::memcpy(data_ + size_, bytes, n);
    size_ += n;
}

bool OutputStream::flush() {
    if (failed_) return false;
    if (sink_ && size_ > 0) {
        if (!sink_(sink_context_, data_, size_)) {
            give_up();
            return false;
        }
        size_ = 0;
    }
    return true;
}

// ---- the file ---------------------------------------------------------------

namespace {

// The encoded bytes reach the file in pieces of this size; the whole encoded
// file is never held.
constexpr size_t kStage = 256 * 1024;

#if defined(_WIN32)
using StatRecord = struct _stat64;
int stat_path(const char *path, StatRecord *st) { return _stat64(path, st); }
bool is_regular(const StatRecord &st) { return (st.st_mode & _S_IFMT) == _S_IFREG; }
int open_new(const char *path, int) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}
int write_some(int fd, const unsigned char *p, size_t n) {
    unsigned int chunk = n > (1u << 30) ? (1u << 30) : static_cast<unsigned int>(n);
    return _write(fd, p, chunk);
}
int close_fd(int fd) { return _close(fd); }
int remove_path(const char *path) { return _unlink(path); }
int replace_path(const char *from, const char *to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}
unsigned long process_id() { return static_cast<unsigned long>(_getpid()); }
#else
using StatRecord = struct stat;
int stat_path(const char *path, StatRecord *st) { return lstat(path, st); }
bool is_regular(const StatRecord &st) { return S_ISREG(st.st_mode); }
int open_new(const char *path, int mode) {
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}
long write_some(int fd, const unsigned char *p, size_t n) {
    ssize_t done;
    do {
        done = write(fd, p, n);
    } while (done < 0 && errno == EINTR);
    return static_cast<long>(done);
}
int close_fd(int fd) { return close(fd); }
int remove_path(const char *path) { return unlink(path); }
int replace_path(const char *from, const char *to) { return rename(from, to); }
unsigned long process_id() { return static_cast<unsigned long>(getpid()); }
#endif

bool write_all(int fd, const unsigned char *data, size_t size) {
    while (size > 0) {
        auto done = write_some(fd, data, size);
        if (done <= 0) return false;
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

bool write_to_fd(void *context, const unsigned char *bytes, size_t n) {
    return write_all(*static_cast<const int *>(context), bytes, n);
}

int write_in_place(const char *path, const unsigned char *data, size_t size) {
    FILE *f = std::fopen(path, "wb");
    if (!f) return 0;
    bool ok = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0) ok = false;
    return ok ? 1 : 0;
}

// Opens a new, unique file named after `path`; its name goes to `temp`.
int open_temp_beside(const char *path, Buffer &temp, int mode) {
    static std::atomic<unsigned> counter{0};
    const size_t room = std::strlen(path) + 64;
    temp.reset(static_cast<unsigned char *>(std::malloc(room)));
    if (!temp) return -1;
    char *name = reinterpret_cast<char *>(temp.get());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(name, room, "%s.velmora-%lu-%u.tmp", path, process_id(),
                      counter.fetch_add(1));
        int fd = open_new(name, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

int write_file_safely(const char *path, Producer produce, void *context) {
    StatRecord st;
    const bool exists = stat_path(path, &st) == 0;
    if (exists && !is_regular(st)) {
        // Written in place, so only once the whole file is there to write.
        OutputStream out;
        if (!produce(out, context) || !out.flush()) return 0;
        return write_in_place(path, out.data(), out.size());
    }

    // A replaced file keeps its permission bits; a new one gets the usual ones.
    const int mode = exists ? static_cast<int>(st.st_mode & 07777) : 0666;
    Buffer temp;
    int fd = open_temp_beside(path, temp, mode);
    if (fd < 0) return 0;
    const char *temp_name = reinterpret_cast<const char *>(temp.get());
#if !defined(_WIN32)
    if (exists) (void)fchmod(fd, static_cast<mode_t>(mode));
#endif
    OutputStream out(kStage, write_to_fd, &fd);
    bool ok = produce(out, context) && out.flush();
    if (close_fd(fd) != 0) ok = false;
    if (ok && replace_path(temp_name, path) == 0) return 1;
    remove_path(temp_name);
    return 0;
}

}  // namespace velmora
