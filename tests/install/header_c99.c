/* The public header is plain C99: this file compiles with -std=c99 -pedantic -Wall
 * -Wextra -Werror with the native and the cross compilers. */
#include "ImgEngine.h"

int velMessageNumber(void);
int velMessageNumber(void) {
  return WM_OPERATION_PROGRESS + VEL_VERSION_MAJOR;
}
