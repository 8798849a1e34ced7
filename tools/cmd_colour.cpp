// Colour operations: saturation, hue, replace, colorize, white balance,
// colour balance and selective colour. Ranges are stated in the help; the
// library itself refuses values outside them, with its own message.
#include <array>
#include <memory>

#include "commands.h"
#include "velmora.h"

namespace velmora_cli {

namespace {

using Triple = std::array<int, 3>;
using Pair = std::array<int, 2>;

// A comma-separated option such as `--shadows R,G,B`.
template <class T>
CLI::Option *add_list(CLI::App *cmd, const std::string &name, T &value,
                      const std::string &description) {
    return cmd->add_option(name, value, description)->delimiter(',');
}

void add_saturation(Registry &r) {
    auto amount = std::make_shared<int>(0);
    CLI::App *cmd = r.add("saturation", "Scale the saturation of every pixel",
                          [amount](const char *in, const char *out) {
                              return velmora_saturation(in, out, *amount);
                          });
    cmd->add_option("--amount", *amount,
                    "Percent added to the saturation scale, -100..100 "
                    "(-100: grey, 100: double)")
        ->capture_default_str();
}

void add_hue(Registry &r) {
    auto degrees = std::make_shared<int>(0);
    CLI::App *cmd = r.add("hue", "Rotate the hue of every coloured pixel",
                          [degrees](const char *in, const char *out) {
                              return velmora_hue(in, out, *degrees);
                          });
    cmd->add_option("--degrees", *degrees,
                    "Rotation in degrees, any value (120: red to green, -120: red to blue)")
        ->capture_default_str();
}

void add_replace(Registry &r) {
    struct Params {
        Triple from{}, to{};
        int tolerance = 0;
    };
    auto p = std::make_shared<Params>();
    CLI::App *cmd = r.add("replace", "Give pixels near one colour another colour",
                          [p](const char *in, const char *out) {
                              return velmora_replace(in, out, p->from[0], p->from[1],
                                                     p->from[2], p->to[0], p->to[1], p->to[2],
                                                     p->tolerance);
                          });
    add_list(cmd, "--from", p->from, "Colour to look for, R,G,B each 0..255")->required();
    add_list(cmd, "--to", p->to, "Colour that matching pixels get, R,G,B each 0..255")
        ->required();
    cmd->add_option("--tolerance", p->tolerance,
                    "Largest |dR| + |dG| + |dB| that still matches, 0..255")
        ->capture_default_str();
}

void add_colorize(Registry &r) {
    struct Params {
        Triple colour{};
        int intensity = 0;
    };
    auto p = std::make_shared<Params>();
    CLI::App *cmd = r.add("colorize", "Blend every pixel towards one colour",
                          [p](const char *in, const char *out) {
                              return velmora_colorize(in, out, p->colour[0], p->colour[1],
                                                      p->colour[2], p->intensity);
                          });
    add_list(cmd, "--color", p->colour, "Colour to blend towards, R,G,B each 0..255")
        ->required();
    cmd->add_option("--intensity", p->intensity,
                    "Share of the colour in percent, 0..100 (100: every pixel the colour)")
        ->required();
}

void add_white_balance(Registry &r) {
    auto temperature = std::make_shared<int>(0);
    CLI::App *cmd = r.add("white-balance", "Warm or cool the picture",
                          [temperature](const char *in, const char *out) {
                              return velmora_white_balance(in, out, *temperature);
                          });
    cmd->add_option("--temperature", *temperature,
                    "-50..50: positive warms (red up, blue down), negative cools")
        ->capture_default_str();
}

void add_color_balance(Registry &r) {
    struct Params {
        Triple shadows{}, midtones{}, highlights{};
    };
    auto p = std::make_shared<Params>();
    CLI::App *cmd = r.add(
        "color-balance", "Shift red, green and blue in the shadows, midtones and highlights",
        [p](const char *in, const char *out) {
            return velmora_color_balance(in, out, p->shadows[0], p->shadows[1], p->shadows[2],
                                         p->midtones[0], p->midtones[1], p->midtones[2],
                                         p->highlights[0], p->highlights[1],
                                         p->highlights[2]);
        });
    const std::string each = ", R,G,B each -100..100 (positive: towards that colour)";
    add_list(cmd, "--shadows", p->shadows, "Shift of the shadows" + each)->capture_default_str();
    add_list(cmd, "--midtones", p->midtones, "Shift of the midtones" + each)->capture_default_str();
    add_list(cmd, "--highlights", p->highlights, "Shift of the highlights" + each)
        ->capture_default_str();
}

void add_selective(Registry &r) {
    struct Params {
        int hue = 0, range = 30, sat_min = 0;
        Pair red{}, green{}, blue{};
    };
    auto p = std::make_shared<Params>();
    CLI::App *cmd = r.add(
        "selective", "Shift the channels of the pixels within a hue band",
        [p](const char *in, const char *out) {
            return velmora_selective(in, out, p->hue, p->sat_min, p->range, p->red[0],
                                     p->red[1], p->green[0], p->green[1], p->blue[0],
                                     p->blue[1]);
        });
    cmd->add_option("--hue", p->hue,
                    "Target hue in degrees, any value (0 red, 120 green, 240 blue)")
        ->capture_default_str();
    cmd->add_option("--range", p->range,
                    "Largest distance from the target hue in degrees, 1..180 (180: every hue)")
        ->capture_default_str();
    cmd->add_option("--sat-min", p->sat_min,
                    "Saturation floor in percent, 0..100; the shift fades in above it")
        ->capture_default_str();
    const std::string each = ", A,B each -100..100, applied as A + B (2.55 levels a unit)";
    add_list(cmd, "--red", p->red, "Red shift" + each)->capture_default_str();
    add_list(cmd, "--green", p->green, "Green shift" + each)->capture_default_str();
    add_list(cmd, "--blue", p->blue, "Blue shift" + each)->capture_default_str();
}

}  // namespace

void add_colour_commands(Registry &r) {
    add_saturation(r);
    add_hue(r);
    add_replace(r);
    add_colorize(r);
    add_white_balance(r);
    add_color_balance(r);
    add_selective(r);
}

}  // namespace velmora_cli
