/* A program of another project built against the installed library: prints the host
 * version text that the library reports, the version its header was built with, and the
 * largest integration time of the sensor (a function exported under a decorated name on
 * Windows). It fails when the text lacks its terminating zero or differs from the
 * header's. */
#include <stdio.h>
#include <string.h>

#include "ImgEngine.h"

int main(void) {
  char text[64];
  const int n = VelGetHostVersion((int)sizeof text, text);
  if (n <= 0 || text[n - 1] != '\0') {
    fprintf(stderr, "host version of %d bytes without its terminating zero\n", n);
    return 1;
  }
  if (strcmp(text, VEL_HOST_VERSION) != 0) {
    fprintf(stderr, "library reports \"%s\", its header says \"%s\"\n", text, VEL_HOST_VERSION);
    return 1;
  }
  printf("%s\n%d.%d.%d\n", text, VEL_VERSION_MAJOR, VEL_VERSION_MINOR, VEL_VERSION_PATCH);
  printf("maximum integration time %d\n", VelGetMaximumIntegrationTime());
  return 0;
}
