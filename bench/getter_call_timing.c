/* The cost of a settings getter called directly from C through libImgEngine.so (the
 * reference of the .NET package's call cost): 1,000 batches of 1,000 calls of
 * VelGetGain, the median of the batches' nanoseconds per call, printed as JSON. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "ImgEngine.h"

enum { BATCHES = 1000, CALLS = 1000 };

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

static int by_value(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(void) {
  static double per_call[BATCHES];
  volatile int sink = 0;
  for (int b = 0; b < BATCHES; ++b) {
    const double start = now_ns();
    for (int i = 0; i < CALLS; ++i) sink += VelGetGain();
    per_call[b] = (now_ns() - start) / CALLS;
  }
  qsort(per_call, BATCHES, sizeof per_call[0], by_value);
  printf("{\"median_ns\": %.2f, \"calls\": %d, \"sink\": %d}\n", per_call[BATCHES / 2], BATCHES * CALLS, sink);
  return 0;
}
