// The colour model of hsv.h, written once over a lane type (Sse2Lanes,
// Avx2Lanes): every lane performs exactly the IEEE single-precision
// operations of the scalar code, in the same order (a division stays a
// division, a truncation a truncation), and every branch of the scalar code
// becomes a select that picks what the branch would have computed. Divisors
// of lanes that the scalar code would not divide are replaced first, so no
// lane raises a floating-point exception that the scalar code does not.
// Everything is a template, so the AVX2 unit's instantiations are its own.
// Internal.
#ifndef VELMORA_COLOUR_LANES_H
#define VELMORA_COLOUR_LANES_H

namespace velmora {
namespace lanes {

// L RGBA pixels split into one 32-bit lane per pixel for each channel.
template <class O>
struct Channels {
    typename O::I red, green, blue;
};

template <class O>
inline Channels<O> split(typename O::I px) {
    const auto low = O::set(0xFF);
    return {O::bit_and(px, low), O::bit_and(O::shift_right(px, 8), low),
            O::bit_and(O::shift_right(px, 16), low)};
}

// L pixels back from their channel values, each clamped to 0..255 as the
// scalar clamp does, with the alpha bytes of `px`.
template <class O, class I = typename O::I>
inline I join(I red, I green, I blue, I px) {
    return O::pack(red, green, blue, O::shift_right(px, 24));
}

// join() for levels known to lie in 0..255 already, where the clamp would
// change nothing: each level shifted to its byte, alpha from `px`.
template <class O, class I = typename O::I>
inline I join_levels(I red, I green, I blue, I px) {
    const I alpha = O::bit_and(px, O::set(static_cast<int>(0xFF000000u)));
    return O::bit_or(O::bit_or(red, O::shift_left(green, 8)),
                     O::bit_or(O::shift_left(blue, 16), alpha));
}

// fmodf(x, 1.0f) for x in [0, 2), the range of h + shift in the hue turn
// (h in [0, 1), shift = degrees / 360 in (0, 359/360]; the rounded sum stays
// far more than an ulp below 2). For 0 <= x < 1 fmodf returns x. For
// 1 <= x < 2 it returns x - 1, which is exactly representable (x and 1 lie
// within a factor of two of each other), so the float subtraction x - 1.0f
// gives it exactly. The result lies in [0, 1) and is never negative, so the
// scalar code's "+ 1 when negative" never applies either.
template <class O, class F = typename O::F>
inline F wrap_turn(F x) {
    const F one = O::set(1.0f);
    return O::select(O::ge(x, one), O::sub(x, one), x);
}

// round_half_away() of kernel_helpers.h for L shifts.
template <class O, class F = typename O::F>
inline typename O::I round_half_away(F shift) {
    const F up = O::add(shift, O::set(0.5f));
    const F down = O::add(shift, O::set(-0.5f));
    return O::truncate(O::select(O::ge(shift, O::zero()), up, down));
}

template <class O>
struct Hsv {
    typename O::F h, s, v;
};

// rgb_to_hsv for L colours (channel values 0..255 in 32-bit lanes).
template <class O>
inline Hsv<O> rgb_to_hsv(const Channels<O> &c) {
    using F = typename O::F;
    const F k255 = O::set(255.0f);
    // The smallest normal float: below every non-zero max and d (at least
    // 1/255), so it stands in as the divisor exactly where the scalar code
    // does not divide; there the dividend is 0 and so is the quotient.
    const F tiny = O::set(1.17549435e-38f);
    const F r = O::div(O::to_float(c.red), k255);
    const F g = O::div(O::to_float(c.green), k255);
    const F b = O::div(O::to_float(c.blue), k255);

    // The scalar code keeps the first of equal candidates; equal values are
    // equal bits here (none is -0 or NaN), so max and min give the same.
    const F max = O::max(O::max(r, g), b);
    const F min = O::min(O::min(r, g), b);
    const F d = O::sub(max, min);

    Hsv<O> out;
    out.v = max;
    out.s = O::div(d, O::max(max, tiny));  // max > 0 ? d / max : 0

    // The formula of the largest channel, red winning every tie, then green;
    // one division by d serves all three. For a grey (d = 0) the red formula
    // applies with a numerator of 0, which gives the scalar h = 0.
    const F red_max = O::eq(max, r);
    const F green_max = O::and_not(red_max, O::eq(max, g));
    const F numerator =
        O::select(red_max, O::sub(g, b), O::select(green_max, O::sub(b, r), O::sub(r, g)));
    const F q = O::div(numerator, O::max(d, tiny));
    // Each formula adds a constant to q: red 6 when B > G (strictly) and
    // otherwise 0 (q + 0 is q, as q is never -0), green 2, blue 4. (An IEEE
    // sum does not depend on the order of its terms.) 2.0f is 4.0f with one
    // exponent bit cleared.
    const F exponent_bit = O::as_float(O::set(0x00800000));
    const F two_or_four = O::bit_xor(O::set(4.0f), O::bit_and(green_max, exponent_bit));
    const F six_or_zero = O::bit_and(O::gt(b, g), O::set(6.0f));
    const F sector = O::add(q, O::select(red_max, six_or_zero, two_or_four));
    out.h = O::div(sector, O::set(6.0f));
    return out;
}

// hsv_to_rgb for L colours whose h lies in [0, 1). There the scalar wrap of
// h (fmodf(h, 1), plus 1 if negative) returns h itself: fmodf returns its
// first argument whenever that is smaller in magnitude than the second. With
// s and v in [0, 1], p, q, t and v lie in [0, 1] (frac lies in [0, 1)), so the
// levels lie in 0..255 and join_levels() can put them together.
template <class O, class F = typename O::F>
inline Channels<O> hsv_to_rgb(F h, F s, F v) {
    using I = typename O::I;
    const F one = O::set(1.0f);
    const F sector = O::mul(h, O::set(6.0f));
    const I i = O::truncate(sector);
    const F frac = O::sub(sector, O::to_float(i));

    // The scalar table, by sector:      0  1  2  3  4  5
    //                              red   v  q  p  p  t  v
    //                              green t  v  v  q  p  p
    //                              blue  p  p  t  v  v  q
    // Sector 6 (h * 6 rounded up to 6) is sector 0, and frac is 0 there.
    // Odd sectors use q = (1 - frac * s) * v, even ones t = (1 - s * (1 - frac)) * v:
    // both are x = (1 - s * a) * v (a product does not depend on the order of
    // its factors), so each channel picks one of v, p and x.
    const I e1 = O::eq(i, O::set(1)), e2 = O::eq(i, O::set(2)), e3 = O::eq(i, O::set(3));
    const I e4 = O::eq(i, O::set(4)), e5 = O::eq(i, O::set(5));
    const F odd = O::as_float(O::bit_or(O::bit_or(e1, e3), e5));
    const F a = O::select(odd, frac, O::sub(one, frac));
    const F x = O::mul(O::sub(one, O::mul(s, a)), v);
    const F p = O::mul(O::sub(one, s), v);
    const auto either = [](I m, I n) { return O::as_float(O::bit_or(m, n)); };
    const F r = O::select(either(e2, e3), p, O::select(either(e1, e4), x, v));
    const F g = O::select(either(e1, e2), v, O::select(either(e4, e5), p, x));
    const F b = O::select(either(e3, e4), v, O::select(either(e2, e5), x, p));

    const F k255 = O::set(255.0f), half = O::set(0.5f);
    return {O::truncate(O::add(O::mul(r, k255), half)),
            O::truncate(O::add(O::mul(g, k255), half)),
            O::truncate(O::add(O::mul(b, k255), half))};
}

}  // namespace lanes
}  // namespace velmora

#endif
