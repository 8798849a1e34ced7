// Stopping a run cleanly: SIGINT, SIGTERM and SIGHUP, or on Windows the
// console's Ctrl-C, Ctrl-Break and close. The first stop lets the files in
// progress finish, so no output is left half-written, and starts no further
// one; a second one stops at once (the workers are killed: their outputs are
// never named until whole).
#ifndef VELMORA_TOOLS_STOP_SIGNALS_H
#define VELMORA_TOOLS_STOP_SIGNALS_H

namespace velmora_cli {

// From here on, stops are counted instead of ending the process.
// `in_this_process`: the files run here, so a second stop may end the
// process as the signal would (workers are killed by the parent instead).
void catch_stops(bool in_this_process);

// A stop has come: start no further file.
bool stopping();

// A second stop has come: end the files in progress.
bool stopping_at_once();

// 128 + the signal, as shells report it: 129 SIGHUP, 130 Ctrl-C, 143 SIGTERM.
int stop_status();

// For a worker, whose stops are the parent's to act on.
void ignore_stops();

#if defined(_WIN32)
// Stops as after a second stop, with `signal` as the cause unless a stop
// came before.
void stop_at_once(int signal);

// An event (a HANDLE) set at every stop, to wake a wait for the workers.
void *stop_event();
#endif

}  // namespace velmora_cli

#endif
