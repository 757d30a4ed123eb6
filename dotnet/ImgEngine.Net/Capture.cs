using System;
using System.Collections.Generic;
using System.Collections.ObjectModel;
using System.IO;
using System.Text;

namespace ImgEngine
{
    /// <summary>What a host capture asks the imager for.</summary>
    public sealed class CaptureOptions
    {
        /// <summary>Decode the barcodes (default true).</summary>
        public bool Decode { get; set; }

        /// <summary>Send the grey image (default true).</summary>
        public bool Grey { get; set; }

        /// <summary>Send the binary image (default false; SA-1110 imagers only).</summary>
        public bool Binary { get; set; }

        /// <summary>Send the grey image compressed by the imager (default false).</summary>
        public bool Compressed { get; set; }

        /// <summary>
        /// How long the capture may take before it is cancelled and the task fails with a
        /// <see cref="TimeoutException"/> (default 30 s; <see cref="System.Threading.Timeout.InfiniteTimeSpan"/>: no limit).
        /// </summary>
        public TimeSpan Timeout { get; set; }

        /// <summary>A decode with the grey image, uncompressed, within 30 s.</summary>
        public CaptureOptions()
        {
            Decode = true;
            Grey = true;
            Timeout = TimeSpan.FromSeconds(30);
        }
    }

    /// <summary>Which operation a capture came from.</summary>
    public enum CaptureKind
    {
        /// <summary>A capture the application asked for (<see cref="Imager.CaptureAsync(CaptureOptions, System.Threading.CancellationToken)"/>).</summary>
        Host,

        /// <summary>A capture the imager's trigger started.</summary>
        Trigger,
    }

    /// <summary>A point of an image, in pixels.</summary>
    public struct Point : IEquatable<Point>
    {
        /// <summary>The column.</summary>
        public readonly int X;

        /// <summary>The row.</summary>
        public readonly int Y;

        /// <summary>The point (x, y).</summary>
        public Point(int x, int y)
        {
            X = x;
            Y = y;
        }

        /// <summary>Whether both coordinates are equal.</summary>
        public bool Equals(Point other) { return X == other.X && Y == other.Y; }

        /// <summary>Whether obj is a point with equal coordinates.</summary>
        public override bool Equals(object obj) { return obj is Point && Equals((Point)obj); }

        /// <summary>A hash of both coordinates.</summary>
        public override int GetHashCode() { return X * 397 ^ Y; }

        /// <summary>"(x, y)".</summary>
        public override string ToString() { return "(" + X + ", " + Y + ")"; }
    }

    /// <summary>One decoded barcode.</summary>
    public sealed class Barcode
    {
        static readonly Encoding Latin1 = Encoding.GetEncoding(28591);
        readonly byte[] _data;

        /// <summary>The barcode type id (1..22 name a symbology).</summary>
        public int Type { get; private set; }

        /// <summary>The symbology's name ("Code 128"), "unknown" for a type without one.</summary>
        public string Name { get; private set; }

        /// <summary>The decoded bytes (a copy each time).</summary>
        public byte[] Data { get { return (byte[])_data.Clone(); } }

        /// <summary>The decoded bytes as text, one character per byte (ISO 8859-1).</summary>
        public string Text { get { return Latin1.GetString(_data); } }

        /// <summary>The corners: top left, top right, bottom right, bottom left.</summary>
        public ReadOnlyCollection<Point> Corners { get; private set; }

        /// <summary>The time the imager took to decode it, as the library reports it.</summary>
        public int DecodeTime { get; private set; }

        internal Barcode(int type, string name, byte[] data, Point[] corners, int decodeTime)
        {
            Type = type;
            Name = name;
            _data = data;
            Corners = new ReadOnlyCollection<Point>(corners);
            DecodeTime = decodeTime;
        }

        /// <summary>Name and text.</summary>
        public override string ToString() { return Name + ": " + Text; }
    }

    /// <summary>The timings of a capture with decoding, as the library reports them.</summary>
    public sealed class Timings
    {
        /// <summary>The image capture time.</summary>
        public int Capture { get; private set; }

        /// <summary>The auto-exposure execution time.</summary>
        public int AutoExposure { get; private set; }

        /// <summary>The image processing time.</summary>
        public int Processing { get; private set; }

        internal Timings(int capture, int autoExposure, int processing)
        {
            Capture = capture;
            AutoExposure = autoExposure;
            Processing = processing;
        }
    }

    /// <summary>What an image's pixels are.</summary>
    public enum ImageKind
    {
        /// <summary>One byte per pixel, the grey level.</summary>
        Grey,

        /// <summary>One byte per pixel, 0 or 255.</summary>
        Binary,

        /// <summary>Three bytes per pixel: red, green, blue.</summary>
        Colour,
    }

