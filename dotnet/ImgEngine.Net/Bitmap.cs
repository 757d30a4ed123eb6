using System;
using System.IO;

namespace ImgEngine
{
    /// <summary>
    /// Bitmap file images as the library's buffers hold them (1, 8 or 24 bits per pixel,
    /// uncompressed), read into pixels; and pixels written as a bitmap file. Every size and
    /// offset in the headers is checked against the bytes at hand before use.
    /// </summary>
    static class Bitmap
    {
        const int FileHeader = 14;
        const int InfoHeader = 40;
        const int MaxSide = 1 << 15;

        static int U16(byte[] b, int at) { return b[at] | b[at + 1] << 8; }
        static int I32(byte[] b, int at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24; }

        /// <summary>
        /// The pixels of a bitmap, rows top first: for 24 bits per pixel RGB (3 bytes a pixel),
        /// else one grey level a pixel (the luma of its palette entry).
        /// </summary>
        internal static byte[] Read(byte[] data, out int width, out int height, out int bits)
        {
            if (data == null || data.Length < FileHeader + InfoHeader) throw Bad("too few bytes for a bitmap");
            if (data[0] != 'B' || data[1] != 'M') throw Bad("no bitmap signature");
            long offset = (uint)I32(data, 10);
            long infoSize = (uint)I32(data, 14);
            width = I32(data, 18);
            int rawHeight = I32(data, 22);
            int planes = U16(data, 26);
            bits = U16(data, 28);
            int compression = I32(data, 30);
            long colours = (uint)I32(data, 46);
            if (infoSize < InfoHeader || planes != 1 || compression != 0) throw Bad("not an uncompressed bitmap");
            if (bits != 1 && bits != 8 && bits != 24) throw Bad(bits + " bits per pixel are not read");
            bool topDown = rawHeight < 0;
            height = rawHeight == int.MinValue ? -1 : Math.Abs(rawHeight);
            if (width <= 0 || width > MaxSide || height <= 0 || height > MaxSide)
                throw Bad(string.Format("size {0} x {1} out of range", width, height));
            long stride = ((long)width * bits + 31) / 32 * 4;
            if (offset < FileHeader + infoSize || offset + stride * height > data.Length)
                throw Bad("the pixels lie outside the file");
            if (bits == 24)
            {
                var rgb = new byte[(long)width * height * 3];
                for (int y = 0; y < height; y++)
                {
                    long row = offset + stride * (topDown ? y : height - 1 - y);
                    long to = (long)y * width * 3;
                    for (int x = 0; x < width; x++, to += 3, row += 3)
                    {
                        rgb[to] = data[row + 2];
                        rgb[to + 1] = data[row + 1];
                        rgb[to + 2] = data[row];
                    }
                }
                return rgb;
            }
            long count = colours != 0 ? colours : 1L << bits;
            long start = FileHeader + infoSize;
            if (count > 1L << bits || start + 4 * count > offset) throw Bad("the palette does not fit");
            var levels = new byte[256];
            for (long i = 0; i < count; i++)
                levels[i] = Level(data[start + i * 4 + 2], data[start + i * 4 + 1], data[start + i * 4]);
            var grey = new byte[(long)width * height];
            for (int y = 0; y < height; y++)
            {
                long row = offset + stride * (topDown ? y : height - 1 - y);
                long to = (long)y * width;
                for (int x = 0; x < width; x++)
                {
                    int index = bits == 8 ? data[row + x] : data[row + x / 8] >> (7 - x % 8) & 1;
                    if (index >= count) throw Bad("a pixel names a colour the palette does not have");
                    grey[to + x] = levels[index];
                }
            }
            return grey;
        }

        /// <summary>The grey level of a colour (ITU-R BT.601 luma, rounded).</summary>
        static byte Level(int r, int g, int b)
        {
            return (byte)Math.Min(255, Math.Round(r * 0.299 + g * 0.587 + b * 0.114, MidpointRounding.ToEven));
        }

        /// <summary>The grey level of RGB pixels.</summary>
        internal static byte[] Luma(byte[] rgb)
        {
            var grey = new byte[rgb.Length / 3];
            for (int i = 0; i < grey.Length; i++) grey[i] = Level(rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]);
            return grey;
        }

        /// <summary>An 8-bit grey (grey and binary images) or 24-bit (colour) bitmap file of the pixels.</summary>
        internal static byte[] Encode(Image image)
        {
            int bpp = image.BytesPerPixel;
            int paletteBytes = bpp == 1 ? 1024 : 0;
            int stride = (image.Width * bpp + 3) / 4 * 4;
            int offset = FileHeader + InfoHeader + paletteBytes;
            long size = offset + (long)stride * image.Height;
            if (size > int.MaxValue) throw new InvalidOperationException("the image is too large for a bitmap file");
            var b = new byte[size];
            b[0] = (byte)'B';
            b[1] = (byte)'M';
            Put32(b, 2, (int)size);
            Put32(b, 10, offset);
            Put32(b, 14, InfoHeader);
            Put32(b, 18, image.Width);
            Put32(b, 22, image.Height);  // bottom-up
            b[26] = 1;
            b[28] = (byte)(bpp * 8);
            Put32(b, 34, stride * image.Height);
            if (bpp == 1)
            {
                Put32(b, 46, 256);
                for (int i = 0; i < 256; i++)
                {
                    int at = FileHeader + InfoHeader + i * 4;
                    b[at] = b[at + 1] = b[at + 2] = (byte)i;
                }
            }
            byte[] pixels = image.PixelsShared;
            for (int y = 0; y < image.Height; y++)
            {
                int from = y * image.Width * bpp;
                int to = offset + (image.Height - 1 - y) * stride;
                if (bpp == 1)
                {
                    Buffer.BlockCopy(pixels, from, b, to, image.Width);
                    continue;
                }
                for (int x = 0; x < image.Width; x++)
                {
                    b[to + x * 3] = pixels[from + x * 3 + 2];
                    b[to + x * 3 + 1] = pixels[from + x * 3 + 1];
                    b[to + x * 3 + 2] = pixels[from + x * 3];
                }
            }
            return b;
        }

        static void Put32(byte[] b, int at, int v)
        {
            b[at] = (byte)v;
            b[at + 1] = (byte)(v >> 8);
            b[at + 2] = (byte)(v >> 16);
            b[at + 3] = (byte)(v >> 24);
        }

        static InvalidDataException Bad(string why)
        {
            return new InvalidDataException("the library's bitmap cannot be read: " + why);
        }
    }
}
