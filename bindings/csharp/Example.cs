// The C# binding in use: adjustments on a photograph, and a failure's message.
//   mcs -out:example.exe Example.cs Velmora.cs && mono example.exe photo.jpg
using System;
using Tarvinex.Velmora;

static class Example
{
    static int Main(string[] args)
    {
        string photo = args.Length > 0 ? args[0] : "photo.jpg";
        try
        {
            Velmora.Sepia(photo, "photo-sepia.png");
            Velmora.Levels(photo, "photo-levels.jpg", 16, 235, 1.2f);
            Velmora.Curves(photo, "photo-curves.jpg", new[] { 0, 64, 192, 255 }, new[] { 0, 40, 225, 255 });
            Velmora.Colorize(photo, "photo-blue.bmp", (40, 110, 220), 45);
            Console.WriteLine("written: photo-sepia.png photo-levels.jpg photo-curves.jpg photo-blue.bmp");
        }
        catch (VelmoraException e)
        {
            Console.Error.WriteLine(e.Message);
            return 1;
        }
        try
        {
            Velmora.Brightness(photo, "too-bright.jpg", 101);
        }
        catch (VelmoraException e)
        {
            Console.WriteLine("refused: " + e.Message);  // brightness: value 101 out of range -100..+100
        }
        return 0;
    }
}
