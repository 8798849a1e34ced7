// Our own JPEG reader: the reference decoder's pixels and refusals, faster.
// Internal.
#ifndef VELMORA_JPEG_READER_H
#define VELMORA_JPEG_READER_H

#include <cstddef>
#include <memory>

#include "cpu.h"
#include "row_reader.h"

namespace velmora {

// Reads the header of `bytes` (which must outlive the reader). Returns the
// reader; or null with `*reason` set when the file is refused; or null with
// `*reason` null for a file this reader leaves to the reference decoder.
// `isa` chooses the block transform and colour code; every choice gives the
// same bytes.
std::unique_ptr<RowReader> open_jpeg_reader(const unsigned char *bytes, size_t size,
                                           const char **reason, Isa isa = Isa::best);

// Some refusals of the reference decoder (a DQT or DHT segment whose length
// disagrees with its tables, a scan naming an unknown component) set no
// reason of their own, and what it reports then is left over from its PNG
// probe, "bad png sig", which sends a user the wrong way. Both readers say
// this instead.
constexpr const char *kJpegUnnamedRefusal = "corrupt JPEG";

// The 8x8 inverse transform of dequantised coefficients (row-major) into
// 8-bit samples, in the reference's 16-bit lane arithmetic (wrapping sums,
// saturating packs), so that extreme coefficients give its bytes too. For
// tests: every `isa` must agree.
void jpeg_idct_block(Isa isa, unsigned char *out, int out_stride, const short coeffs[64]);

// Two blocks as the reader transforms them in pairs where `isa` can: each
// must come out as jpeg_idct_block gives it. For tests.
void jpeg_idct_pair(Isa isa, unsigned char *out_a, unsigned char *out_b, int out_stride,
                    const short a[64], const short b[64]);

// YCbCr to RGBA for `count` pixels, as the reader converts a row. For tests.
void jpeg_ycc_row(Isa isa, unsigned char *out, const unsigned char *y, const unsigned char *cb,
                  const unsigned char *cr, int count);

// One output row (2 * w samples) of a component subsampled both ways: `near`
// is the nearer input row, `far` the other. For tests.
void jpeg_upsample_hv2(Isa isa, unsigned char *out, const unsigned char *near, const unsigned char *far,
                       int w);

}  // namespace velmora

#endif
