/*
 * velmora.h - colour and tone adjustments for image files, behind a plain C ABI.
 *
 * Synopsis
 *
 *     #include <velmora.h>
 *
 *     if (!velmora_sepia("in.png", "out.jpg"))
 *         fprintf(stderr, "%s\n", velmora_last_error());
 *
 * Every adjustment is one call: an input path, an output path and the
 * adjustment's parameters. The call reads the whole input file, recognises
 * JPEG, PNG or BMP by its first bytes, decodes it to 8-bit RGBA, changes the
 * red, green and blue bytes of every pixel (alpha passes through untouched),
 * and writes the result in the format the output path's extension asks for:
 * "jpg"/"jpeg" give JPEG (quality 92, alpha dropped), "png" gives 8-bit RGBA
 * PNG, "bmp" gives 32-bit BMP; ASCII case is ignored. Any other extension, or
 * none, keeps the input's format.
 *
 * Results: 1 on success, 0 on failure. After a failure velmora_last_error()
 * holds one line of English that starts with the adjustment's name, e.g.
 * "sepia: cannot read photo.jpg"; after a success it is empty.
 *
 * Common failures of every adjustment, in the order they are checked:
 *     "<name>: NULL input/output"              a path is NULL (nothing touched)
 *     "<name>: cannot read <input>"             missing, unreadable, empty, > 2 GiB
 *     "<name>: unsupported image format: <input>"  not JPEG, PNG or BMP
 *     "<name>: cannot decode <input> (<reason>)"   the decoder refused the file
 *     parameter messages (listed per function)  checked after decoding
 *     "<name>: cannot write <output>"           the output could not be written
 * A failing call never creates the output file, and a failed write leaves an
 * existing output file exactly as it was: the new file is written beside it
 * and renamed over it only when complete.
 *
 * Paths are passed unchanged to the C library (on Windows: the ANSI code page).
 * Parameters are checked only after the input has been decoded, so a bad
 * parameter on an unreadable file reports the read failure.
 *
 * Threads: calls may run concurrently on different files; the last-error text
 * is one buffer for the whole process, so read it before another call starts.
 */
#ifndef VELMORA_H
#define VELMORA_H

#define VELMORA_VERSION_MAJOR 1
#define VELMORA_VERSION_MINOR 0
#define VELMORA_VERSION_PATCH 0

#if defined(_WIN32)
#  if defined(VELMORA_BUILDING)
#    define VELMORA_API __declspec(dllexport)
#  else
#    define VELMORA_API __declspec(dllimport)
#  endif
#else
#  define VELMORA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Library lifecycle --------------------------------------------------- */

/* Empties the last-error text. Optional: nothing needs initialising. Returns 1. */
VELMORA_API int velmora_init(void);

/* Empties the last-error text. The library stays fully usable afterwards. */
VELMORA_API void velmora_cleanup(void);

/* The last failure's message, or "" after a success. Never NULL; the same
 * address on every call, so copy the text to keep it. At most 511 chars. */
VELMORA_API const char *velmora_last_error(void);

/* ---- Fixed colour mappings ----------------------------------------------- */

/* Grey from BT.601 luma: y = 0.299 R + 0.587 G + 0.114 B, rounded; R = G = B = y. */
VELMORA_API int velmora_grayscale(const char *input_path, const char *output_path);

/* Warm brown tone through a fixed 3x3 colour matrix, rounded and clamped. */
VELMORA_API int velmora_sepia(const char *input_path, const char *output_path);

/* Photographic negative: every channel c becomes 255 - c. */
VELMORA_API int velmora_invert(const char *input_path, const char *output_path);

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_H */
