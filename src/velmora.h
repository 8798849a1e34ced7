/*
 * velmora.h - colour and tone adjustments for image files, behind a plain C ABI.
 * MIT licence (LICENSE); the code of others it contains: THIRD-PARTY-NOTICES.
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
 * none, keeps the input's format. JPEG stores each side in 16 bits: an image
 * wider or taller than 65535 pixels cannot be written as JPEG ("cannot
 * write"), but can as PNG or BMP.
 *
 * The output keeps three things of a JPEG or PNG input besides its pixels:
 * the ICC colour profile (an RGB one with the 'acsp' signature that
 * describes a colour space: no device link or abstract profile), the EXIF
 * orientation and the resolution (dpi), written as JPEG APP1/APP2 segments
 * or PNG iCCP, pHYs and eXIf chunks. Of anything given twice the first
 * counts; anything malformed, of the wrong type or beyond what the output
 * can carry is left out, never replaced by a default. A profile name that is
 * not a valid PNG keyword becomes "ICC Profile". Nothing else is ever copied: no GPS position, camera serial
 * number, owner name, thumbnail or other EXIF entry. BMP output keeps none.
 *
 * Results: 1 on success, 0 on failure. After a failure velmora_last_error()
 * holds one line of English that starts with the adjustment's name, e.g.
 * "sepia: cannot read photo.jpg"; after a success it is empty.
 *
 * Common failures of every adjustment, in the order they are checked:
 *     "<name>: NULL input/output"              a path is NULL (nothing touched)
 *     "<name>: cannot read <input>"             missing, unreadable, empty, > 2 GiB
 *     "<name>: unsupported image format: <input>"  not JPEG, PNG or BMP
 *     "<name>: cannot decode <input> (<reason>)"   the decoder refused the file;
 *                                               "bad CRC": a PNG chunk that decides
 *                                               the pixels is damaged;
 *                                               "bad zlib checksum": a PNG's image
 *                                               data fails its Adler-32, or lacks it
 *                                               "corrupt JPEG": a JPEG table or scan
 *                                               header that contradicts itself
 *     parameter messages (listed per function)  checked after decoding
 *     "<name>: cannot write <output>"           the output could not be written
 * Output files: a failing call never creates the output and never changes an
 * existing one, and a killed call leaves no partial output. Case by case:
 *   plain file     the new file is written in the same folder and renamed over
 *                  the output once complete; it takes the old file's mode, and
 *                  its owner and group where the process may (root, or a group
 *                  of the user's), and on Linux its extended attributes (POSIX
 *                  ACLs, user.* tags, a security label) as far as the system
 *                  lets the process read and set them; one it may not set is
 *                  left out, and the call still succeeds. On Linux it has no
 *                  name until complete, so a killed call leaves nothing;
 *                  elsewhere it is named
 *                  ".velmora-XXXXXX.tmp", which a killed call can leave behind.
 *   symbolic link  followed (up to 40; a relative one from its own folder): the
 *                  file it leads to is replaced as above and the link stays; a
 *                  dangling link gets its file created.
 *   hard link      the replace splits it: the other names keep the old file.
 *   device, FIFO   written in place, once the whole file is encoded.
 *   read-only file refused ("cannot write"), never replaced.
 *   folder that takes no new file: an existing writable file is rewritten in
 *                  place, once the whole file is encoded and the space for it
 *                  reserved, so a full disk leaves it as it was; only a
 *                  hardware write error after that could damage it.
 * On Windows links are replaced like files, and the replacement has the
 * folder's inherited permissions, as MoveFileEx gives it. No sync is forced:
 * after a crash of the whole system the file system decides what reached disk.
 *
 * Paths go to the system unchanged. On Windows a path that is valid UTF-8 and
 * holds a non-ASCII character is taken as UTF-8 (and opened through the wide
 * API); any other path is taken in the ANSI code page, as ever.
 * Parameters are checked only after the input has been decoded, so a bad
 * parameter on an unreadable file reports the read failure. The one exception
 * is velmora_curves, which checks its point arrays, point count and mode
 * before it opens the input (the point values themselves after decoding).
 *
 * Threads: calls may run concurrently on different files; the last-error text
 * is one buffer for the whole process, so read it before another call starts.
 */
#ifndef VELMORA_H
#define VELMORA_H

/* Version of this header and of the library it belongs to. A new MAJOR
 * version may change a function's signature or remove one (the shared
 * library's SONAME changes with it); a new MINOR adds functions or
 * behaviour without changing what existing calls do or write; a new PATCH
 * only fixes faults. */
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

/* ---- Colour mappings: grayscale, sepia, invert ------------------------------ */
/* These three have no parameters and no failures of their own: only the
 * common failures above. */

