// Reading the input file, by the path rules of file_paths.h: whole, or in
// pieces with positioned reads.
#include "input_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "file_paths.h"

namespace velmora {

Buffer read_file(const char *path, uint64_t *size) {
    FILE *f = open_file(path, "rb");
    if (!f) return nullptr;
    Buffer data;
    long end = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) end = std::ftell(f);
    // Sizes are 32-bit counts: the decoder takes an int.
    if (end > 0 && end <= INT_MAX) {
        std::rewind(f);
        data.reset(static_cast<unsigned char *>(std::malloc(static_cast<size_t>(end))));
        if (data) advise_huge_pages(data.get(), static_cast<size_t>(end));
        if (data && std::fread(data.get(), 1, static_cast<size_t>(end), f) !=
                        static_cast<size_t>(end))
            data.reset();
    }
    std::fclose(f);
    if (data) *size = static_cast<uint64_t>(end);
    return data;
}

// ---- the source ----------------------------------------------------------------

InputSource::~InputSource() = default;

bool InputSource::read_at(uint64_t offset, void *dst, size_t n) {
    if (failed_) return false;
    if (offset > size_ || n > size_ - offset) return false;  // past the end: not a failure
    if (n == 0) return true;
    if (memory_) {
        std::memcpy(dst, memory_ + offset, n);
        return true;
    }
    if (!fetch(offset, static_cast<unsigned char *>(dst), n)) failed_ = true;
    return !failed_;
}

const unsigned char *InputSource::whole() {
    if (memory_ || failed_) return memory_;
    if (size_ > static_cast<uint64_t>(INT_MAX)) return nullptr;
    Buffer data(static_cast<unsigned char *>(std::malloc(static_cast<size_t>(size_))));
    if (!data) return nullptr;
    advise_huge_pages(data.get(), static_cast<size_t>(size_));
    if (!read_at(0, data.get(), static_cast<size_t>(size_))) return nullptr;
    kept_ = std::move(data);
    memory_ = kept_.get();
    return memory_;
}

namespace {

class MemorySource final : public InputSource {
public:
    MemorySource(const unsigned char *bytes, size_t size) : InputSource(size) {
        memory_ = bytes;
    }
    MemorySource(Buffer bytes, uint64_t size) : InputSource(size), owned_(std::move(bytes)) {
        memory_ = owned_.get();
    }

protected:
    bool fetch(uint64_t offset, unsigned char *dst, size_t n) override {
        std::memcpy(dst, memory_ + offset, n);
        return true;
    }

private:
    Buffer owned_;
};

#if !defined(_WIN32)

class FileSource final : public InputSource {
public:
    FileSource(int fd, uint64_t size) : InputSource(size), fd_(fd) {}
    ~FileSource() override { ::close(fd_); }

protected:
    bool fetch(uint64_t offset, unsigned char *dst, size_t n) override {
        while (n) {
            const ssize_t got = ::pread(fd_, dst, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // an error, or the file is shorter now
            dst += got;
            offset += static_cast<uint64_t>(got);
            n -= static_cast<size_t>(got);
        }
        return true;
    }

private:
    int fd_;
};

// The open file when it is a regular one of an accepted size; -1 when the
// path is refused; -2 when it is something else, to be read as read_file reads.
int open_regular(const char *path, uint64_t *size) {
    int fd;
    do fd = ::open(path, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return -2;
    }
    if (st.st_size <= 0 || st.st_size > INT_MAX) {
        ::close(fd);
        return -1;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return fd;
}

#else

class FileSource final : public InputSource {
public:
    FileSource(HANDLE h, uint64_t size) : InputSource(size), h_(h) {}
    ~FileSource() override { CloseHandle(h_); }

protected:
    bool fetch(uint64_t offset, unsigned char *dst, size_t n) override {
        while (n) {
            OVERLAPPED at;
            std::memset(&at, 0, sizeof at);
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD want = n > (1u << 30) ? DWORD(1u << 30) : static_cast<DWORD>(n);
            DWORD got = 0;
            if (!ReadFile(h_, dst, want, &got, &at) || got == 0) return false;
            dst += got;
            offset += got;
            n -= got;
        }
        return true;
    }

private:
    HANDLE h_;
};

#endif

}  // namespace

std::unique_ptr<InputSource> InputSource::of_memory(const unsigned char *bytes, size_t size) {
    return std::unique_ptr<InputSource>(new MemorySource(bytes, size));
}

std::unique_ptr<InputSource> open_input(const char *path) {
#if !defined(_WIN32)
    uint64_t size = 0;
    const int fd = open_regular(path, &size);
    if (fd >= 0) return std::unique_ptr<InputSource>(new FileSource(fd, size));
    if (fd == -1) return nullptr;
#else
    // Others may read, write or delete the file meanwhile: a read that then
    // fails is refused like any other failed read.
    HANDLE h = create_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return nullptr;  // a folder too: it needs backup semantics
    if (GetFileType(h) == FILE_TYPE_DISK) {
        LARGE_INTEGER n;
        if (!GetFileSizeEx(h, &n) || n.QuadPart <= 0 || n.QuadPart > INT_MAX) {
            CloseHandle(h);
            return nullptr;
        }
        return std::unique_ptr<InputSource>(new FileSource(h, static_cast<uint64_t>(n.QuadPart)));
    }
    CloseHandle(h);
    uint64_t size = 0;
#endif
    Buffer bytes = read_file(path, &size);
    if (!bytes) return nullptr;
    return std::unique_ptr<InputSource>(new MemorySource(std::move(bytes), size));
}

}  // namespace velmora
