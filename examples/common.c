#include "common.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include "ImgEngine.h"

int parse_number(const char* text, long min, long max, long* value) {
  char* end = NULL;
  long v;
  errno = 0;
  v = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return 0;
  *value = v;
  return 1;
}

static const char* connect_meaning(int result) {
  switch (result) {
    case 1: return "connected";
    case 0: return "no link: the imager did not answer, or reading its versions or configuration failed";
    case -1: return "the imager refused the link check";
    case -2: return "the port did not open (no such port, or a port map entry that cannot be reached)";
    case -3: return "the library ran out of memory or threads";
    default: return "an answer the header does not list";
  }
}

int connect_imager(int port, int channel_timeout_ms) {
  char firmware[64];
  int length;
  /* VelDeviceConnectEx disconnects first, opens the port at 115200 baud, checks the
   * link and reads the imager's versions and configuration. */
  const int result = VelDeviceConnectEx(port, channel_timeout_ms, 115200);
  if (result != 1) {
    fprintf(stderr, "connect to port %d: %d (%s)\n", port, result, connect_meaning(result));
    return 0;
  }
  /* The firmware text comes without a terminating zero: print exactly the bytes copied. */
  length = VelGetFirmwareVersion((int)sizeof firmware, firmware);
  printf("connected to port %d: firmware \"%.*s\", %s sensor\n", port, length, firmware,
         VelIsColorSensor() ? "colour" : "monochrome");
  return 1;
}

/* Barcode data is raw bytes: printable ASCII as it is, anything else (and the quote
 * and backslash) escaped, so that every barcode stays on one line. */
static void print_data(const unsigned char* data, int length) {
  int i;
  putchar('"');
  for (i = 0; i < length; ++i) {
    if (data[i] == '"' || data[i] == '\\')
      printf("\\%c", data[i]);
    else if (data[i] >= 0x20 && data[i] < 0x7F)
      putchar(data[i]);
    else
      printf("\\x%02X", data[i]);
  }
  putchar('"');
}

void print_barcodes(void) {
  const int count = VelGetNumberOfDecodedBarcodes();
  int i;
  printf("barcodes: %d\n", count);
  for (i = 0; i < count; ++i) {
    char name[64];
    const int type = VelGetBarcodeType(i);
    const int name_length = VelGetBarcodeName(type, (int)sizeof name, name); /* 0: unknown type */
    const int size = VelGetBarcodeDataSize(i);
    unsigned char* data = size > 0 ? malloc((size_t)size) : NULL;
    const int length = data ? VelGetBarcodeData(i, size, data) : 0;

    printf("barcode %d: %.*s ", i + 1, name_length, name_length > 0 ? name : "unknown type");
    print_data(data, length);
    printf("\n  corners: top-left (%d,%d) top-right (%d,%d) bottom-right (%d,%d) bottom-left (%d,%d)\n",
           VelGetBarcodeTopLeftX(i), VelGetBarcodeTopLeftY(i), VelGetBarcodeTopRightX(i),
           VelGetBarcodeTopRightY(i), VelGetBarcodeBottomRightX(i), VelGetBarcodeBottomRightY(i),
           VelGetBarcodeBottomLeftX(i), VelGetBarcodeBottomLeftY(i));
    free(data);
  }
  fflush(stdout);
}
