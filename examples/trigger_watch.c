/* trigger_watch: connect to an imager and print every capture that its trigger
 * starts, as the library announces it, until COUNT captures were seen or SECONDS
 * passed.
 *
 *   trigger_watch PORT [COUNT [SECONDS [CHANNEL_TIMEOUT_MS]]]     (defaults 3, 60, 3000)
 *
 * The library tells about an operation by posting WM_OPERATION_PROGRESS messages
 * (wParam percent, lParam event). On Windows this program registers a hidden
 * message-only window and runs a message loop; on Linux it registers its own thread
 * and takes the messages with VelOutputProgress.
 * Exit status: 0 COUNT captures seen, 1 no connection, 2 wrong arguments, 3 fewer
 * captures than COUNT before the time ran out. */
#ifndef _WIN32
#define _GNU_SOURCE /* syscall() */
#include <sys/syscall.h>
#include <unistd.h>
#endif
#include <stdio.h>
#include <time.h>

#include "ImgEngine.h"
#include "common.h"

static int captures_seen = 0;

/* Event 6, results ready: the trigger operation has replaced the decode results. Read
 * them now, before a later trigger pull replaces them again. */
static void on_results_ready(void) {
  printf("trigger capture %d:\n", ++captures_seen);
  print_barcodes();
}

#ifdef _WIN32

static int captures_wanted;

static LRESULT CALLBACK on_message(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_OPERATION_PROGRESS) {
    /* Messages posted before the loop takes its quit message are still dispatched:
     * captures beyond the wanted count are not printed. */
    if (lParam == VEL_EVENT_RESULTS_READY && captures_seen < captures_wanted) {
      on_results_ready();
      if (captures_seen == captures_wanted) PostQuitMessage(0);
    } else if (lParam == VEL_EVENT_ABORTED) {
      printf("a trigger capture was aborted\n");
    }
    return 0;
  }
  if (message == WM_TIMER) { /* the time is up */
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

static void watch(int wanted, int seconds) {
  WNDCLASSA window_class = {0};
  HWND window;
  MSG message;
  captures_wanted = wanted;
  window_class.lpfnWndProc = on_message;
  window_class.hInstance = GetModuleHandleA(NULL);
  window_class.lpszClassName = "TriggerWatchWindow";
  RegisterClassA(&window_class);
  /* A message-only window (parent HWND_MESSAGE): never shown, it only receives the
   * messages posted to it, in this thread's message loop. */
  window = CreateWindowExA(0, window_class.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                           window_class.hInstance, NULL);
  if (!window) {
    fprintf(stderr, "no message window: error %lu\n", GetLastError());
    return;
  }
  /* Registrations belong to the connection: make them after every connect. */
  VelRegisterTriggerProgressWindow(window);
  SetTimer(window, 1, (UINT)seconds * 1000u, NULL);
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  VelRegisterTriggerProgressWindow(NULL);
  DestroyWindow(window);
}

#else

static void watch(int wanted, int seconds) {
  const time_t until = time(NULL) + seconds;
  /* A thread is named by its kernel thread id. The library keeps one message queue per
   * thread, made on the thread's first VelOutputProgress call; messages posted to a
   * thread without one are dropped, so make it before registering. */
  VelOutputProgress(0, 0);
  VelRegisterTriggerProgressThread((unsigned int)syscall(SYS_gettid));
  while (captures_seen < wanted && time(NULL) < until) {
    /* Waits up to a second for a progress message; answers events 3..8, -1 when none
     * came (done, aborted and trigger-done messages are taken without an answer). */
    if (VelOutputProgress(0, 1) == VEL_EVENT_RESULTS_READY) on_results_ready();
  }
  VelRegisterTriggerProgressThread(0);
}

#endif

int main(int argc, char** argv) {
  long port, count = 3, seconds = 60, timeout_ms = 3000;
  if (argc < 2 || argc > 5 || !parse_number(argv[1], 0, 100, &port) ||
      (argc > 2 && !parse_number(argv[2], 1, 1000000, &count)) ||
      (argc > 3 && !parse_number(argv[3], 1, 86400, &seconds)) ||
      (argc > 4 && !parse_number(argv[4], 1, 600000, &timeout_ms))) {
    fprintf(stderr, "usage: trigger_watch PORT [COUNT [SECONDS [CHANNEL_TIMEOUT_MS]]]\n");
    return 2;
  }
  if (!connect_imager((int)port, (int)timeout_ms)) return 1;

  /* Ask the imager to decode every barcode in view on every trigger pull and to send
   * no grey image with it (a shorter transfer), in its temporary configuration. */
  VelSetTriggerDecodeBarcodeEnabled(1);
  VelSetMaximumNumberBarcodesToDecode(20);
  VelSetTriggerGrayImageReadEnabled(0);
  if (VelSetTemporaryDeviceConfiguration() != 1) fprintf(stderr, "the imager did not take the configuration\n");

  printf("waiting for %ld trigger captures, at most %ld s\n", count, seconds);
  fflush(stdout);
  watch((int)count, (int)seconds);
  printf("trigger captures seen: %d\n", captures_seen);

  VelDeviceDisconnect();
  return captures_seen >= count ? 0 : 3;
}