/* Grey from BT.601 luma, in double precision:
 * y = (0.299 R + 0.587 G) + 0.114 B + 0.5, truncated; R = G = B = y. */
VELMORA_API int velmora_grayscale(const char *input_path, const char *output_path);

/* Warm brown tone, each new channel from the old R, G and B in double
 * precision, + 0.5, truncated and clamped to 0..255:
 *     R' = 0.393 R + 0.769 G + 0.189 B
 *     G' = 0.349 R + 0.686 G + 0.168 B
 *     B' = 0.272 R + 0.534 G + 0.131 B
 * (each sum added left to right). */
VELMORA_API int velmora_sepia(const char *input_path, const char *output_path);

/* Photographic negative: every channel c becomes 255 - c. */
VELMORA_API int velmora_invert(const char *input_path, const char *output_path);

/* ---- Tone: brightness, contrast and gamma ---------------------------------- */

/* Adds value * 255 / 100 (integer division, truncated: +1 adds 2, +50 adds 127,
 * +100 adds 255) to every channel and clamps to 0..255.
 * value: -100..+100, 0 changes nothing.
 * Fails with "brightness: value <value> out of range -100..+100". */
VELMORA_API int velmora_brightness(const char *input_path, const char *output_path, int value);

/* Scales every channel's distance from 128 by (value + 100) / 100, in 32-bit
 * floats, rounded and clamped: -100 gives flat grey 128, +100 doubles the
 * distance. value: -100..+100, 0 changes nothing.
 * Fails with "contrast: value <value> out of range -100..+100". */
VELMORA_API int velmora_contrast(const char *input_path, const char *output_path, int value);

/* c becomes 255 * (c / 255)^(1 / gamma), rounded: gamma above 1 lifts the
 * middle tones, below 1 darkens them, 1 changes nothing; 0 and 255 stay.
 * gamma: 0.1..5.0 (the float nearest 0.1 is accepted; NaN is refused).
 * Fails with "gamma: <gamma as %g> out of range 0.1..5.0". */
VELMORA_API int velmora_gamma(const char *input_path, const char *output_path, float gamma);

/* ---- Tone: levels and auto levels ----------------------------------------- */

/* Values at or below black_point become 0, at or above white_point 255; those
 * between are stretched over 0..255 and bent by 1 / gamma as in velmora_gamma.
 * One table serves R, G and B. black_point, white_point: 0..255 with
 * black_point < white_point; gamma: 0.1..5.0. 0, 255, 1.0 changes nothing.
 * Fails, checked in this order, with
 *     "levels: black/white point out of range 0..255"
 *     "levels: white point must be > black point"
 *     "levels: gamma <gamma as %g> out of range 0.1..5.0" */
VELMORA_API int velmora_levels(const char *input_path, const char *output_path, int black_point,
                               int white_point, float gamma);

/* Stretches R, G and B each on its own: the smallest value of the channel
 * present in the image becomes 0, the largest 255, those between are scaled
 * and rounded. A channel holding one value everywhere is left as it is.
 * Every pixel counts, whatever its alpha. No failures of its own. */
VELMORA_API int velmora_auto_levels(const char *input_path, const char *output_path);

/* ---- Tone: curves ----------------------------------------------------------- */

/* Maps channel values through smooth curves given by control points
 * (xs[k], ys[k]): a cubic Hermite curve through the points, its tangents taken
 * from the neighbouring chord slopes (0 at a peak, a dip or a flat stretch),
 * flat before the first and after the last one, clamped to 0..255; between
 * points it may overshoot. Two points give a straight line.
 * count: points per curve, 2..64. xs: input levels 0..255, strictly increasing
 * within a curve; ys: output levels 0..255, in any order.
 * per_channel 0: one curve for R, G and B; xs and ys hold count values each.
 * per_channel 3: three curves, red, green, blue one after the other; xs and ys
 * hold 3 * count values each. The arrays are only read.
 * Checked BEFORE the input file is touched, in this order:
 *     "curves: NULL curve points"                       xs or ys is NULL
 *     "curves: need 2..64 control points, got <count>"
 *     "curves: per_channel must be 0 (shared) or 3 (RGB)"
 * Checked after decoding, curve by curve (red, green, blue):
 *     "curves: points must be in 0..255"
 *     "curves: x points must be strictly increasing" */
VELMORA_API int velmora_curves(const char *input_path, const char *output_path, int count,
                               const int *xs, const int *ys, int per_channel);

/* ---- Tone: vignette --------------------------------------------------------- */

