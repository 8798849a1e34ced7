/*
 * A Windows host in plain C, as a real one uses the library: no import
 * library and no header, just LoadLibraryA and GetProcAddress by name.
 * Checks every export is there, then makes a few calls, one of them failing.
 * Prints what went wrong and exits 1; exits 0 when everything held.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "export_names.h" /* generated from velmora.h */

typedef int (*InitFn)(void);
typedef void (*CleanupFn)(void);
typedef const char *(*LastErrorFn)(void);
typedef int (*AdjustFn)(const char *input_path, const char *output_path);

static int failures = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

static void check_text(const char *got, const char *expected, const char *what) {
    if (!got || strcmp(got, expected) != 0) {
        printf("FAILED: %s: got \"%s\", expected \"%s\"\n", what, got ? got : "(NULL)",
               expected);
        ++failures;
    }
}

/* FARPROC to a typed pointer, through the generic function pointer type that
 * compilers accept for such casts. */
#define LOOKUP(type, lib, name) ((type)(void (*)(void))GetProcAddress((lib), (name)))

/* The first bytes of a small file; the count read. */
static size_t read_start(const char *path, unsigned char *buf, size_t room) {
    FILE *f = fopen(path, "rb");
    size_t n;
    if (!f) return 0;
    n = fread(buf, 1, room, f);
    fclose(f);
    return n;
}

static unsigned le32(const unsigned char *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | ((unsigned)p[3] << 24);
}

/* A 2x1 24-bit BMP: blue-green-red order, rows padded to 4 bytes. */
static int write_input(const char *path) {
    static const unsigned char bmp[] = {
        'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,           /* file header */
        40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0,          /* 2 x 1, 24 bit */
        0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        30, 20, 10, 250, 128, 0, 0, 0, /* (10, 20, 30), (0, 128, 250), padding */
    };
    FILE *f = fopen(path, "wb");
    int ok = f && fwrite(bmp, 1, sizeof bmp, f) == sizeof bmp;
    if (f && fclose(f) != 0) ok = 0;
    return ok;
}

int main(void) {
    HMODULE lib = LoadLibraryA("tarvinex-velmora.dll");
    size_t i;
    if (!lib) {
        printf("FAILED: LoadLibraryA(\"tarvinex-velmora.dll\"): error %lu\n",
               (unsigned long)GetLastError());
        return 1;
    }

    for (i = 0; i < VELMORA_EXPORT_COUNT; ++i) {
        if (!GetProcAddress(lib, velmora_export_names[i])) {
            printf("FAILED: GetProcAddress(\"%s\")\n", velmora_export_names[i]);
            ++failures;
        }
    }
    check(GetProcAddress(lib, "run_op") == NULL, "internal name run_op is not exported");

    InitFn init = LOOKUP(InitFn, lib, "velmora_init");
    CleanupFn cleanup = LOOKUP(CleanupFn, lib, "velmora_cleanup");
    LastErrorFn last_error = LOOKUP(LastErrorFn, lib, "velmora_last_error");
    AdjustFn invert = LOOKUP(AdjustFn, lib, "velmora_invert");
    AdjustFn sepia = LOOKUP(AdjustFn, lib, "velmora_sepia");
    AdjustFn grayscale = LOOKUP(AdjustFn, lib, "velmora_grayscale");
    if (!init || !cleanup || !last_error || !invert || !sepia || !grayscale) {
        printf("FAILED: a function the host needs is missing\n");
        return 1;
    }

    check(init() == 1, "velmora_init returns 1");
    check_text(last_error(), "", "text after velmora_init");

    /* A success: both pixels inverted, written as BMP. */
    CreateDirectoryA("host-scratch", NULL);
    check(write_input("host-scratch\\in.bmp"), "writing the input file");
    check(invert("host-scratch\\in.bmp", "host-scratch\\out.bmp") == 1, "velmora_invert succeeds");
    check_text(last_error(), "", "text after a success");
    {
        unsigned char out[512];
        size_t size = read_start("host-scratch\\out.bmp", out, sizeof out);
        unsigned offset = size > 54 ? le32(out + 10) : 0;
        check(size > 54 && out[0] == 'B' && out[1] == 'M' && out[28] == 32,
              "the output is a 32-bit BMP");
        if (size > 54 && offset + 8 <= size) {
            /* Rows bottom-up, B G R A. */
            const unsigned char *p = out + offset;
            check(p[0] == 225 && p[1] == 235 && p[2] == 245 && p[3] == 255,
                  "first pixel is (245, 235, 225, 255)");
            check(p[4] == 5 && p[5] == 127 && p[6] == 255 && p[7] == 255,
                  "second pixel is (255, 127, 5, 255)");
        } else {
            check(0, "the output holds its pixels");
        }
    }

    /* Failures, each with its message. */
    check(sepia("host-scratch\\missing.bmp", "host-scratch\\never.bmp") == 0,
          "velmora_sepia fails on a missing file");
    check_text(last_error(), "sepia: cannot read host-scratch\\missing.bmp",
               "text after a read failure");
    check(GetFileAttributesA("host-scratch\\never.bmp") == INVALID_FILE_ATTRIBUTES,
          "no output after a failure");
    check(grayscale(NULL, "host-scratch\\never.bmp") == 0, "velmora_grayscale refuses NULL");
    check_text(last_error(), "grayscale: NULL input/output", "text after a NULL path");

    cleanup();
    check_text(last_error(), "", "text after velmora_cleanup");

    DeleteFileA("host-scratch\\in.bmp");
    DeleteFileA("host-scratch\\out.bmp");
    RemoveDirectoryA("host-scratch");
    check(FreeLibrary(lib) != 0, "FreeLibrary");

    if (failures) return 1;
    printf("host: %u exports found, calls behaved\n", (unsigned)VELMORA_EXPORT_COUNT);
    return 0;
}
