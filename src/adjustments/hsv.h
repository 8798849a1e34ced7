// The colour model shared by the colour adjustments: 8-bit RGB <-> hue,
// saturation, value as 32-bit floats. Internal; nothing here is exported.
#ifndef VELMORA_HSV_H
#define VELMORA_HSV_H

namespace velmora {

// red, green, blue in 0..255 -> h in [0, 1) (fraction of a turn: 0 red,
// 1/3 green, 2/3 blue), s and v in 0..1. Greys (black and white included)
// give h = 0 and s = 0. Red wins a tie for the largest channel, then green.
void rgb_to_hsv(int red, int green, int blue, float &h, float &s, float &v);

// Back to channel levels, each rounded as x * 255 + 0.5 and truncated. h may be
// any finite value: it is wrapped into [0, 1). Nothing is clamped: results lie
// in 0..255 whenever s and v lie in 0..1, otherwise the caller clamps.
void hsv_to_rgb(float h, float s, float v, int &red, int &green, int &blue);

}  // namespace velmora

#endif
