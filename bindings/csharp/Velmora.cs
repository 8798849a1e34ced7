// C# binding of tarvinex-velmora: every exported function, with failures
// raised as VelmoraException carrying the library's message.
//
// Paths go to the library as UTF-8, which it opens as such on every platform
// (on Windows, any non-ASCII name through the wide file calls). The
// last-error text is one buffer per process, owned by the library: it is read
// as a pointer and copied, never marshalled as a string (which would free
// it), and each call and the reading of its message hold one lock.
using System;
using System.Runtime.InteropServices;

namespace Tarvinex.Velmora
{
    public sealed class VelmoraException : Exception
    {
        public VelmoraException(string message) : base(message) { }
    }

    public static class Native
    {
        const string Lib = "tarvinex-velmora";
        const UnmanagedType Path = UnmanagedType.LPUTF8Str;

        [DllImport(Lib)] public static extern int velmora_init();
        [DllImport(Lib)] public static extern void velmora_cleanup();
        [DllImport(Lib)] public static extern IntPtr velmora_last_error();
        [DllImport(Lib)] public static extern int velmora_grayscale([MarshalAs(Path)] string input, [MarshalAs(Path)] string output);
        [DllImport(Lib)] public static extern int velmora_sepia([MarshalAs(Path)] string input, [MarshalAs(Path)] string output);
        [DllImport(Lib)] public static extern int velmora_invert([MarshalAs(Path)] string input, [MarshalAs(Path)] string output);
        [DllImport(Lib)] public static extern int velmora_brightness([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int value);
        [DllImport(Lib)] public static extern int velmora_contrast([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int value);
        [DllImport(Lib)] public static extern int velmora_gamma([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, float gamma);
        [DllImport(Lib)] public static extern int velmora_levels([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int blackPoint, int whitePoint, float gamma);
        [DllImport(Lib)] public static extern int velmora_auto_levels([MarshalAs(Path)] string input, [MarshalAs(Path)] string output);
        [DllImport(Lib)] public static extern int velmora_curves([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int count, int[] xs, int[] ys, int perChannel);
        [DllImport(Lib)] public static extern int velmora_vignette([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int strength, int radius);
        [DllImport(Lib)] public static extern int velmora_saturation([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int value);
        [DllImport(Lib)] public static extern int velmora_hue([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int degrees);
        [DllImport(Lib)] public static extern int velmora_replace([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int srcR, int srcG, int srcB, int dstR, int dstG, int dstB, int tolerance);
        [DllImport(Lib)] public static extern int velmora_colorize([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int r, int g, int b, int intensity);
        [DllImport(Lib)] public static extern int velmora_white_balance([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int temperature);
        [DllImport(Lib)] public static extern int velmora_color_balance([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int shadowsR, int shadowsG, int shadowsB, int midtonesR, int midtonesG, int midtonesB, int highlightsR, int highlightsG, int highlightsB);
        [DllImport(Lib)] public static extern int velmora_selective([MarshalAs(Path)] string input, [MarshalAs(Path)] string output, int targetHue, int satMin, int hueRange, int adjR1, int adjR2, int adjG1, int adjG2, int adjB1, int adjB2);
    }

    public static class Velmora
    {
        static readonly object Gate = new object();

        // Runs one call; its message, if it fails, is read before another call starts.
        static void Run(Func<int> call)
        {
            string message;
            lock (Gate)
            {
                if (call() != 0) return;
                message = Marshal.PtrToStringUTF8(Native.velmora_last_error()) ?? "";
            }
            throw new VelmoraException(message);
        }

        public static string LastError
        {
            get { lock (Gate) return Marshal.PtrToStringUTF8(Native.velmora_last_error()) ?? ""; }
        }

        public static void Init() { lock (Gate) Native.velmora_init(); }
        public static void Cleanup() { lock (Gate) Native.velmora_cleanup(); }

        public static void Grayscale(string input, string output) => Run(() => Native.velmora_grayscale(input, output));
        public static void Sepia(string input, string output) => Run(() => Native.velmora_sepia(input, output));
        public static void Invert(string input, string output) => Run(() => Native.velmora_invert(input, output));
        public static void Brightness(string input, string output, int value) => Run(() => Native.velmora_brightness(input, output, value));
        public static void Contrast(string input, string output, int value) => Run(() => Native.velmora_contrast(input, output, value));
        public static void Gamma(string input, string output, float gamma) => Run(() => Native.velmora_gamma(input, output, gamma));
        public static void Levels(string input, string output, int blackPoint, int whitePoint, float gamma) => Run(() => Native.velmora_levels(input, output, blackPoint, whitePoint, gamma));
        public static void AutoLevels(string input, string output) => Run(() => Native.velmora_auto_levels(input, output));

        // One curve for R, G and B through the points (xs[k], ys[k]), 2..64 of them.
        public static void Curves(string input, string output, int[] xs, int[] ys)
        {
            if (xs == null || ys == null || xs.Length != ys.Length)
                throw new ArgumentException("xs and ys need the same number of values");
            Run(() => Native.velmora_curves(input, output, xs.Length, xs, ys, 0));
        }

        // Three curves, red, green and blue, back to back in xs and ys, each of
        // the same number of points.
        public static void CurvesPerChannel(string input, string output, int[] xs, int[] ys)
        {
            if (xs == null || ys == null || xs.Length != ys.Length || xs.Length % 3 != 0)
                throw new ArgumentException("xs and ys need three curves of the same number of points");
            Run(() => Native.velmora_curves(input, output, xs.Length / 3, xs, ys, 3));
        }

        public static void Vignette(string input, string output, int strength, int radius) => Run(() => Native.velmora_vignette(input, output, strength, radius));
        public static void Saturation(string input, string output, int value) => Run(() => Native.velmora_saturation(input, output, value));
        public static void Hue(string input, string output, int degrees) => Run(() => Native.velmora_hue(input, output, degrees));
        public static void Replace(string input, string output, (int R, int G, int B) source, (int R, int G, int B) target, int tolerance) =>
            Run(() => Native.velmora_replace(input, output, source.R, source.G, source.B, target.R, target.G, target.B, tolerance));
        public static void Colorize(string input, string output, (int R, int G, int B) color, int intensity) =>
            Run(() => Native.velmora_colorize(input, output, color.R, color.G, color.B, intensity));
        public static void WhiteBalance(string input, string output, int temperature) => Run(() => Native.velmora_white_balance(input, output, temperature));
        public static void ColorBalance(string input, string output, (int R, int G, int B) shadows, (int R, int G, int B) midtones, (int R, int G, int B) highlights) =>
            Run(() => Native.velmora_color_balance(input, output, shadows.R, shadows.G, shadows.B, midtones.R, midtones.G, midtones.B, highlights.R, highlights.G, highlights.B));
        public static void Selective(string input, string output, int targetHue, int satMin, int hueRange, (int A, int B) red, (int A, int B) green, (int A, int B) blue) =>
            Run(() => Native.velmora_selective(input, output, targetHue, satMin, hueRange, red.A, red.B, green.A, green.B, blue.A, blue.B));
    }
}
