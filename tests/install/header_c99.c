/* The public header is plain C99: this file compiles with -std=c99 -pedantic -Wall
 * -Wextra -Werror with the native and the cross compilers. */
#include "ImgEngine.h"
#include "ImgEngineTrace.h"

int velMessageNumber(void);
int velMessageNumber(void) {
  return WM_OPERATION_PROGRESS + VEL_VERSION_MAJOR;
}

int velTraceRecordIsLineEvent(const unsigned char* record);
int velTraceRecordIsLineEvent(const unsigned char* record) {
  enum VelTraceKind kind = VEL_TRACE_LINE_EVENT;
  return record[0] == VEL_TRACE_HEADER_MAGIC && record[1] == VEL_TRACE_HEADER_VERSION && record[2] == kind;
}
