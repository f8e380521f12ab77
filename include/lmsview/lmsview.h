/* liblmsview's C interface: scans of a laser range scanner from C, C#, Rust
 * or Python's ctypes, with an ABI that stays: an opaque handle, int errors
 * with a text each, arrays the caller owns, and nothing that throws or exits.
 *
 *   int error = 0;
 *   lmsview_scanner* s = lmsview_create("tcp://192.0.2.40", "LMS", &error);
 *   if (!s) { fprintf(stderr, "%s\n", lmsview_error_text(error)); return 1; }
 *   if ((error = lmsview_start(s)) != LMSVIEW_OK) {
 *     fprintf(stderr, "%s\n", lmsview_last_error_text(s)); lmsview_close(s); return 1;
 *   }
 *   float ranges[LMSVIEW_POINTS]; uint64_t seq; int64_t stamp;
 *   while (lmsview_next(s, ranges, &seq, &stamp, 2000) == LMSVIEW_OK) use(ranges);
 *   lmsview_close(s);
 *
 * Link names are UTF-8 on every system.
 *
 * Threads: a handle is used by one thread at a time (the library's own
 * threads never call back into the caller through this interface). */

#ifndef LMSVIEW_LMSVIEW_H
#define LMSVIEW_LMSVIEW_H

#include <stdint.h>

#include "lmsview/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version: lmsview_version() says the same at run time. */
#define LMSVIEW_VERSION_MAJOR 1
#define LMSVIEW_VERSION_MINOR 1
#define LMSVIEW_VERSION_PATCH 0

/* Error values (the C++ lmsview::errc values). */
#define LMSVIEW_OK 0
#define LMSVIEW_TIMEOUT 1
#define LMSVIEW_CLOSED 2
#define LMSVIEW_LINK_REFUSED 3
#define LMSVIEW_LINK_LOST 4
#define LMSVIEW_DEVICE_BUSY 5
#define LMSVIEW_PERMISSION_DENIED 6
#define LMSVIEW_NO_SUCH_DEVICE 7
#define LMSVIEW_BAD_LINK_NAME 8
#define LMSVIEW_UNREACHABLE 9
#define LMSVIEW_ALREADY_OPEN 10
#define LMSVIEW_LINK_FAILED 11
#define LMSVIEW_BAD_ARGUMENT 12
#define LMSVIEW_END_OF_RECORDING 13
#define LMSVIEW_BAD_RECORDING 14
#define LMSVIEW_BAD_TOPIC 15
#define LMSVIEW_BAD_DOMAIN 16
#define LMSVIEW_DDS_FAILED 17

#define LMSVIEW_POINTS 361

typedef struct lmsview_scanner lmsview_scanner;

/* A scanner for `link` ("tcp://HOST[:PORT]", "serial:///dev/ttyUSB0",
 * "serial://COM3", "file:RECORDING") of `family` ("LMS" or "PLS"; NULL is
 * "LMS"); nothing is opened yet. NULL on failure, with the error in *error
 * (when not NULL). */
LMSVIEW_API lmsview_scanner* lmsview_create(const char* link, const char* family, int* error);

/* Opens the link and starts acquisition. LMSVIEW_OK or an error value;
 * lmsview_last_error_text() then says why. */
LMSVIEW_API int lmsview_start(lmsview_scanner* scanner);

/* lmsview_create and lmsview_start in one: NULL on failure, with the error
 * in *error (when not NULL). */
LMSVIEW_API lmsview_scanner* lmsview_open(const char* link, const char* family, int* error);

/* Waits at most `timeout_ms` for the oldest scan not yet taken: its ranges
 * in metres, its sequence number and its host time stamp (UTC ns). Any out
 * pointer but `ranges_m` may be NULL. LMSVIEW_OK or an error value. */
LMSVIEW_API int lmsview_next(lmsview_scanner* scanner, float ranges_m[LMSVIEW_POINTS], uint64_t* seq,
                             int64_t* stamp_ns, int timeout_ms);

/* Ends acquisition and frees the handle. NULL is allowed. */
LMSVIEW_API void lmsview_close(lmsview_scanner* scanner);

/* One line for an error value; never NULL. */
LMSVIEW_API const char* lmsview_error_text(int error);

/* One line saying why the handle's last call failed, with the system's or
 * the recording's own reason ("" when none did); valid until the next call
 * on the handle. */
LMSVIEW_API const char* lmsview_last_error_text(const lmsview_scanner* scanner);

/* "MAJOR.MINOR.PATCH" */
LMSVIEW_API const char* lmsview_version(void);

#ifdef __cplusplus
}
#endif

#endif /* LMSVIEW_LMSVIEW_H */
