// A window that shows the captures the imager's trigger starts as they arrive: one line
// each in a list (time and barcodes), the last image in a picture box.
//
//   TriggerForm [PORT]        (default 7; with velsim: VEL_SERIAL_PORT_7=rfc2217://127.0.0.1:2217)
//
// The package raises TriggerCaptured on the SynchronizationContext that was current when
// the handler was added: subscribed from the form, the handler runs on the UI thread and
// may touch the controls directly.
using System;
using System.Drawing;
using System.Drawing.Imaging;
using System.Globalization;
using System.Linq;
using System.Runtime.InteropServices;
using System.Windows.Forms;
using ImgEngine;

sealed class TriggerForm : Form
{
    readonly int _port;
    readonly ListBox _captures = new ListBox { Dock = DockStyle.Left, Width = 360, IntegralHeight = false };
    readonly PictureBox _picture = new PictureBox { Dock = DockStyle.Fill, SizeMode = PictureBoxSizeMode.Zoom };
    readonly Label _status = new Label { Dock = DockStyle.Bottom, Height = 22 };
    Imager _imager;
    int _count;

    TriggerForm(int port)
    {
        _port = port;
        Text = "Trigger captures";
        ClientSize = new Size(1000, 560);
        Controls.Add(_picture);
        Controls.Add(_captures);
        Controls.Add(_status);
        Load += (sender, e) => Connect();
        FormClosed += (sender, e) => Disconnect();
    }

    void Connect()
    {
        try
        {
            _imager = new Imager();
            _imager.Connect(_port, TimeSpan.FromSeconds(30));
            _imager.TriggerCaptured += OnTriggerCaptured;  // on this (the UI) thread's context
            _status.Text = string.Format("port {0}, firmware {1}: pull the trigger", _port, _imager.Versions.Firmware);
        }
        catch (ImagerException error)
        {
            _status.Text = error.Message;
            Disconnect();
        }
    }

    void Disconnect()
    {
        if (_imager == null)
            return;
        _imager.TriggerCaptured -= OnTriggerCaptured;
        _imager.Dispose();
        _imager = null;
    }

    void OnTriggerCaptured(object sender, TriggerCapturedEventArgs e)
    {
        _count++;
        if (e.Error != null)
        {
            _captures.Items.Insert(0, string.Format("{0:HH:mm:ss}  #{1}  unreadable: {2}", DateTime.Now, _count, e.Error.Message));
            return;
        }
        Capture capture = e.Capture;
        string barcodes = capture.Barcodes.Count == 0
            ? "no barcode"
            : string.Join("; ", capture.Barcodes.Select(b => b.Name + " " + b.Text));
        _captures.Items.Insert(0, string.Format("{0:HH:mm:ss}  #{1}  {2}", DateTime.Now, _count, barcodes));

        ImgEngine.Image image = capture.Colour ?? capture.Grey ?? capture.Binary;
        if (image != null)
        {
            System.Drawing.Image previous = _picture.Image;
            _picture.Image = ToBitmap(image);
            if (previous != null)
                previous.Dispose();
        }
    }

    // The package's pixels (rows top first, grey or RGB, no padding) as a GDI+ bitmap, whose
    // rows are padded to 4 bytes and whose colour pixels are blue, green, red.
    static Bitmap ToBitmap(ImgEngine.Image image)
    {
        bool colour = image.Kind == ImageKind.Colour;
        if (image.Width <= 0 || image.Height <= 0)
            throw new ArgumentException("an empty image");
        byte[] pixels = image.Pixels;
        int rowBytes = image.Width * image.BytesPerPixel;
        if (pixels.Length < (long)rowBytes * image.Height)
            throw new ArgumentException("the image holds fewer pixels than its size says");
        var bitmap = new Bitmap(image.Width, image.Height, colour ? PixelFormat.Format24bppRgb : PixelFormat.Format8bppIndexed);
        if (!colour)
        {
            ColorPalette palette = bitmap.Palette;
            for (int i = 0; i < 256; i++)
                palette.Entries[i] = Color.FromArgb(i, i, i);
            bitmap.Palette = palette;
        }
        BitmapData data = bitmap.LockBits(new Rectangle(0, 0, image.Width, image.Height), ImageLockMode.WriteOnly,
                                          bitmap.PixelFormat);
        try
        {
            var row = new byte[rowBytes];
            for (int y = 0; y < image.Height; y++)
            {
                Buffer.BlockCopy(pixels, y * rowBytes, row, 0, rowBytes);
                if (colour)
                {
                    for (int x = 0; x < rowBytes; x += 3)
                    {
                        byte red = row[x];
                        row[x] = row[x + 2];
                        row[x + 2] = red;
                    }
                }
                Marshal.Copy(row, 0, data.Scan0 + y * data.Stride, rowBytes);
            }
        }
        finally
        {
            bitmap.UnlockBits(data);
        }
        return bitmap;
    }

    [STAThread]
    static int Main(string[] args)
    {
        int port = 7;
        if (args.Length > 1 || (args.Length == 1 &&
            (!int.TryParse(args[0], NumberStyles.None, CultureInfo.InvariantCulture, out port) || port > 100)))
        {
            Console.Error.WriteLine("usage: TriggerForm [PORT]");
            return 2;
        }
        Application.EnableVisualStyles();
        Application.Run(new TriggerForm(port));
        return 0;
    }
}
