// Writing the output file so that a failure never destroys what was there.
// The output's path is first followed through symbolic links to the file
// itself. A regular file (or a new one) is replaced: the bytes stream, as the
// encoder makes them, into a new file in the same folder (on Linux one with
// no name until it is complete), which then takes the old file's owner, group,
// extended attributes (ACLs among them) and mode and is renamed over it. Where the folder takes no new file, an
// existing file is rewritten in place, but only after the whole new content
// is encoded and the space for it reserved. Devices and FIFOs are written in
// place, once the whole file is encoded: there is nothing to rename over.
#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "file_paths.h"
#include "image.h"

#include <fcntl.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/xattr.h>

#include <new>
#include <vector>
#endif

namespace velmora {

namespace {
std::atomic<bool> g_anonymous_files{true};
}  // namespace

void use_anonymous_files(bool on) { g_anonymous_files = on; }

// ---- the stream -------------------------------------------------------------

OutputStream::OutputStream(size_t stage, Sink sink, void *context)
    : sink_(sink), sink_context_(context) {
    data_ = static_cast<unsigned char *>(std::malloc(stage));
    if (data_) capacity_ = stage;
    else failed_ = true;
}

OutputStream::OutputStream(size_t stage, Sink sink, PatchFn patch, TruncateFn truncate,
                           void *context)
    : OutputStream(stage, sink, context) {
    sink_patch_ = patch;
    sink_truncate_ = truncate;
}

OutputStream::~OutputStream() { std::free(data_); }

bool OutputStream::patch(size_t offset, const void *bytes, size_t n) {
    if (failed_) return false;
    if (offset > position() || n > position() - offset || !can_rewrite()) {
        give_up();
        return false;
    }
    const unsigned char *p = static_cast<const unsigned char *>(bytes);
    // The part the sink has taken is written there; the staged part here.
    if (offset < passed_) {
        const size_t there = n < passed_ - offset ? n : passed_ - offset;
        if (!sink_patch_(sink_context_, offset, p, there)) {
            give_up();
            return false;
        }
        offset += there;
        p += there;
        n -= there;
    }
    if (n > 0) std::memcpy(data_ + (offset - passed_), p, n);
    return true;
}

bool OutputStream::truncate(size_t offset) {
    if (failed_) return false;
    if (offset > position() || !can_rewrite()) {
        give_up();
        return false;
    }
    if (offset >= passed_) {
        size_ = offset - passed_;
        return true;
    }
    size_ = 0;
    if (!sink_truncate_(sink_context_, offset)) {
        give_up();
        return false;
    }
    passed_ = offset;
    return true;
}

void OutputStream::give_up() {
    failed_ = true;
    capacity_ = size_;  // nothing more takes the inline path
}

void OutputStream::append_slow(const void *bytes, size_t n) {
    if (failed_ || n == 0) return;
    if (sink_) {
        // Pass on what is staged, then stage the new bytes, or pass them on
        // directly when they are half a stage or more.
        if (!flush()) return;
        if (n < capacity_ / 2) {
            std::memcpy(data_, bytes, n);
            size_ = n;
        } else if (!sink_(sink_context_, static_cast<const unsigned char *>(bytes), n)) {
            give_up();
        } else {
            passed_ += n;
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
        passed_ += size_;
        size_ = 0;
    }
    return true;
}

// ---- the file ---------------------------------------------------------------

namespace {

// The encoded bytes reach the file in pieces of this size; the whole encoded
// file is never held, except where it is written in place.
constexpr size_t kStage = 256 * 1024;

// Symbolic links followed to reach the output; a longer chain is a loop.
constexpr int kMaxLinks = 40;

// The temporary name, in the output's folder: a fixed length whatever the
// output's name, so that every name the system allows can be written.
constexpr char kTempName[] = ".velmora-XXXXXX.tmp";
constexpr size_t kTempRandom = 6;  // the X's, just before ".tmp"

// Results of the replacing write.
enum { kFailed = 0, kWritten = 1, kFolderClosed = -1 };

// A malloc'd, zero-terminated path.
struct Path {
    Buffer bytes;
    char *text() const { return reinterpret_cast<char *>(bytes.get()); }
    const char *c_str() const { return text(); }
    explicit operator bool() const { return static_cast<bool>(bytes); }
};

// The first `head_length` bytes of `head`, then `tail`.
Path join(const char *head, size_t head_length, const char *tail) {
    const size_t tail_length = std::strlen(tail);
    Path p;
    p.bytes.reset(static_cast<unsigned char *>(std::malloc(head_length + tail_length + 1)));
    if (!p) return p;
    std::memcpy(p.text(), head, head_length);
    std::memcpy(p.text() + head_length, tail, tail_length + 1);
    return p;
}

Path temp_path_beside(const char *target) {
    return join(target, folder_prefix_length(target), kTempName);
}

// New random characters in a temporary name. Names need only rarely
// collide, not be unpredictable: an exclusive create settles the rest.
void randomise(Path &temp, unsigned long pid) {
    static std::atomic<uint64_t> counter{0};
    uint64_t bits = static_cast<uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    bits ^= (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull;
    bits ^= static_cast<uint64_t>(pid) << 40;
    bits ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&bits)) * 0xBF58476D1CE4E5B9ull;
    bits ^= bits >> 31;
    bits *= 0x94D049BB133111EBull;
    bits ^= bits >> 29;
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    char *x = temp.text() + std::strlen(temp.text()) - 4 - kTempRandom;
    for (size_t i = 0; i < kTempRandom; ++i, bits /= 36) x[i] = kChars[bits % 36];
}

#if defined(_WIN32)
using StatRecord = struct _stat64;
int stat_path(const char *path, StatRecord *st) { return stat_file(path, st); }
bool is_regular(const StatRecord &st) { return (st.st_mode & _S_IFMT) == _S_IFREG; }
bool may_write(const char *path) { return access_file(path, 2) == 0; }
int open_new(const char *path, int) {
    return open_fd(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
}
int write_some(int fd, const unsigned char *p, size_t n) {
    unsigned int chunk = n > (1u << 30) ? (1u << 30) : static_cast<unsigned int>(n);
    return _write(fd, p, chunk);
}
int close_fd(int fd) { return _close(fd); }
int remove_path(const char *path) { return remove_file(path); }
int replace_path(const char *from, const char *to) {
    // Another writer replacing the same file at this moment holds it for a
    // few milliseconds: try again for a while rather than fail the call.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (move_file(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
        Sleep(10);
    }
    return -1;
}
unsigned long process_id() { return static_cast<unsigned long>(_getpid()); }
// Links are not followed on Windows: the path is the output.
Path resolve_links(const char *path) { return join(path, 0, path); }
#else
using StatRecord = struct stat;
int stat_path(const char *path, StatRecord *st) { return lstat(path, st); }
bool is_regular(const StatRecord &st) { return S_ISREG(st.st_mode); }
bool may_write(const char *path) { return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0; }
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

// A link's text, or null.
Path read_link(const char *path) {
    for (size_t room = 256; room <= (size_t{1} << 20); room *= 4) {
        Path p;
        p.bytes.reset(static_cast<unsigned char *>(std::malloc(room)));
        if (!p) return p;
        ssize_t n = readlink(path, p.text(), room);
        if (n < 0) return Path();
        if (static_cast<size_t>(n) < room) {
            p.text()[n] = '\0';
            return p;
        }
    }
    return Path();
}

// The path of the file that `path` leads to through symbolic links (a
// relative link counts from its own folder), or null for a loop or a chain
// too long. The last path need not exist: a dangling link gets its target.
Path resolve_links(const char *path) {
    Path current = join(path, 0, path);
    for (int hops = 0; current; ++hops) {
        struct stat st;
        if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        if (hops == kMaxLinks) return Path();
        Path link = read_link(current.c_str());
        if (!link) return link;
        current = link.c_str()[0] == '/'
                      ? std::move(link)
                      : join(current.c_str(), folder_prefix_length(current.c_str()), link.c_str());
    }
    return current;
}

// The old file's extended attributes, copied to the replacement: all that the
// system lets this process read and write. POSIX ACLs are among them (as
// system.posix_acl_access), and so are a user's own tags and a security
// label. One that cannot be copied (a label without the privilege to set
// it, say) is left out: the new content still takes the file's place.
void take_over_attributes(int fd, const char *old_path) {
#if defined(__linux__)
    try {
        std::vector<char> names(4096), value;
        ssize_t size = listxattr(old_path, names.data(), names.size());
        if (size < 0 && errno == ERANGE) {
            size = listxattr(old_path, nullptr, 0);
            if (size <= 0) return;
            names.resize(static_cast<size_t>(size));
            size = listxattr(old_path, names.data(), names.size());
        }
        for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
            const char *name = &names[at];
            const ssize_t n = getxattr(old_path, name, nullptr, 0);
            if (n < 0) continue;
            value.resize(static_cast<size_t>(n) + 1);
            const ssize_t got = getxattr(old_path, name, value.data(), value.size());
            if (got >= 0) (void)fsetxattr(fd, name, value.data(), static_cast<size_t>(got), 0);
        }
    } catch (const std::bad_alloc &) {
        // Out of memory for the list: the attributes stay behind, as any
        // that cannot be copied do.
    }
#else
    (void)fd;
    (void)old_path;
#endif
}

// The replacement takes the old file's owner and group where the process
// may give them (root; or a group the user belongs to), its extended
// attributes, then its mode: in that order, as changing the owner clears the
// set-id bits, and setting an ACL sets the group bits of the mode.
void take_over_old_file(int fd, const char *old_path, const struct stat &old) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0) (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    take_over_attributes(fd, old_path);
    (void)fchmod(fd, old.st_mode & 07777);
}

