/* SPDX-License-Identifier: Apache-2.0 */
/* The C interface as a C program compiles it (C89 and C99): built, never run. */
#include <lmsview/lmsview.h>

int lmsview_header_check(void) {
  return LMSVIEW_OK;
}