    /// <summary>An image of a capture, copied out of the library's buffers: valid for good.</summary>
    public sealed class Image
    {
        readonly byte[] _pixels;
        readonly byte[] _bitmapFile;  // the library's bitmap file image, or null

        /// <summary>Grey, binary or colour.</summary>
        public ImageKind Kind { get; private set; }

        /// <summary>The width in pixels.</summary>
        public int Width { get; private set; }

        /// <summary>The height in pixels.</summary>
        public int Height { get; private set; }

        /// <summary>Bytes per pixel: 1, or 3 for a colour image.</summary>
        public int BytesPerPixel { get { return Kind == ImageKind.Colour ? 3 : 1; } }

        /// <summary>The pixels, rows top first, <see cref="BytesPerPixel"/> bytes each, no padding (a copy each time).</summary>
        public byte[] Pixels { get { return (byte[])_pixels.Clone(); } }

        internal byte[] PixelsShared { get { return _pixels; } }

        internal Image(ImageKind kind, int width, int height, byte[] pixels, byte[] bitmapFile)
        {
            Kind = kind;
            Width = width;
            Height = height;
            _pixels = pixels;
            _bitmapFile = bitmapFile;
        }

        /// <summary>
        /// Writes the image as a BMP file: the library's own bitmap file image where the
        /// library made one for it, else an 8-bit grey (or 24-bit colour) bitmap of the pixels.
        /// </summary>
        public void SaveBmp(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            File.WriteAllBytes(path, _bitmapFile ?? Bitmap.Encode(this));
        }

        /// <summary>
        /// Writes the image as a JPEG file, compressed by the library (quality 75) from a
        /// bitmap of its pixels. A compressed grey capture's own stream is in <see cref="Capture.Jpeg"/>
        /// and <see cref="Capture.SaveJpeg"/>.
        /// </summary>
        public void SaveJpeg(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            string folder = Path.Combine(Path.GetTempPath(), "imgengine-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(folder);
            try
            {
                string source = Path.Combine(folder, "image.bmp");
                File.WriteAllBytes(source, Bitmap.Encode(this));
                int result;
                using (Calls.Shared()) result = Native.NativeMethods.VelExecuteCompression(source, Path.GetFullPath(path));
                if (result != 1)
                    throw new ImagerException("the image could not be compressed into " + path, ResultMeanings.Conversions, result);
            }
            finally
            {
                Directory.Delete(folder, true);
            }
        }
    }

    /// <summary>The outcome of one run of the host or the trigger operation, copied out of the library.</summary>
    public sealed class Capture
    {
        readonly byte[] _jpeg;

        /// <summary>Host or trigger.</summary>
        public CaptureKind Kind { get; private set; }

        /// <summary>The run's end event: 1 done, 9 trigger done with a grey image.</summary>
        public int EndEvent { get; private set; }

        /// <summary>The decoded barcodes (empty when no decode was reported).</summary>
        public ReadOnlyCollection<Barcode> Barcodes { get; private set; }

        /// <summary>The timings of the decode, or null when no decode was reported.</summary>
        public Timings Timings { get; private set; }

        /// <summary>The grey image (a colour capture's luma), or null.</summary>
        public Image Grey { get; private set; }

        /// <summary>The colour image from a colour sensor, or null.</summary>
        public Image Colour { get; private set; }

        /// <summary>The binary image, or null.</summary>
        public Image Binary { get; private set; }

        /// <summary>The compressed grey image's stream as the imager sent it, or null (a copy each time).</summary>
        public byte[] Jpeg { get { return _jpeg == null ? null : (byte[])_jpeg.Clone(); } }

        /// <summary>The library's capture time text of the grey image, or "".</summary>
        public string Timestamp { get; private set; }

        internal Capture(CaptureKind kind, int endEvent, IList<Barcode> barcodes, Timings timings, Image grey,
                         Image colour, Image binary, byte[] jpeg, string timestamp)
        {
            Kind = kind;
            EndEvent = endEvent;
            Barcodes = new ReadOnlyCollection<Barcode>(barcodes);
            Timings = timings;
            Grey = grey;
            Colour = colour;
            Binary = binary;
            _jpeg = jpeg;
            Timestamp = timestamp ?? "";
        }

        /// <summary>Writes the colour image, else the grey image, as a BMP file.</summary>
        public void SaveBmp(string path)
        {
            Picture().SaveBmp(path);
        }

        /// <summary>
        /// Writes the grey image's stream as the imager sent it when it came compressed; else
        /// the colour or grey image compressed by the library.
        /// </summary>
        public void SaveJpeg(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            if (_jpeg != null && Colour == null)
            {
                File.WriteAllBytes(path, _jpeg);
                return;
            }
            Picture().SaveJpeg(path);
        }

        Image Picture()
        {
            Image image = Colour ?? Grey;
            if (image == null) throw new InvalidOperationException("this capture holds no grey or colour image");
            return image;
        }
    }
}
