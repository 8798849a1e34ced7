#include "progress.h"

#include "text.h"

#include <csignal>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace velmora_cli {

namespace {

volatile std::sig_atomic_t g_resized = 0;

#if !defined(_WIN32)
extern "C" void on_resize(int) { g_resized = 1; }
#endif

int terminal_width() {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    struct winsize ws;
    if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
#endif
    return 80;
}

std::string clock_text(double seconds) {
    const long s = long(seconds + 0.5);
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

Progress::Progress(size_t total, bool enabled)
    : total_(total), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

void Progress::show(size_t done, const std::vector<std::string> &in_flight) {
    if (!enabled_) return;
    if (g_resized) {
        g_resized = 0;
        width_ = 0;
    }
    if (width_ == 0) width_ = terminal_width();
    const std::string text = line(done, in_flight);
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
}

void Progress::clear() {
    if (enabled_) std::fprintf(stderr, "\r\033[K");
}

// Measured in the columns the terminal gives each character, and cut between
// characters: the count and times first, the files in flight with what room
// is left (they are the first to go on a narrow terminal).
std::string Progress::line(size_t done, const std::vector<std::string> &in_flight) const {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const int percent = total_ ? int(done * 100 / total_) : 100;
    std::string counts = std::to_string(done) + "/" + std::to_string(total_) + " " +
                         std::to_string(percent) + "% " + clock_text(elapsed);
    if (done > 0 && done < total_)
        counts += ", " + clock_text(elapsed / double(done) * double(total_ - done)) + " left";
    // The last column stays free: a line that fills it wraps on some terminals.
    const size_t room = width_ > 1 ? size_t(width_ - 1) : 0;
    // The bar gives way to the counts and times on a narrow terminal.
    const size_t spare = room > counts.size() + 3 ? room - counts.size() - 3 : 0;
    const size_t bar = spare < 20 ? spare : 20;
    const size_t filled = total_ ? done * bar / total_ : bar;
    std::string line = bar < 4 ? counts
                               : "[" + std::string(filled, '#') + std::string(bar - filled, '.') +
                                     "] " + counts;
    if (columns(line) >= room) return cut_to_columns(line, room);
    std::string names;
    for (size_t k = 0; k < in_flight.size(); ++k)
        names += (k ? ", " : "  ") + shown_name(in_flight[k]);
    return line + cut_to_columns(names, room - columns(line));
}

bool stderr_is_terminal() {
#if defined(_WIN32)
    // A console (_isatty also says yes for the NUL device).
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
    return isatty(2) != 0;
#endif
}

#if defined(_WIN32)
// The console's width is read once: a resize sends no signal.
void watch_resizes() {}
#else
void watch_resizes() {
    struct sigaction winch = {};
    winch.sa_handler = on_resize;
    sigemptyset(&winch.sa_mask);
    sigaction(SIGWINCH, &winch, nullptr);
}
#endif

}  // namespace velmora_cli
