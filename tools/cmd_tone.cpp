// Tone subcommands: brightness, contrast, gamma, levels, auto-levels, curves
// and vignette. Ranges are shown in --help and checked by the library, whose
// message the command prints.
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "commands.h"
#include "velmora.h"

namespace velmora_cli {
namespace {

struct Points {
    std::vector<int> xs, ys;
};

// "X:Y,X:Y,..." -> points; false on anything else. Values are not range
// checked here: the library reports points outside 0..255.
bool parse_points(const std::string &text, Points &out) {
    out = Points{};
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(at, end - at);
        const size_t colon = pair.find(':');
        if (colon == std::string::npos) return false;
        int v[2];
        const std::string parts[2] = {pair.substr(0, colon), pair.substr(colon + 1)};
        for (int k = 0; k < 2; ++k) {
            const char *s = parts[k].c_str();
            char *stop = nullptr;
            errno = 0;
            const long long n = std::strtoll(s, &stop, 10);
            if (parts[k].empty() || *stop != '\0' || errno != 0 ||
                n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
                return false;
            v[k] = static_cast<int>(n);
        }
        out.xs.push_back(v[0]);
        out.ys.push_back(v[1]);
        at = end + 1;
    }
    return true;
}

const CLI::Validator kPointList(
    [](std::string &text) {
        Points p;
        return parse_points(text, p) ? std::string()
                                     : "expected points as X:Y,X:Y,... (integers), got '" +
                                           text + "'";
    },
    "", "points");

void add_curves(Registry &r) {
    struct Params {
        std::string shared = "0:0,255:255";
        std::string red, green, blue;
        Points points;  // the curves to run: one, or red, green and blue in a row
        int count = 0;
        int per_channel = 0;
    };
    auto p = std::make_shared<Params>();
    CLI::App *cmd = r.add(
        "curves", "Tone curves through control points (smooth, flat beyond the end points)",
        [p](const char *in, const char *out) {
            return velmora_curves(in, out, p->count, p->points.xs.data(), p->points.ys.data(),
                                  p->per_channel);
        });
    CLI::Option *shared =
        cmd->add_option("--points", p->shared,
                        "One curve for R, G and B: 2..64 points X:Y, X strictly increasing, "
                        "X and Y in 0..255")
            ->check(kPointList)
            ->type_name("X:Y,...")
            ->capture_default_str();
    CLI::Option *red = cmd->add_option("--red", p->red, "Red curve, as --points")->check(kPointList)
            ->type_name("X:Y,...");
    CLI::Option *green =
        cmd->add_option("--green", p->green, "Green curve, as --points")->check(kPointList)
            ->type_name("X:Y,...");
    CLI::Option *blue =
        cmd->add_option("--blue", p->blue, "Blue curve, as --points")->check(kPointList)
            ->type_name("X:Y,...");
    for (CLI::Option *channel : {red, green, blue}) {
        channel->excludes(shared);
        for (CLI::Option *other : {red, green, blue})
            if (other != channel) channel->needs(other);
    }
    cmd->footer(
        "Give either --points, or all three of --red, --green and --blue with the same "
        "number of points.\nExample: velmora curves in.png out.png --points 0:0,128:200,255:255");
    cmd->callback([p, red]() {
        if (red->count() == 0) {
            parse_points(p->shared, p->points);
            p->count = static_cast<int>(p->points.xs.size());
            p->per_channel = 0;
            return;
        }
        Points c[3];
        parse_points(p->red, c[0]);
        parse_points(p->green, c[1]);
        parse_points(p->blue, c[2]);
        if (c[0].xs.size() != c[1].xs.size() || c[0].xs.size() != c[2].xs.size())
            throw CLI::ValidationError(
                "--red, --green and --blue need the same number of points (got " +
                std::to_string(c[0].xs.size()) + ", " + std::to_string(c[1].xs.size()) + ", " +
                std::to_string(c[2].xs.size()) + ")");
        p->points = Points{};
        for (const Points &one : c) {
            p->points.xs.insert(p->points.xs.end(), one.xs.begin(), one.xs.end());
            p->points.ys.insert(p->points.ys.end(), one.ys.begin(), one.ys.end());
        }
        p->count = static_cast<int>(c[0].xs.size());
        p->per_channel = 3;
    });
}

}  // namespace

void add_tone_commands(Registry &r) {
    {
        auto value = std::make_shared<int>(0);
        r.add("brightness", "Add value * 255 / 100 to every channel",
              [value](const char *in, const char *out) {
                  return velmora_brightness(in, out, *value);
              })
            ->add_option("--value", *value, "Brightness change, -100..100 (0: none)")
            ->capture_default_str();
    }
    {
        auto value = std::make_shared<int>(0);
        r.add("contrast", "Scale every channel's distance from mid-grey 128",
              [value](const char *in, const char *out) {
                  return velmora_contrast(in, out, *value);
              })
            ->add_option("--value", *value,
                         "Contrast change, -100..100 (-100: flat grey, 0: none, 100: double)")
            ->capture_default_str();
    }
    {
        auto gamma = std::make_shared<float>(1.0f);
        r.add("gamma", "Gamma correction: 255 * (c / 255)^(1 / gamma)",
              [gamma](const char *in, const char *out) { return velmora_gamma(in, out, *gamma); })
            ->add_option("--gamma", *gamma,
                         "Gamma, 0.1..5.0 (above 1 brightens the mid-tones, 1: none)")
            ->capture_default_str();
    }
    {
        struct Params {
            int black = 0;
            int white = 255;
            float gamma = 1.0f;
        };
        auto p = std::make_shared<Params>();
        CLI::App *cmd = r.add("levels", "Black point, white point and mid-tone gamma",
                              [p](const char *in, const char *out) {
                                  return velmora_levels(in, out, p->black, p->white, p->gamma);
                              });
        cmd->add_option("--black", p->black, "Black point, 0..255, below --white")
            ->capture_default_str();
        cmd->add_option("--white", p->white, "White point, 0..255, above --black")
            ->capture_default_str();
        cmd->add_option("--gamma", p->gamma, "Mid-tone gamma, 0.1..5.0 (1: none)")
            ->capture_default_str();
    }
    r.add("auto-levels", "Stretch each channel from its darkest to its brightest value",
          velmora_auto_levels);
    add_curves(r);
    {
        struct Params {
            int strength = 0;
            int radius = 100;
        };
        auto p = std::make_shared<Params>();
        CLI::App *cmd = r.add("vignette", "Darken towards the rim",
                              [p](const char *in, const char *out) {
                                  return velmora_vignette(in, out, p->strength, p->radius);
                              });
        cmd->add_option("--strength", p->strength,
                        "Darkening at and beyond the radius in percent, 0..100 (0: none)")
            ->capture_default_str();
        cmd->add_option("--radius", p->radius,
                        "Radius in percent of the shorter image side, 1..100")
            ->capture_default_str();
    }
}

}  // namespace velmora_cli
