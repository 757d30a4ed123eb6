// The .NET package's costs under Mono, printed as JSON:
//   ImgEngine.Net.Bench.exe getter         a settings getter through Imager.Settings and through
//                                          NativeMethods: 1,000 batches of 1,000 calls, the median
//                                          of the batches' nanoseconds per call
//   ImgEngine.Net.Bench.exe capture N      N host captures (decode and grey image) against the
//                                          imager on port 7: the median milliseconds of CaptureAsync
using System;
using System.Diagnostics;
using System.Globalization;
using System.Threading;
using ImgEngine;
using ImgEngine.Native;

static class CallCost
{
    const int Batches = 1000, Calls = 1000;

    static double Median(double[] values)
    {
        var sorted = (double[])values.Clone();
        Array.Sort(sorted);
        return sorted[sorted.Length / 2];
    }

    static double PerCall(Func<int> call, out int sink)
    {
        var perCall = new double[Batches];
        sink = 0;
        for (int i = 0; i < 10 * Calls; i++) sink += call();  // the JIT and the caches warmed
        for (int b = 0; b < Batches; b++)
        {
            long start = Stopwatch.GetTimestamp();
            for (int i = 0; i < Calls; i++) sink += call();
            perCall[b] = (Stopwatch.GetTimestamp() - start) * 1e9 / Stopwatch.Frequency / Calls;
        }
        return Median(perCall);
    }

    static double PackageGetter(Settings settings, out int sink)
    {
        var perCall = new double[Batches];
        sink = 0;
        for (int i = 0; i < 10 * Calls; i++) sink += settings.Gain;
        for (int b = 0; b < Batches; b++)
        {
            long start = Stopwatch.GetTimestamp();
            for (int i = 0; i < Calls; i++) sink += settings.Gain;
            perCall[b] = (Stopwatch.GetTimestamp() - start) * 1e9 / Stopwatch.Frequency / Calls;
        }
        return Median(perCall);
    }

    static int Main(string[] args)
    {
        CultureInfo.DefaultThreadCurrentCulture = CultureInfo.InvariantCulture;
        Thread.CurrentThread.CurrentCulture = CultureInfo.InvariantCulture;
        if (args.Length == 1 && args[0] == "getter")
        {
            var imager = new Imager();
            int a, b;
            double package = PackageGetter(imager.Settings, out a);
            double native = PerCall(NativeMethods.VelGetGain, out b);
            Console.WriteLine("{{\"package_ns\": {0:F2}, \"native_methods_ns\": {1:F2}, \"calls\": {2}, \"sink\": {3}}}",
                              package, native, Batches * Calls, a + b);
            return 0;
        }
        int count;
        if (args.Length == 2 && args[0] == "capture" && int.TryParse(args[1], out count) && count > 0 && count <= 1000)
        {
            using (var imager = new Imager())
            {
                imager.Connect(7, TimeSpan.FromSeconds(30));
                var ms = new double[count];
                var options = new CaptureOptions { Timeout = TimeSpan.FromSeconds(120) };
                int barcodes = 0;
                imager.CaptureAsync(options, CancellationToken.None).Wait();  // the first capture warms up
                for (int i = 0; i < count; i++)
                {
                    var watch = Stopwatch.StartNew();
                    Capture capture = imager.CaptureAsync(options, CancellationToken.None).Result;
                    ms[i] = watch.Elapsed.TotalMilliseconds;
                    barcodes += capture.Barcodes.Count;
                }
                Console.WriteLine("{{\"capture_ms\": {0:F2}, \"captures\": {1}, \"barcodes\": {2}}}", Median(ms), count, barcodes);
            }
            return 0;
        }
        Console.Error.WriteLine("usage: ImgEngine.Net.Bench.exe getter | capture N");
        return 2;
    }
}
