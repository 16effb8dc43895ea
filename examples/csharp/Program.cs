// A small host of the plenvo library: fits a file to a paper or a size,
// scales one by a percentage, prints a page's size. Failures print the
// library's message on standard error.
//
//   plenvo-example fit IN OUT A4|Letter|A3|A5|Legal
//   plenvo-example fit IN OUT WIDTH HEIGHT      (points)
//   plenvo-example percent IN OUT PERCENT
//   plenvo-example size IN [PAGE]
//
// Exit status: 0 done, 1 the library refused, 2 wrong command line.
using System;
using System.Globalization;

static class Program
{
    static readonly string[] Papers = { "A4", "Letter", "A3", "A5", "Legal" };

    static int Main(string[] args)
    {
        try
        {
            return Run(args);
        }
        catch (FormatException e)
        {
            return Usage(e.Message);
        }
        catch (DllNotFoundException e)
        {
            // Windows looks beside the program and on PATH; Linux on the
            // library path (LD_LIBRARY_PATH) and beside the program under Mono.
            Console.Error.WriteLine("plenvo-example: cannot load the plenvo library: " + e.Message);
            return 1;
        }
    }

    static int Run(string[] args)
    {
        string command = args.Length > 0 ? args[0] : "";
        if (command == "fit" && args.Length == 4)
        {
            int paper = Array.FindIndex(Papers,
                name => string.Equals(name, args[3], StringComparison.OrdinalIgnoreCase));
            if (paper < 0)
                return Usage("unknown paper " + args[3]);
            return Done(Plenvo.ToSize(args[1], args[2], paper));
        }
        if (command == "fit" && args.Length == 5)
            return Done(Plenvo.Custom(args[1], args[2], Number(args[3]), Number(args[4])));
        if (command == "percent" && args.Length == 4)
            return Done(Plenvo.Percent(args[1], args[2], Number(args[3])));
        if (command == "size" && (args.Length == 2 || args.Length == 3))
        {
            int page = args.Length == 3 ? int.Parse(args[2], CultureInfo.InvariantCulture) : 1;
            string json = Plenvo.PageSize(args[1], page);
            if (json == null)
                return Done(0);
            Console.WriteLine(json);
            return 0;
        }
        return Usage("expected fit, percent or size with their arguments");
    }

    // A number written with a decimal point, whatever the culture.
    static float Number(string text)
    {
        return float.Parse(text, NumberStyles.Float, CultureInfo.InvariantCulture);
    }

    static int Done(int ok)
    {
        if (ok != 0)
            return 0;
        Console.Error.WriteLine("plenvo: " + Plenvo.LastError());
        return 1;
    }

    static int Usage(string why)
    {
        Console.Error.WriteLine("plenvo-example: " + why);
        Console.Error.WriteLine("usage: plenvo-example fit IN OUT PAPER | fit IN OUT W H | percent IN OUT PCT | size IN [PAGE]");
        return 2;
    }
}
