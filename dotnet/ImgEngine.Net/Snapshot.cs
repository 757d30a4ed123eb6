using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using ImgEngine.Native;

namespace ImgEngine
{
    /// <summary>
    /// Copies a finished run's results and images out of the library's shared buffers, on
    /// the pump thread as soon as the run ended (the next run replaces them). Every count
    /// and size the library reports is checked before it sizes a buffer.
    /// </summary>
    static class Snapshot
    {
        internal const int ResultsReady = 6, BinaryReady = 7, GreyReady = 8;
        const int MaxBarcodes = 1024;
        const int MaxBarcodeBytes = 1 << 20;
        const int MaxImageBytes = 1 << 28;
        const int NameBytes = 64;
        static readonly Encoding Latin1 = Encoding.GetEncoding(28591);

        static int Checked(int value, int limit, string what)
        {
            if (value < 0 || value > limit)
                throw new InvalidDataException(string.Format("the library reported {0} for {1} (0..{2} expected)", value, what, limit));
            return value;
        }

        internal static Capture Take(CaptureKind kind, int endEvent, ICollection<int> events)
        {
            using (Calls.Shared())
            {
                var barcodes = new List<Barcode>();
                Timings timings = null;
                if (events.Contains(ResultsReady))
                {
                    barcodes = ReadBarcodes();
                    timings = new Timings(NativeMethods.VelGetImageCaptureTime(), NativeMethods.VelGetAutoExposureExecutionTime(),
                                          NativeMethods.VelGetImageProcessingTime());
                }
                Image grey = null, colour = null, binary = null;
                byte[] jpeg = null;
                string timestamp = "";
                // Only what the run announced: a trigger's end 9 follows the host's option to read
                // a grey image, whether or not the imager sent one.
                if (events.Contains(GreyReady))
                {
                    ReadGrey(out grey, out colour, out jpeg);
                    IntPtr text = NativeMethods.VelGetCaptureTimestampStringInASCII();
                    timestamp = text == IntPtr.Zero ? "" : Marshal.PtrToStringAnsi(text);
                }
                if (events.Contains(BinaryReady))
                {
                    byte[] file = Buffer(NativeMethods.VelGetBinaryImageBitmapFileData(), NativeMethods.VelGetBinaryImageBitmapFileSize(),
                                         "the binary bitmap's size");
                    if (file != null)
                    {
                        int w, h, bits;
                        byte[] levels = Bitmap.Read(file, out w, out h, out bits);
                        if (bits == 24) levels = Bitmap.Luma(levels);
                        for (int i = 0; i < levels.Length; i++) levels[i] = levels[i] >= 128 ? (byte)255 : (byte)0;
                        binary = new Image(ImageKind.Binary, w, h, levels, file);
                    }
                }
                return new Capture(kind, endEvent, barcodes, timings, grey, colour, binary, jpeg, timestamp);
            }
        }

        static List<Barcode> ReadBarcodes()
        {
            int count = Checked(NativeMethods.VelGetNumberOfDecodedBarcodes(), MaxBarcodes, "the number of barcodes");
            var barcodes = new List<Barcode>(count);
            var name = new byte[NameBytes];
            for (int i = 0; i < count; i++)
            {
                int type = NativeMethods.VelGetBarcodeType(i);
                int size = Checked(NativeMethods.VelGetBarcodeDataSize(i), MaxBarcodeBytes, "a barcode's size");
                var buffer = new byte[Math.Max(size, 1)];
                int n = Math.Max(0, Math.Min(NativeMethods.VelGetBarcodeData(i, size, buffer), size));
                var data = new byte[n];
                Array.Copy(buffer, data, n);
                var corners = new[]
                {
                    new Point(NativeMethods.VelGetBarcodeTopLeftX(i), NativeMethods.VelGetBarcodeTopLeftY(i)),
                    new Point(NativeMethods.VelGetBarcodeTopRightX(i), NativeMethods.VelGetBarcodeTopRightY(i)),
                    new Point(NativeMethods.VelGetBarcodeBottomRightX(i), NativeMethods.VelGetBarcodeBottomRightY(i)),
                    new Point(NativeMethods.VelGetBarcodeBottomLeftX(i), NativeMethods.VelGetBarcodeBottomLeftY(i)),
                };
                int length = Math.Max(0, Math.Min(NativeMethods.VelGetBarcodeName(type, NameBytes, name), NameBytes));
                string symbology = length == 0 ? "unknown" : Latin1.GetString(name, 0, length).Split('\0')[0];
                barcodes.Add(new Barcode(type, symbology, data, corners, NativeMethods.VelGetBarcodeProcessingTime(i)));
            }
            return barcodes;
        }

        static byte[] Buffer(IntPtr pointer, int size, string what)
        {
            Checked(size, MaxImageBytes, what);
            if (size == 0 || pointer == IntPtr.Zero) return null;
            var bytes = new byte[size];
            Marshal.Copy(pointer, bytes, 0, size);
            return bytes;
        }

        static void ReadGrey(out Image grey, out Image colour, out byte[] jpeg)
        {
            grey = colour = null;
            jpeg = null;
            byte[] file;
            bool compressed = NativeMethods.VelGetGreyImageDataSize() == 0 && NativeMethods.VelGetGreyImageCompressedDataSize() > 0;
            if (compressed)
            {
                jpeg = Buffer(NativeMethods.VelGetGreyImageData(), NativeMethods.VelGetGreyImageCompressedDataSize(),
                              "the compressed grey image's size");
                file = jpeg == null ? null : Decompressed(jpeg);
            }
            else
            {
                file = Buffer(NativeMethods.VelGetGreyImageBitmapFileData(), NativeMethods.VelGetGreyImageBitmapFileSize(),
                              "the grey bitmap's size");
            }
            if (file == null) return;
            int w, h, bits;
            byte[] pixels = Bitmap.Read(file, out w, out h, out bits);
            if (bits == 24)
            {
                colour = new Image(ImageKind.Colour, w, h, pixels, file);
                grey = new Image(ImageKind.Grey, w, h, Bitmap.Luma(pixels), null);
            }
            else
            {
                grey = new Image(ImageKind.Grey, w, h, pixels, file);
            }
        }

        /// <summary>The library's decompression of a JPEG stream into a grey bitmap file image.</summary>
        static byte[] Decompressed(byte[] jpeg)
        {
            string folder = Path.Combine(Path.GetTempPath(), "imgengine-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(folder);
            try
            {
                string source = Path.Combine(folder, "image.jpg"), target = Path.Combine(folder, "image.bmp");
                File.WriteAllBytes(source, jpeg);
                int result = NativeMethods.VelExecuteDecompression(source, target);
                if (result != 1)
                    throw new ImagerException("the compressed grey image could not be decompressed", ResultMeanings.Conversions, result);
                return File.ReadAllBytes(target);
            }
            finally
            {
                Directory.Delete(folder, true);
            }
        }
    }
}
