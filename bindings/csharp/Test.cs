// Checks of the C# binding against the library: results, messages, the
// last-error text after a success, UTF-8 paths and every export bound.
using System;
using System.IO;
using System.Reflection;
using Tarvinex.Velmora;

static class Test
{
    static int failures = 0;

    static void Check(bool ok, string what)
    {
        if (!ok) { Console.Error.WriteLine("FAILED: " + what); ++failures; }
    }

    static string Refusal(Action call)
    {
        try { call(); } catch (VelmoraException e) { return e.Message; }
        return null;
    }

    static int Main(string[] args)
    {
        string photo = args[0];
        Directory.SetCurrentDirectory(args[1]);

        Velmora.Init();
        Velmora.Sepia(photo, "sepia.png");
        Check(File.ReadAllBytes("sepia.png")[1] == (byte)'P', "sepia writes a PNG");
        Velmora.Curves(photo, "curves.jpg", new[] { 0, 128, 255 }, new[] { 10, 200, 240 });
        Velmora.CurvesPerChannel(photo, "rgb.bmp", new[] { 0, 255, 0, 255, 0, 255 }, new[] { 0, 255, 255, 0, 0, 128 });
        Velmora.Selective(photo, "sel.jpg", 90, 10, 45, (60, 40), (0, 0), (-50, 0));
        Velmora.ColorBalance(photo, "cb.jpg", (0, 0, 10), (0, 0, 0), (8, 4, 0));
        Velmora.Replace(photo, "rep.png", (70, 75, 50), (255, 80, 0), 25);
        Velmora.Gamma(photo, "写真-γ.jpg", 1.8f);
        Check(File.Exists("写真-γ.jpg"), "a UTF-8 output name is written as given");
        Check(Velmora.LastError == "", "success leaves no message");

        Check(Refusal(() => Velmora.Sepia("missing.jpg", "x.png")) == "sepia: cannot read missing.jpg",
              "a missing input gives the library's message");
        Check(Refusal(() => Velmora.Brightness(photo, "x.png", 101)) == "brightness: value 101 out of range -100..+100",
              "a refused value gives the library's message");
        Check(Refusal(() => Velmora.Gamma(photo, "x.png", 0.05f)) == "gamma: 0.05 out of range 0.1..5.0",
              "a refused float gives the library's message");
        Check(Refusal(() => Velmora.Curves(photo, "x.png", new[] { 0 }, new[] { 0 })) == "curves: need 2..64 control points, got 1",
              "curve arguments are checked first");
        Check(Refusal(() => Velmora.Invert(null, "x.png")) == "invert: NULL input/output", "null paths");
        Check(!File.Exists("x.png"), "no output after a failure");

        // Every export of the header is bound.
        int bound = typeof(Native).GetMethods(BindingFlags.Public | BindingFlags.Static).Length;
        Check(bound == 20, "20 exports bound, found " + bound);

        Console.WriteLine(failures == 0 ? "all checks passed" : failures + " check(s) failed");
        return failures == 0 ? 0 : 1;
    }
}
