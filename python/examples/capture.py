#!/usr/bin/env python3
"""Connects to an imager, captures with decoding, prints the barcodes and saves the grey image.

    velsim --scene sim/scenes/shelf.scene &          # prints: serving rfc2217://127.0.0.1:2217
    python3 python/examples/capture.py --url rfc2217://127.0.0.1:2217 --out grey.bmp

--url maps COM port 7 to a network serial port (as VEL_SERIAL_PORT_7 does); without it
--port names the imager's port (0 USB, 1..99 COM ports). The image is saved as a bitmap,
or as JPEG when --out ends in .jpg.
"""
import argparse
import os
import sys

import imgengine


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--url", help="a network serial port (rfc2217://HOST:PORT) for COM port 7")
    parser.add_argument("--port", type=int, default=7)
    parser.add_argument("--timeout", type=float, default=30.0, help="seconds for every exchange")
    parser.add_argument("--out", default="grey.bmp")
    args = parser.parse_args()
    if args.url:
        os.environ["VEL_SERIAL_PORT_%d" % args.port] = args.url
    try:
        with imgengine.connect(port=args.port, timeout=args.timeout) as imager:
            print("connected: firmware %s, %s sensor" % (imager.versions.firmware, imager.sensor.name))
            # Every barcode in view: the factory configuration decodes one.
            imager.settings.maximum_number_barcodes_to_decode = 20
            imager.apply()
            capture = imager.capture(decode=True, grey=True, timeout=60)
    except imgengine.ImgEngineError as error:
        print("capture.py: %s" % error, file=sys.stderr)
        return 1
    for barcode in capture.barcodes:
        print("%-12s %r at %s" % (barcode.symbology, barcode.text, barcode.corners))
    if args.out.lower().endswith((".jpg", ".jpeg")):
        capture.save_jpeg(args.out)
    else:
        capture.save_bmp(args.out)
    height, width = capture.grey.shape
    print("saved %s (%d x %d)" % (args.out, width, height))
    return 0


if __name__ == "__main__":
    sys.exit(main())