/* Darkens towards the rim: every pixel is multiplied by 1 - s * d^2, where
 * s = strength / 100 and d is its distance from the image centre divided by
 * radius percent of the shorter side; beyond that radius the factor stays
 * 1 - s. strength: 0..100 (0 changes nothing, 100 blackens the rim zone);
 * radius: 1..100. Fails, strength first, with
 *     "vignette: strength <strength> out of range 0..100"
 *     "vignette: radius <radius> out of range 1..100" */
VELMORA_API int velmora_vignette(const char *input_path, const char *output_path, int strength,
                                 int radius);

/* ---- Colour: saturation, hue, replace, colorize, white balance, colour balance,
 *      selective colour ------------------------------------------------------- */

/* Scales every pixel's HSV saturation by (100 + value) percent, capped at full
 * saturation. value -100..+100: 0 changes nothing (the file is still written),
 * +100 doubles, -100 gives the BT.601 luma grey of velmora_grayscale.
 * Fails: "saturation: value <value> out of range -100..+100". */
VELMORA_API int velmora_saturation(const char *input_path, const char *output_path, int value);

/* Rotates every pixel's hue by degrees, any int (taken modulo 360; negative
 * turns the other way). +120 turns red into green, -120 into blue. Greys,
 * black and white are left alone. Never fails on its parameter. */
VELMORA_API int velmora_hue(const char *input_path, const char *output_path, int degrees);

/* Gives every pixel within tolerance of the source colour the target colour
 * (no blending). The distance is |R - src_r| + |G - src_g| + |B - src_b|, and a
 * pixel matches when it is <= tolerance; tolerance 0 matches only the exact
 * colour. Colour components 0..255, tolerance 0..255. Alpha is kept.
 * Fails, in this order: "replace: color components must be 0..255",
 * "replace: tolerance <tolerance> out of range 0..255". */
VELMORA_API int velmora_replace(const char *input_path, const char *output_path, int src_r,
                                int src_g, int src_b, int dst_r, int dst_g, int dst_b,
                                int tolerance);

/* Blends every pixel towards the colour (r, g, b): c = c (1 - a) + colour a,
 * with a = intensity / 100, rounded. Components 0..255, intensity 0..100:
 * 0 changes nothing, 100 paints every pixel the colour.
 * Fails, in this order: "colorize: color components must be 0..255",
 * "colorize: intensity <intensity> out of range 0..100". */
VELMORA_API int velmora_colorize(const char *input_path, const char *output_path, int r, int g,
                                 int b, int intensity);

/* Warms (positive) or cools (negative) the picture: red is scaled by
 * 1 + 0.04 temperature and blue by 1 - 0.04 temperature, rounded and clamped;
 * green is unchanged. temperature -50..+50; from +25 up every blue becomes 0,
 * from -25 down every red. 0 changes nothing.
 * Fails: "white_balance: temperature <temperature> out of range -50..+50". */
VELMORA_API int velmora_white_balance(const char *input_path, const char *output_path,
                                      int temperature);

/* Moves the shadows, midtones and highlights towards (positive) or away from
 * (negative) red, green and blue. Each value -100..100; at full weight one unit
 * is 2.55 levels, added to its own channel and taken from the other two. Each
 * channel weighs the values by its own level: shadows fully up to 87, fading
 * out by 127; midtones from 64, full over 104..191, gone by 231; highlights
 * from 128, full from 168. The shift is rounded half away from zero.
 * Fails: "color_balance: values must be in -100..100" (any of the nine). */
VELMORA_API int velmora_color_balance(const char *input_path, const char *output_path,
                                      int shadows_r, int shadows_g, int shadows_b,
                                      int midtones_r, int midtones_g, int midtones_b,
                                      int highlights_r, int highlights_g, int highlights_b);

/* Shifts the channels only in pixels whose hue lies within hue_range degrees
 * of target_hue (any int, taken modulo 360; hue_range 1..180, 180 selects every
 * hue) and whose saturation, in whole percent, is at least sat_min (0..100).
 * Each channel moves by (adj_1 + adj_2) x 2.55 levels (each adj -100..100),
 * scaled by a weight that rises from 0 at the saturation floor to 1 at full
 * saturation (always 1 when sat_min is 0), and rounded half away from zero.
 * Greys count as hue 0, saturation 0.
 * Fails, in this order: "selective: adjustments must be in -100..100",
 * "selective: hue_range must be 1..180", "selective: sat_min must be 0..100". */
VELMORA_API int velmora_selective(const char *input_path, const char *output_path,
                                  int target_hue, int sat_min, int hue_range, int adj_r1,
                                  int adj_r2, int adj_g1, int adj_g2, int adj_b1, int adj_b2);

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_H */
