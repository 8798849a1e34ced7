// The seventeen adjustments, declared once: name, command name, summary and
// parameters with their ranges, neutral values and example values, and a call
// that runs the export from a block of values. The command's subcommands, the
// test tables, the fuzz target, the benchmarks and the binding checks are all
// built from this list or checked against it, and a test compares it with the
// functions that velmora.h declares. Header-only; it needs only the public
// header, so any host of the library can include it. Not installed.
#ifndef VELMORA_ADJUSTMENTS_H
#define VELMORA_ADJUSTMENTS_H

#include <climits>

#include "velmora.h"

namespace velmora_list {

enum class Kind {
    integer,  // an int parameter
    real,     // a float parameter
    points,   // velmora_curves' point arrays (xs, ys)
};

struct Param {
    const char *name;    // the C parameter's name in velmora.h
    const char *option;  // the command's option; parameters that share one are given as A,B,C
    Kind kind;
    double min, max;     // the accepted range (INT_MIN..INT_MAX: any int)
    double neutral;      // the value that changes nothing; the command's default
    double example;      // a value that visibly changes a photograph
    const char *help = nullptr;  // the option's help (on its first parameter)
    bool required = false;       // the command needs the option
};

constexpr int kMaxParams = 9;

// Values for one call, by parameter position. For velmora_curves, the point
// count and the mode are values and the arrays are given apart.
struct Values {
    double v[kMaxParams] = {};
    const int *xs = nullptr;
    const int *ys = nullptr;
};

struct Adjustment {
    const char *name;     // the export without "velmora_"; every message starts with it
    const char *command;  // the subcommand of the velmora command
    const char *summary;
    int param_count;
    Param params[kMaxParams];
    int (*call)(const char *input, const char *output, const Values &values);
};

constexpr double kAnyInt = static_cast<double>(INT_MIN), kAnyIntMax = static_cast<double>(INT_MAX);

// The example curve: a gentle S through four points.
inline constexpr int kExampleCurveXs[] = {0, 64, 192, 255};
inline constexpr int kExampleCurveYs[] = {0, 40, 225, 255};

inline int as_int(double v) { return static_cast<int>(v); }
inline float as_float(double v) { return static_cast<float>(v); }

inline const Adjustment kAdjustments[] = {
    {"grayscale", "grayscale", "Grey from BT.601 luma", 0, {},
     [](const char *i, const char *o, const Values &) { return velmora_grayscale(i, o); }},
    {"sepia", "sepia", "Warm brown tones from a fixed colour matrix", 0, {},
     [](const char *i, const char *o, const Values &) { return velmora_sepia(i, o); }},
    {"invert", "invert", "Negative: every channel c becomes 255 - c", 0, {},
     [](const char *i, const char *o, const Values &) { return velmora_invert(i, o); }},
    {"brightness", "brightness", "Add value * 255 / 100 to every channel", 1,
     {{"value", "--value", Kind::integer, -100, 100, 0, 25,
      "Brightness change, -100..100 (0: none)"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_brightness(i, o, as_int(a.v[0]));
     }},
    {"contrast", "contrast", "Scale every channel's distance from mid-grey 128", 1,
     {{"value", "--value", Kind::integer, -100, 100, 0, 40,
      "Contrast change, -100..100 (-100: flat grey, 0: none, 100: double)"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_contrast(i, o, as_int(a.v[0]));
     }},
    {"gamma", "gamma", "Gamma correction: 255 * (c / 255)^(1 / gamma)", 1,
     {{"gamma", "--gamma", Kind::real, 0.1, 5.0, 1.0, 1.8,
      "Gamma, 0.1..5.0 (above 1 brightens the mid-tones, 1: none)"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_gamma(i, o, as_float(a.v[0]));
     }},
    {"levels", "levels", "Black point, white point and mid-tone gamma", 3,
     {{"black_point", "--black", Kind::integer, 0, 255, 0, 30,
      "Black point, 0..255, below --white"},
      {"white_point", "--white", Kind::integer, 0, 255, 255, 215,
      "White point, 0..255, above --black"},
      {"gamma", "--gamma", Kind::real, 0.1, 5.0, 1.0, 1.2,
      "Mid-tone gamma, 0.1..5.0 (1: none)"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_levels(i, o, as_int(a.v[0]), as_int(a.v[1]), as_float(a.v[2]));
     }},
    {"auto_levels", "auto-levels", "Stretch each channel from its darkest to its brightest value",
     0, {},
     [](const char *i, const char *o, const Values &) { return velmora_auto_levels(i, o); }},
    {"curves", "curves", "Tone curves through control points (smooth, flat beyond the end points)",
     4,
     {{"count", "--points", Kind::integer, 2, 64, 2, 4,
      "One curve for R, G and B: 2..64 points X:Y, X strictly increasing, X and Y in 0..255"},
      {"xs", "--points", Kind::points, 0, 255, 0, 0},
      {"ys", "--points", Kind::points, 0, 255, 0, 0},
      {"per_channel", "--points", Kind::integer, 0, 3, 0, 0}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_curves(i, o, as_int(a.v[0]), a.xs, a.ys, as_int(a.v[3]));
     }},
    {"vignette", "vignette", "Darken towards the rim", 2,
     {{"strength", "--strength", Kind::integer, 0, 100, 0, 80,
      "Darkening at and beyond the radius in percent, 0..100 (0: none)"},
      {"radius", "--radius", Kind::integer, 1, 100, 100, 60,
      "Radius in percent of the shorter image side, 1..100"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_vignette(i, o, as_int(a.v[0]), as_int(a.v[1]));
     }},
    {"saturation", "saturation", "Scale the saturation of every pixel", 1,
     {{"value", "--amount", Kind::integer, -100, 100, 0, 70,
      "Percent added to the saturation scale, -100..100 (-100: grey, 100: double)"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_saturation(i, o, as_int(a.v[0]));
     }},
    {"hue", "hue", "Rotate the hue of every coloured pixel", 1,
     {{"degrees", "--degrees", Kind::integer, kAnyInt, kAnyIntMax, 0, 150,
      "Rotation in degrees, any value (120: red to green, -120: red to blue)"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_hue(i, o, as_int(a.v[0]));
     }},
    {"replace", "replace", "Give pixels near one colour another colour", 7,
     {{"src_r", "--from", Kind::integer, 0, 255, 0, 70,
      "Colour to look for, R,G,B each 0..255", true},
      {"src_g", "--from", Kind::integer, 0, 255, 0, 75},
      {"src_b", "--from", Kind::integer, 0, 255, 0, 50},
      {"dst_r", "--to", Kind::integer, 0, 255, 0, 255,
      "Colour that matching pixels get, R,G,B each 0..255", true},
      {"dst_g", "--to", Kind::integer, 0, 255, 0, 80},
      {"dst_b", "--to", Kind::integer, 0, 255, 0, 0},
      {"tolerance", "--tolerance", Kind::integer, 0, 255, 0, 25,
      "Largest |dR| + |dG| + |dB| that still matches, 0..255"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_replace(i, o, as_int(a.v[0]), as_int(a.v[1]), as_int(a.v[2]),
                                as_int(a.v[3]), as_int(a.v[4]), as_int(a.v[5]), as_int(a.v[6]));
     }},
    {"colorize", "colorize", "Blend every pixel towards one colour", 4,
     {{"r", "--color", Kind::integer, 0, 255, 0, 40,
      "Colour to blend towards, R,G,B each 0..255", true},
      {"g", "--color", Kind::integer, 0, 255, 0, 110},
      {"b", "--color", Kind::integer, 0, 255, 0, 220},
      {"intensity", "--intensity", Kind::integer, 0, 100, 0, 45,
      "Share of the colour in percent, 0..100 (100: every pixel the colour)", true}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_colorize(i, o, as_int(a.v[0]), as_int(a.v[1]), as_int(a.v[2]),
                                 as_int(a.v[3]));
     }},
    {"white_balance", "white-balance", "Warm or cool the picture", 1,
     {{"temperature", "--temperature", Kind::integer, -50, 50, 0, 5,
      "-50..50: positive warms (red up, blue down), negative cools"}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_white_balance(i, o, as_int(a.v[0]));
     }},
    {"color_balance", "color-balance",
     "Shift red, green and blue in the shadows, midtones and highlights", 9,
     {{"shadows_r", "--shadows", Kind::integer, -100, 100, 0, 0,
      "Shift of the shadows, R,G,B each -100..100 (positive: towards that colour)"},
      {"shadows_g", "--shadows", Kind::integer, -100, 100, 0, 0},
      {"shadows_b", "--shadows", Kind::integer, -100, 100, 0, 10},
      {"midtones_r", "--midtones", Kind::integer, -100, 100, 0, 0,
      "Shift of the midtones, R,G,B each -100..100 (positive: towards that colour)"},
      {"midtones_g", "--midtones", Kind::integer, -100, 100, 0, 0},
      {"midtones_b", "--midtones", Kind::integer, -100, 100, 0, 0},
      {"highlights_r", "--highlights", Kind::integer, -100, 100, 0, 8,
      "Shift of the highlights, R,G,B each -100..100 (positive: towards that colour)"},
      {"highlights_g", "--highlights", Kind::integer, -100, 100, 0, 4},
      {"highlights_b", "--highlights", Kind::integer, -100, 100, 0, 0}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_color_balance(i, o, as_int(a.v[0]), as_int(a.v[1]), as_int(a.v[2]),
                                      as_int(a.v[3]), as_int(a.v[4]), as_int(a.v[5]),
                                      as_int(a.v[6]), as_int(a.v[7]), as_int(a.v[8]));
     }},
    {"selective", "selective", "Shift the channels of the pixels within a hue band", 9,
     {{"target_hue", "--hue", Kind::integer, kAnyInt, kAnyIntMax, 0, 90,
      "Target hue in degrees, any value (0 red, 120 green, 240 blue)"},
      {"sat_min", "--sat-min", Kind::integer, 0, 100, 0, 10,
      "Saturation floor in percent, 0..100; the shift fades in above it"},
      {"hue_range", "--range", Kind::integer, 1, 180, 30, 45,
      "Largest distance from the target hue in degrees, 1..180 (180: every hue)"},
      {"adj_r1", "--red", Kind::integer, -100, 100, 0, 60,
      "Red shift, A,B each -100..100, applied as A + B (2.55 levels a unit)"},
      {"adj_r2", "--red", Kind::integer, -100, 100, 0, 40},
      {"adj_g1", "--green", Kind::integer, -100, 100, 0, 0,
      "Green shift, A,B each -100..100, applied as A + B (2.55 levels a unit)"},
      {"adj_g2", "--green", Kind::integer, -100, 100, 0, 0},
      {"adj_b1", "--blue", Kind::integer, -100, 100, 0, -50,
      "Blue shift, A,B each -100..100, applied as A + B (2.55 levels a unit)"},
      {"adj_b2", "--blue", Kind::integer, -100, 100, 0, 0}},
     [](const char *i, const char *o, const Values &a) {
         return velmora_selective(i, o, as_int(a.v[0]), as_int(a.v[1]), as_int(a.v[2]),
                                  as_int(a.v[3]), as_int(a.v[4]), as_int(a.v[5]),
                                  as_int(a.v[6]), as_int(a.v[7]), as_int(a.v[8]));
     }},
};

constexpr int kAdjustmentCount = static_cast<int>(sizeof kAdjustments / sizeof kAdjustments[0]);

// The values that change nothing, or the example values.
inline Values neutral_values(const Adjustment &adj) {
    Values values;
    for (int k = 0; k < adj.param_count; ++k) values.v[k] = adj.params[k].neutral;
    if (adj.params[0].kind == Kind::integer && adj.param_count > 1 &&
        adj.params[1].kind == Kind::points) {
        // The identity curve.
        static const int ends[] = {0, 255};
        values.xs = values.ys = ends;
    }
    return values;
}

inline Values example_values(const Adjustment &adj) {
    Values values;
    for (int k = 0; k < adj.param_count; ++k) values.v[k] = adj.params[k].example;
    if (adj.param_count > 1 && adj.params[1].kind == Kind::points) {
        values.xs = kExampleCurveXs;
        values.ys = kExampleCurveYs;
    }
    return values;
}

// The adjustment of that name, or null.
inline const Adjustment *find(const char *name) {
    for (const Adjustment &adj : kAdjustments) {
        const char *a = adj.name, *b = name;
        while (*a && *a == *b) ++a, ++b;
        if (*a == *b) return &adj;
    }
    return nullptr;
}

}  // namespace velmora_list

#endif
