// Opening files by the paths callers pass. Elsewhere a path goes to the
// system unchanged. On Windows a path that is valid UTF-8 and holds at least
// one non-ASCII character is taken as UTF-8 and handed to the wide (UTF-16)
// API; every other path goes to the ANSI API exactly as before, so callers
// that pass names in the ANSI code page keep working. A path of MAX_PATH
// bytes or more, by either route, goes to the wide API made absolute with
// the \\?\ prefix, which those calls need past MAX_PATH characters. Internal.
#ifndef VELMORA_FILE_PATHS_H
#define VELMORA_FILE_PATHS_H

#include <cstddef>
#include <cstdio>

#if defined(_WIN32)
#include <sys/stat.h>
#include <windows.h>
#endif

namespace velmora {

// fopen by the rule above.
FILE *open_file(const char *path, const char *mode);

// Length of the folder part of `path`, up to and including its last
// separator; 0 when the path is a bare name.
size_t folder_prefix_length(const char *path);

#if defined(_WIN32)
// True when `path` takes the UTF-8 route (a long path on the ANSI route
// still goes to the wide API, converted from the ANSI code page).
bool takes_utf8_route(const char *path);

// The CRT and Win32 calls that output_file.cpp makes, by the rule above.
int stat_file(const char *path, struct _stat64 *st);
int access_file(const char *path, int mode);
int open_fd(const char *path, int flags, int permissions);
int remove_file(const char *path);
// MoveFileEx(from, to, flags); nonzero on success.
int move_file(const char *from, const char *to, DWORD flags);
HANDLE create_file(const char *path, DWORD access, DWORD share, DWORD disposition);
#endif

}  // namespace velmora

#endif
