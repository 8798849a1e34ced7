/*
 * Times one export in process, as a host calls it: the library loaded by
 * path, the function found by name, called on the same files again and
 * again. Built for Linux and for Windows alike, so that the DLL under Wine
 * and the .so can be compared on one machine.
 *
 *   velmora_call_timer LIBRARY FUNCTION INPUT OUTPUT [RUNS]
 *
 * FUNCTION is an export that takes only the two paths (invert, grayscale,
 * sepia, auto_levels). Prints the median and the fastest wall time in
 * milliseconds and the process's peak resident memory in MiB.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <dlfcn.h>
#include <sys/resource.h>
#include <time.h>
#endif

typedef int (*AdjustFn)(const char *input_path, const char *output_path);
typedef const char *(*LastErrorFn)(void);

static double now_ms(void) {
#if defined(_WIN32)
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)f.QuadPart;
#else
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec * 1000.0 + (double)ts.tv_nsec / 1e6;
#endif
}

static double peak_mib(void) {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS pmc;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) return -1.0;
    return (double)pmc.PeakWorkingSetSize / (1024.0 * 1024.0);
#else
    struct rusage ru;
    if (getrusage(RUSAGE_SELF, &ru) != 0) return -1.0;
    return (double)ru.ru_maxrss / 1024.0;
#endif
}

static int by_value(const void *a, const void *b) {
    const double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char **argv) {
    char name[64];
    int runs, i;
    double *ms;
    AdjustFn adjust;
    LastErrorFn last_error;
    if (argc < 5) {
        fprintf(stderr, "usage: %s LIBRARY FUNCTION INPUT OUTPUT [RUNS]\n", argv[0]);
        return 2;
    }
    runs = argc > 5 ? atoi(argv[5]) : 5;
    if (runs < 1) runs = 1;
    snprintf(name, sizeof name, "velmora_%s", argv[2]);
#if defined(_WIN32)
    {
        HMODULE lib = LoadLibraryA(argv[1]);
        if (!lib) {
            fprintf(stderr, "cannot load %s\n", argv[1]);
            return 1;
        }
        adjust = (AdjustFn)(void (*)(void))GetProcAddress(lib, name);
        last_error = (LastErrorFn)(void (*)(void))GetProcAddress(lib, "velmora_last_error");
    }
#else
    {
        void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
            return 1;
        }
        *(void **)&adjust = dlsym(lib, name);
        *(void **)&last_error = dlsym(lib, "velmora_last_error");
    }
#endif
    if (!adjust || !last_error) {
        fprintf(stderr, "no %s in %s\n", name, argv[1]);
        return 1;
    }
    ms = (double *)malloc(sizeof(double) * (size_t)runs);
    if (!ms) return 1;
    for (i = 0; i < runs; ++i) {
        const double start = now_ms();
        if (!adjust(argv[3], argv[4])) {
            fprintf(stderr, "%s failed: %s\n", name, last_error());
            free(ms);
            return 1;
        }
        ms[i] = now_ms() - start;
    }
    qsort(ms, (size_t)runs, sizeof(double), by_value);
    printf("%s: median %.1f ms, fastest %.1f ms over %d runs; peak resident %.1f MiB\n", name,
           ms[runs / 2], ms[0], runs, peak_mib());
    free(ms);
    return 0;
}