// A file with no name yet in the output's folder; a process that dies before
// it is named leaves nothing behind. -1 where the system has no such file.
int open_anonymous(const char *target, int mode) {
#if defined(O_TMPFILE)
    const size_t prefix = folder_prefix_length(target);
    Path folder = prefix ? join(target, prefix, "") : join(".", 1, "");
    if (!folder) return -1;
    return open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
#else
    (void)target;
    (void)mode;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// Gives the anonymous file a name; fails (EEXIST) where the name is taken.
int link_anonymous(int fd, const char *name) {
    char own[48];
    std::snprintf(own, sizeof own, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, own, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return -1;
    // Without /proc: by the descriptor itself, which needs more privilege.
    return linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH);
}

// Names the complete anonymous file: a new output directly by its own name;
// otherwise by a temporary name (`temp`), which the caller renames over the
// output, since a link never replaces a name.
bool name_anonymous(int fd, const char *target, bool is_new, Path &temp, bool &at_target) {
    if (is_new) {
        if (link_anonymous(fd, target) == 0) {
            at_target = true;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    temp = temp_path_beside(target);
    for (int attempt = 0; temp && attempt < 100; ++attempt) {
        randomise(temp, process_id());
        if (link_anonymous(fd, temp.c_str()) == 0) return true;
        if (errno != EEXIST) break;
    }
    temp = Path();
    return false;
}
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

// The new file is written from its start, so an offset in the stream is one
// in the file. A patch leaves the file's position at its end, where the next
// bytes go.
bool patch_fd(void *context, size_t offset, const unsigned char *bytes, size_t n) {
    const int fd = *static_cast<const int *>(context);
#if defined(_WIN32)
    const __int64 end = _lseeki64(fd, 0, SEEK_END);
    if (end < 0 || _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return false;
    const bool ok = write_all(fd, bytes, n);
    return _lseeki64(fd, end, SEEK_SET) == end && ok;
#else
    while (n > 0) {
        const ssize_t done = pwrite(fd, bytes, n, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        offset += static_cast<size_t>(done);
        n -= static_cast<size_t>(done);
    }
    return true;
#endif
}

// Cuts the file at `offset` and writes on from there.
bool truncate_fd(void *context, size_t offset) {
    const int fd = *static_cast<const int *>(context);
#if defined(_WIN32)
    return _chsize_s(fd, static_cast<__int64>(offset)) == 0 &&
           _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) == static_cast<__int64>(offset);
#else
    return ftruncate(fd, static_cast<off_t>(offset)) == 0 &&
           lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
#endif
}

// Opens a new file under a temporary name in the output's folder.
int open_temp_beside(const char *target, Path &temp, int mode) {
    temp = temp_path_beside(target);
    if (!temp) return -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        randomise(temp, process_id());
        int fd = open_new(temp.c_str(), mode);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    const int saved = errno;
    temp = Path();
    errno = saved;
    return -1;
}

// Removes a temporary that did not take the output's place. In a sticky
// folder only a file's owner (or the folder's) may remove it, and the
// temporary may carry the old file's owner by now: then it is taken back
// first (a process that could give it away can take it back).
void discard(const char *temp) {
    if (remove_path(temp) == 0) return;
#if !defined(_WIN32)
    if (errno == EPERM && lchown(temp, geteuid(), static_cast<gid_t>(-1)) == 0) remove_path(temp);
#endif
}

// Writes a complete new file in the output's folder and only then puts it in
// place of the output, so that the output is always either the old file or
// the whole new one. kFolderClosed when the folder takes no new file.
int write_replacement(const char *target, const StatRecord *old, Producer produce,
                      void *context) {
    // A replacement is private until its owner and mode are set.
    const int mode = old ? 0600 : 0666;
    Path temp;  // the file's visible name until it is in place, if it has one
    int fd = -1;
    bool anonymous = false;
#if !defined(_WIN32)
    if (g_anonymous_files) fd = open_anonymous(target, mode);
    anonymous = fd >= 0;
#endif
    if (!anonymous) {
        fd = open_temp_beside(target, temp, mode);
        if (fd < 0) return (errno == EACCES || errno == EPERM) ? kFolderClosed : kFailed;
    }
    OutputStream out(kStage, write_to_fd, patch_fd, truncate_fd, &fd);
    bool ok = produce(out, context) && out.flush();
    bool at_target = false;
#if !defined(_WIN32)
    // Named before it takes the old owner: a file of another owner may not be
    // linked where hard links are protected, unless the process may override
    // that too.
    if (ok && anonymous) ok = name_anonymous(fd, target, old == nullptr, temp, at_target);
    if (ok && old) take_over_old_file(fd, target, *old);
#endif
    if (close_fd(fd) != 0) ok = false;
    if (ok && at_target) return kWritten;
    if (ok && replace_path(temp.c_str(), target) == 0) return kWritten;
    if (temp) discard(temp.c_str());
    else if (at_target) remove_path(target);  // new, but its last bytes may be lost
    return kFailed;
}

// The whole new file, in memory, for the writes that go in place.
bool encode_whole(OutputStream &out, Producer produce, void *context) {
    return produce(out, context) && out.flush();
}

// Writes a device, a FIFO or the like, once the whole file is encoded.
int write_device(const char *target, Producer produce, void *context) {
    OutputStream out;
    if (!encode_whole(out, produce, context)) return kFailed;
    FILE *f = open_file(target, "wb");
    if (!f) return kFailed;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (std::fclose(f) != 0) ok = false;
    return ok ? kWritten : kFailed;
}

// Rewrites an existing regular file in place (its folder takes no new file).
// The file is cut only once the new content is written, and written only
// once the space for all of it is reserved: a full disk leaves it as it was.
int write_reserved_in_place(const char *target, Producer produce, void *context) {
    OutputStream out;
    if (!encode_whole(out, produce, context)) return kFailed;
    const size_t size = out.size();
#if defined(_WIN32)
    HANDLE h = create_file(target, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return kFailed;
    LARGE_INTEGER old_size, new_size, start;
    new_size.QuadPart = static_cast<LONGLONG>(size);
    start.QuadPart = 0;
    bool ok = GetFileSizeEx(h, &old_size) != 0;
    // Setting the end first allocates the space.
    if (ok && new_size.QuadPart > old_size.QuadPart)
        ok = SetFilePointerEx(h, new_size, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    if (ok) ok = SetFilePointerEx(h, start, nullptr, FILE_BEGIN) != 0;
    for (size_t done = 0; ok && done < size;) {
        const DWORD chunk = size - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size - done);
        DWORD wrote = 0;
        ok = WriteFile(h, out.data() + done, chunk, &wrote, nullptr) && wrote > 0;
        done += wrote;
    }
    if (ok) ok = SetFilePointerEx(h, new_size, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    if (!CloseHandle(h)) ok = false;
    return ok ? kWritten : kFailed;
#else
    int fd = open(target, O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return kFailed;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && posix_fallocate(fd, 0, static_cast<off_t>(size)) != 0) {
        // Nothing of the old content was touched; only its length may have grown.
        const bool restored = ftruncate(fd, st.st_size) == 0;
        (void)restored;
        ok = false;
    }
    for (size_t done = 0; ok && done < size;) {
        ssize_t n = pwrite(fd, out.data() + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    if (ok) ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
    if (close(fd) != 0) ok = false;
    return ok ? kWritten : kFailed;
#endif
}

}  // namespace

int write_file_safely(const char *path, Producer produce, void *context) {
    Path target = resolve_links(path);
    if (!target) return 0;
    StatRecord st;
    const bool exists = stat_path(target.c_str(), &st) == 0;
    if (exists && !is_regular(st)) return write_device(target.c_str(), produce, context);
    // A file its owner made read-only stays as it is.
    if (exists && !may_write(target.c_str())) return 0;
    int result = write_replacement(target.c_str(), exists ? &st : nullptr, produce, context);
    if (result == kFolderClosed)
        result = exists ? write_reserved_in_place(target.c_str(), produce, context) : kFailed;
    return result == kWritten ? 1 : 0;
}

}  // namespace velmora
