// Connects to an imager, captures with decoding, prints every barcode and saves the image.
//
//   CaptureConsole [PORT] [--out FILE] [--timeout SECONDS]
//
// PORT is the library's port number (0 USB, 1..99 COM ports; default 7). With velsim, map
// the COM port to it first: VEL_SERIAL_PORT_7=rfc2217://127.0.0.1:2217. The image is saved
// as a bitmap, or as JPEG when FILE ends in .jpg. Ctrl+C cancels the capture.
using System;
using System.Globalization;
using System.Linq;
using System.Threading;
using ImgEngine;

static class Program
{
    static int Main(string[] args)
    {
        int port = 7;
        string output = "capture.bmp";
        int timeoutSeconds = 30;
        for (int i = 0; i < args.Length; i++)
        {
            if (args[i] == "--out" && i + 1 < args.Length)
                output = args[++i];
            else if (args[i] == "--timeout" && i + 1 < args.Length && int.TryParse(args[i + 1], out timeoutSeconds) &&
                     timeoutSeconds > 0)
                i++;
            else if (!int.TryParse(args[i], NumberStyles.None, CultureInfo.InvariantCulture, out port) || port > 100)
                return Usage();
        }

        try
        {
            using (var imager = new Imager())
            using (var cancel = new CancellationTokenSource())
            {
                imager.Connect(port, TimeSpan.FromSeconds(timeoutSeconds));
                Console.WriteLine("connected to port {0}: firmware {1}", port, imager.Versions.Firmware);

                // The factory configuration decodes one barcode and leaves QR Code off: ask for
                // every barcode in view, QR Codes included.
                imager.Settings.MaximumNumberBarcodesToDecode = 20;
                imager.Settings.QRCodeEnabled = true;
                imager.SendTemporary();

                ConsoleCancelEventHandler onCtrlC = (sender, e) => { e.Cancel = true; cancel.Cancel(); };
                Console.CancelKeyPress += onCtrlC;
                Capture capture;
                try
                {
                    var options = new CaptureOptions { Timeout = TimeSpan.FromSeconds(2 * timeoutSeconds) };
                    capture = imager.CaptureAsync(options, cancel.Token).GetAwaiter().GetResult();
                }
                finally
                {
                    Console.CancelKeyPress -= onCtrlC;
                }

                Console.WriteLine("{0} barcode(s)", capture.Barcodes.Count);
                foreach (Barcode barcode in capture.Barcodes)
                    Console.WriteLine("  {0,-14} \"{1}\" at {2}, {3} ms", barcode.Name, barcode.Text,
                                      string.Join(" ", barcode.Corners.Select(c => c.ToString())), barcode.DecodeTime);

                if (output.EndsWith(".jpg", StringComparison.OrdinalIgnoreCase) ||
                    output.EndsWith(".jpeg", StringComparison.OrdinalIgnoreCase))
                    capture.SaveJpeg(output);
                else
                    capture.SaveBmp(output);
                Image image = capture.Colour ?? capture.Grey;
                Console.WriteLine("saved {0} ({1} x {2})", output, image.Width, image.Height);
            }
        }
        catch (ImagerException e)
        {
            Console.Error.WriteLine("CaptureConsole: {0}", e.Message);
            return 1;
        }
        catch (OperationCanceledException)
        {
            Console.Error.WriteLine("CaptureConsole: the capture was cancelled");
            return 1;
        }
        catch (TimeoutException e)
        {
            Console.Error.WriteLine("CaptureConsole: {0}", e.Message);
            return 1;
        }
        return 0;
    }

    static int Usage()
    {
        Console.Error.WriteLine("usage: CaptureConsole [PORT] [--out FILE] [--timeout SECONDS]");
        return 2;
    }
}
