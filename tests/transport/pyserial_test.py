#!/usr/bin/env python3
"""An independent RFC 2217 client (pyserial's rfc2217://) against velsim's echo
line: the options are negotiated (pyserial's open fails otherwise), the baud rate
is set and velsim reports it, a break is sent and acknowledged, and the line's
answering break arrives as a line-state notification once the mask asks for it;
every byte value, 0xFF (IAC) included, comes back unchanged.

  pyserial_test.py VELSIM
"""
import re
import subprocess
import sys
import time

import serial
import serial.rfc2217 as rfc2217

failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        failures.append(message)


def main():
    velsim = subprocess.Popen([sys.argv[1], "--tcp-port", "0", "--echo"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    try:
        url = re.search(r"rfc2217://[\d.]+:\d+", velsim.stdout.readline()).group(0)
        port = serial.serial_for_url(url, baudrate=57600, timeout=2)
        check(port.baudrate == 57600, "opened at 57600 baud")
        payload = bytes(range(256)) * 4 + b"\xff\xff\xff"
        port.write(payload)
        echoed = port.read(len(payload))
        check(echoed == payload, "every byte value came back (%d of %d bytes)" % (len(echoed), len(payload)))

        # pyserial waits for the server's answer to each SET-CONTROL and raises without it.
        port.rfc2217_send_subnegotiation(rfc2217.SET_LINESTATE_MASK, b"\x10")
        port.send_break(0.05)
        deadline = time.time() + 2
        while not port._linestate & 0x10 and time.time() < deadline:  # pyserial keeps the last NOTIFY-LINESTATE here
            time.sleep(0.01)
        check(port._linestate & 0x10, "the answering break arrived as break detect (line state 0x%02x)" % port._linestate)
        port.write(b"after the break")
        check(port.read(15) == b"after the break", "data flows after the break")
        port.baudrate = 9600
        check(port.baudrate == 9600, "baud rate changed to 9600 and acknowledged")
        port.close()
    finally:
        velsim.stdin.close()
        velsim.terminate()
        log = velsim.stdout.read()
        velsim.wait(timeout=10)
    print(log)
    for line in ("client speaks the com port option", "baud rate 57600", "break on", "break off", "baud rate 9600"):
        check(line in log, "velsim: " + line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
