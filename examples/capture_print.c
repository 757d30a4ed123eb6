/* capture_print: connect to an imager, run one host capture with decoding, print
 * every barcode it read (symbology, text, corners), disconnect.
 *
 *   capture_print PORT [CHANNEL_TIMEOUT_MS]
 *
 * PORT is the library's port number: 0 USB, 100 USB 2, 1..99 a COM port, which the
 * port map may send to a network serial port (VEL_SERIAL_PORT_7=rfc2217://HOST:PORT).
 * Exit status: 0 done, 1 no connection, 2 wrong arguments, 3 the capture failed. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* nanosleep() */
#endif
#include <stdio.h>
#include <time.h>

#include "ImgEngine.h"
#include "common.h"

#ifdef _WIN32
static void pause_briefly(void) { Sleep(10); }
#else
static void pause_briefly(void) {
  const struct timespec ten_ms = {0, 10 * 1000 * 1000};
  nanosleep(&ten_ms, NULL);
}
#endif

/* Waits until the host operation posts "done" (1) or "aborted" (2), at most seconds;
 * answers that event, 0 on timeout. The status word is (event << 8) | percent of the
 * last progress message; a new connection starts it at 0, so the first run's end
 * cannot be mistaken for an earlier one. */
static int wait_for_capture(int seconds) {
  const time_t until = time(NULL) + seconds;
  do {
    const int event = VelGetHostInitiatedOperationStatus() >> 8;
    if (event == VEL_EVENT_DONE || event == VEL_EVENT_ABORTED) return event;
    pause_briefly();
  } while (time(NULL) <= until);
  return 0;
}

int main(int argc, char** argv) {
  long port, timeout_ms = 3000;
  int event;
  if (argc < 2 || argc > 3 || !parse_number(argv[1], 0, 100, &port) ||
      (argc == 3 && !parse_number(argv[2], 1, 600000, &timeout_ms))) {
    fprintf(stderr, "usage: capture_print PORT [CHANNEL_TIMEOUT_MS]\n");
    return 2;
  }
  if (!connect_imager((int)port, (int)timeout_ms)) return 1;

  /* Settings change only the library's copy of the imager's configuration: the factory
   * defaults leave QR Code off and decode one barcode per image, so switch QR Code on,
   * ask for every barcode in view and send the copy to the imager as its temporary
   * configuration (it lasts until the imager is switched off). */
  VelSetQRCodeEnabled(1);
  VelSetMaximumNumberBarcodesToDecode(20);
  if (VelSetTemporaryDeviceConfiguration() != 1) fprintf(stderr, "the imager did not take the configuration\n");

  /* Decode, no binary image, no grey image, no compression. The call only sends the
   * command; the library's host operation thread reads the answer. */
  VelCaptureImage(1, 0, 0, 0);
  event = wait_for_capture(10 + (int)(timeout_ms / 1000));
  if (event != VEL_EVENT_DONE) {
    fprintf(stderr, "capture %s\n", event == VEL_EVENT_ABORTED ? "aborted" : "did not end in time");
    VelDeviceDisconnect();
    return 3;
  }
  /* "Done" comes after "results ready": the results are complete and stay until the
   * next operation replaces them. */
  print_barcodes();

  VelDeviceDisconnect();
  return 0;
}
