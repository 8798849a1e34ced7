#include "pipes.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "files.h"
#include "stop_signals.h"

#if defined(_WIN32)
#include <io.h>
#define VELMORA_READ _read
#define VELMORA_WRITE _write
#else
#include <unistd.h>
#define VELMORA_READ read
#define VELMORA_WRITE write
#endif

namespace velmora_cli {

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
// N from PREFIX + N, or -1.
int descriptor_after(const std::string &path, const std::string &prefix) {
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size()) return -1;
    const std::string digits = path.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6)
        return -1;
    return std::atoi(digits.c_str());
}
#endif

// All of `size` bytes to `fd`; false with errno set on failure. A stop
// leaves the rest unwritten: the command ends by it.
bool write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        const auto n = VELMORA_WRITE(fd, data, static_cast<unsigned>(size));
        if (n < 0 && errno == EINTR && !stopping()) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Standard input, whole, into `path`.
bool save_standard_input(const std::string &path, std::string &error) {
    std::ofstream out(fs_path(path), std::ios::binary);
    char buf[1 << 16];
    while (out) {
        const auto n = VELMORA_READ(0, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0 && errno == EINTR && !stopping()) continue;
        if (n < 0) {
            if (!stopping()) error = std::string("cannot read standard input: ") + std::strerror(errno);
            return false;
        }
        out.write(buf, n);
    }
    out.close();
    if (out) return true;
    error = "cannot keep standard input in " + path;
    return false;
}

}  // namespace

bool is_standard_input(const std::string &input) { return input == "-"; }

int output_descriptor(const std::string &output) {
    if (output == "-") return 1;
#if defined(_WIN32)
    return -1;  // no such paths name descriptors there
#else
    if (output == "/dev/stdout") return 1;
    const int n = descriptor_after(output, "/dev/fd/");
    return n >= 0 ? n : descriptor_after(output, "/proc/self/fd/");
#endif
}

Pipes::~Pipes() {
    if (folder_.empty()) return;
    std::error_code ec;
    fs::remove_all(fs_path(folder_), ec);
}

bool Pipes::prepare(Job &job, const std::string &format, std::string &error) {
    descriptor_ = output_descriptor(job.output);
    const bool reads = is_standard_input(job.input);
    if (!reads && descriptor_ < 0) return true;
    if (!make_temp_folder(folder_, error)) return false;
    if (reads) {
        job.shown_input = "standard input";
        job.input = folder_ + "/input";
        // A Ctrl-C while standard input is read ends the command.
        catch_stops(true);
        if (!save_standard_input(job.input, error)) return false;
    }
    if (descriptor_ >= 0) {
        job.shown_output = shown_output_ = descriptor_ == 1 ? "standard output" : job.output;
        // No extension keeps the input's format.
        job.output = output_ = folder_ + "/output" + (format.empty() ? "" : "." + format);
    }
    return true;
}

bool Pipes::deliver(std::string &error) const {
    if (descriptor_ < 0) return true;
#if !defined(_WIN32)
    // A reader gone is told as an error, after which the command cleans up.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::ifstream in(fs_path(output_), std::ios::binary);
    char buf[1 << 16];
    while (in) {
        in.read(buf, sizeof buf);
        if (in.gcount() > 0 && !write_all(descriptor_, buf, size_t(in.gcount()))) {
            if (stopping()) return true;
            error = "cannot write " + shown_output_ + ": " + std::strerror(errno);
            return false;
        }
    }
    if (in.eof()) return true;
    error = "cannot read back " + output_;
    return false;
}

}  // namespace velmora_cli
