// Progress registrations, cancels and status of the host and trigger operations,
// and the wait for a progress message. Without a connection the registrations
// only return their argument, the cancels do nothing and the status is 0.
#include <cstdint>

#include "ImgEngine.h"
#include "api/TracedCall.h"
#include "core/LibraryState.h"
#include "operations/Progress.h"
#include "platform/Messages.h"
#include "platform/Time.h"

// The public event constants are the operations' own codes.
static_assert(VEL_EVENT_DONE == vel::kEventDone && VEL_EVENT_ABORTED == vel::kEventAborted &&
                  VEL_EVENT_RESULTS_PROGRESS == vel::kEventResultsProgress &&
                  VEL_EVENT_BINARY_IMAGE_PROGRESS == vel::kEventBinaryImageProgress &&
                  VEL_EVENT_GREY_IMAGE_PROGRESS == vel::kEventGreyImageProgress &&
                  VEL_EVENT_RESULTS_READY == vel::kEventResultsReady &&
                  VEL_EVENT_BINARY_IMAGE_READY == vel::kEventBinaryImageReady &&
                  VEL_EVENT_GREY_IMAGE_READY == vel::kEventGreyImageReady &&
                  VEL_EVENT_TRIGGER_DONE_WITH_GREY_IMAGE == vel::kEventTriggerDoneWithGreyImage,
              "event codes of the public header");

using vel::Operation;
using vel::OperationKind;

namespace {

// Runs use on the operation of the open connection, if there is one.
template <typename Use>
void withOperation(OperationKind kind, Use use) {
  vel::library().withSession([&](vel::Session* session) {
    if (!session) return;
    Operation* operation = kind == OperationKind::Host ? static_cast<Operation*>(session->host.get())
                                                       : static_cast<Operation*>(session->trigger.get());
    if (operation) use(*operation);
  });
}

VelWindow registerWindow(OperationKind kind, VelWindow window) {
  withOperation(kind, [&](Operation& op) { op.setProgressWindow(reinterpret_cast<vel::platform::Window>(window)); });
  return window;
}

unsigned int registerThread(OperationKind kind, unsigned int threadId) {
  withOperation(kind, [&](Operation& op) { op.setProgressThread(threadId); });
  return threadId;
}

int status(OperationKind kind) {
  int value = 0;
  withOperation(kind, [&](Operation& op) { value = op.status(); });
  return value;
}

void cancel(OperationKind kind) {
  withOperation(kind, [](Operation& op) { op.cancel(); });
}

// Events of a progress message that VelOutputProgress returns.
bool reportable(intptr_t event) {
  return event >= vel::kEventResultsProgress && event <= vel::kEventGreyImageReady;
}

}  // namespace

extern "C" {

VelWindow VEL_API VelRegisterHostOperationProgressWindow(VelWindow window) {
  return registerWindow(OperationKind::Host, window);
}
unsigned int VEL_API VelRegisterHostOperationProgressThread(unsigned int threadId) {
  return registerThread(OperationKind::Host, threadId);
}
VelWindow VEL_API VelRegisterTriggerProgressWindow(VelWindow window) {
  return registerWindow(OperationKind::Trigger, window);
}
unsigned int VEL_API VelRegisterTriggerProgressThread(unsigned int threadId) {
  return registerThread(OperationKind::Trigger, threadId);
}

int VEL_API VelGetHostInitiatedOperationStatus(void) { return status(OperationKind::Host); }
int VEL_API VelGetTriggerOperationStatus(void) { return status(OperationKind::Trigger); }

// A cancel changes what the host answers the imager's next block.
void VEL_API VelCancelHostInitiatedOperation(void) {
  cancel(OperationKind::Host);
  vel::api::tracedVoid(__func__);
}
void VEL_API VelCancelTriggerOperation(void) {
  cancel(OperationKind::Trigger);
  vel::api::tracedVoid(__func__);
}

// Polls the calling thread's queue for WM_OPERATION_PROGRESS every millisecond
// until timeoutSeconds have passed (a negative timeout polls once). A message with
// event 3..8 is dispatched and its event returned; any other is dispatched and
// the wait goes on. -1 when none came. Each poll also runs the library's due
// timers of the thread, so that the watchdog of a cancel made on a thread that
// waits here (it has no message loop of its own on Linux) still fires.
int VEL_API VelOutputProgress(int, int timeoutSeconds) {
  const int64_t limitMs = int64_t{timeoutSeconds} * 1000;
  const uint32_t start = vel::platform::tickCount();
  int64_t elapsedMs = 0;
  do {
    vel::platform::timersRun();
    vel::platform::Message message;
    if (vel::platform::messagePeek(&message, vel::kWmOperationProgress)) {
      vel::platform::messageDispatch(message);
      if (reportable(message.lParam)) return static_cast<int>(message.lParam);
    }
    vel::platform::sleepMs(1);
    elapsedMs = static_cast<uint32_t>(vel::platform::tickCount() - start);
  } while (elapsedMs <= limitMs);
  return -1;
}

}  // extern "C"
