// Stopping a run cleanly: SIGINT, SIGTERM and SIGHUP, or on Windows the
// console's Ctrl-C, Ctrl-Break and close. In a batch the first stop lets the
// files in progress finish, so no output is left half-written, and starts no
// further one; a second one stops at once (the workers are killed: their
// outputs are never named until whole). One file stops at the first. Once
// the command has cleaned up, it ends by the signal that stopped it, so that
// a calling script stops too.
#ifndef VELMORA_TOOLS_STOP_SIGNALS_H
#define VELMORA_TOOLS_STOP_SIGNALS_H

namespace velmora_cli {

// From here on, stops are counted instead of ending the process; the
// workers are ended at the first (`first_ends_at_once`) or the second.
void catch_stops(bool first_ends_at_once);

// A stop has come: start no further file.
bool stopping();

// Enough stops have come to end the files in progress.
bool stopping_at_once();

// After a stop, once everything is cleaned up: ends the process by the
// signal (its default action), as a shell expects of a stopped command.
// Where no signal can end it (Windows), returns 128 + the signal instead, as
// shells report it: 129 SIGHUP, 130 Ctrl-C, 143 SIGTERM.
int end_by_stop_signal();

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
