// Tone curves through 2..64 control points: piecewise cubic Hermite
// interpolation with tangents from the neighbouring chord slopes, flat outside
// the first and last point, turned into a 256-entry table per channel. All of
// the curve arithmetic is double precision, summed in a fixed order.
#include "kernels.h"

namespace velmora {

static int build_curve_lut(const int *xs, const int *ys, int count, int *table) {
    for (int k = 0; k < count; ++k)
        if (xs[k] < 0 || xs[k] > 255 || ys[k] < 0 || ys[k] > 255)
            return fail("curves: points must be in 0..255");
    for (int k = 0; k + 1 < count; ++k)
        if (xs[k + 1] <= xs[k]) return fail("curves: x points must be strictly increasing");

    double slope[kMaxCurvePoints - 1] = {};
    double tangent[kMaxCurvePoints] = {};
    for (int k = 0; k + 1 < count; ++k) {
        const int h = xs[k + 1] - xs[k];
        slope[k] = static_cast<double>(ys[k + 1] - ys[k]) / static_cast<double>(h);
    }
    tangent[0] = slope[0];
    tangent[count - 1] = slope[count - 2];
    for (int k = 1; k + 1 < count; ++k) {
        const double left = slope[k - 1], right = slope[k];
        if (left * right <= 0.0) {
            tangent[k] = 0.0;  // a turning point or a flat neighbour: no overshoot there
            continue;
        }
        // Weighted harmonic mean: the left slope weighs twice the right
        // interval's width, the right slope the left interval's width.
        const double h_left = static_cast<double>(xs[k] - xs[k - 1]);
        const double h_right = static_cast<double>(xs[k + 1] - xs[k]);
        const double a = h_right + h_right;
        const double numerator = a + h_left;
        const double denominator = a / left + h_left / right;
        tangent[k] = numerator / denominator;
    }

    const int first = xs[0], last = xs[count - 1];
    for (int i = 0; i < 256; ++i) {
        if (i <= first) {
            table[i] = ys[0];
            continue;
        }
        if (i >= last) {
            table[i] = ys[count - 1];
            continue;
        }
        int k = 0;
        while (xs[k + 1] < i) ++k;  // x_k < i <= x_(k+1)
        const double h = static_cast<double>(xs[k + 1] - xs[k]);
        const double t = static_cast<double>(i - xs[k]) / h;
        const double t2 = t * t;
        const double t3 = t * t2;
        const double h00 = ((t3 + t3) - 3.0 * t2) + 1.0;
        const double h10 = (t3 - (t2 + t2)) + t;
        const double h01 = 3.0 * t2 + (-2.0) * t3;
        const double h11 = t3 - t2;
        const double y0 = static_cast<double>(ys[k]), y1 = static_cast<double>(ys[k + 1]);
        const double v =
            ((h00 * y0 + tangent[k] * (h10 * h)) + y1 * h01) + (h11 * h) * tangent[k + 1];
        // Between points the curve may overshoot; the clamp is its only bound.
        table[i] = v < 0.0 ? 0 : v > 255.0 ? 255 : static_cast<int>(v + 0.5);
    }
    return 1;
}

BandKernelPtr prepare_curves(int, int, const CurveSpec &args, Isa isa) {
    struct Curves {
        int level[3][256];  // red, green, blue
    } t;
    const int n = args.count;
    if (args.per_channel == 0) {
        if (!build_curve_lut(args.xs, args.ys, n, t.level[0])) return nullptr;
        for (int i = 0; i < 256; ++i) t.level[1][i] = t.level[2][i] = t.level[0][i];
    } else {
        // The first curve that fails is the one reported.
        for (int c = 0; c < 3; ++c)
            if (!build_curve_lut(args.xs + c * n, args.ys + c * n, n, t.level[c])) return nullptr;
    }
    return prepare_channels("curves", isa, [t](int c, int v) { return t.level[c][v]; });
}

int op_curves(Image &img, const CurveSpec &args, Isa isa) {
    return run_whole(img, prepare_curves(img.width, img.height, args, isa));
}

}  // namespace velmora
