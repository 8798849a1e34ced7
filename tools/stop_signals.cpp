#include "stop_signals.h"

#include <csignal>
#include <cstdio>
#include <initializer_list>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace velmora_cli {

namespace {

volatile std::sig_atomic_t g_stop_signal = 0;
volatile std::sig_atomic_t g_stop_count = 0;
volatile std::sig_atomic_t g_stops_to_end = 2;

extern "C" void on_stop(int sig) {
    if (g_stop_signal == 0) g_stop_signal = sig;
    g_stop_count = g_stop_count + 1;
}

#if defined(_WIN32)
// A closed console, a logoff or a shutdown count as SIGHUP, which Windows
// does not define; its number is taken for the exit status (129).
constexpr int kConsoleGone = 1;

HANDLE g_stop_event = nullptr;

BOOL WINAPI on_console_event(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        on_stop(SIGINT);
        SetEvent(g_stop_event);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process a few seconds after this returns: stop at
        // once, as after a second Ctrl-C, and let the main thread clean up
        // and exit meanwhile.
        stop_at_once(kConsoleGone);
        SetEvent(g_stop_event);
        Sleep(10000);
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL WINAPI ignore_breaks(DWORD type) { return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT; }
#endif

}  // namespace

bool stopping() { return g_stop_signal != 0; }

bool stopping_at_once() { return g_stop_count >= g_stops_to_end; }

#if defined(_WIN32)
void catch_stops(bool first_ends_at_once) {
    g_stops_to_end = first_ends_at_once ? 1 : 2;
    g_stop_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void ignore_stops() { SetConsoleCtrlHandler(ignore_breaks, TRUE); }

void stop_at_once(int signal) {
    if (g_stop_signal == 0) g_stop_signal = signal;
    g_stop_count = 2;
}

int end_by_stop_signal() {
    std::fflush(nullptr);
    return 128 + int(g_stop_signal);
}

void *stop_event() { return g_stop_event; }
#else
void catch_stops(bool first_ends_at_once) {
    g_stops_to_end = first_ends_at_once ? 1 : 2;
    struct sigaction sa = {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read of standard input returns early.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

int end_by_stop_signal() {
    const int sig = int(g_stop_signal);
    std::fflush(nullptr);
    std::signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(sig);
    return 128 + sig;  // not reached: the default action of each ends the process
}

void ignore_stops() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_IGN);
}
#endif

}  // namespace velmora_cli
