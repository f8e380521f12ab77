/* liblmsview's C interface: scans of a laser range scanner from C, C#, Rust
 * or Python's ctypes, with an ABI that stays: an opaque handle, int errors
 * with a text each, arrays the caller owns, and nothing that throws or exits.
 *
 *   int error = 0;
 *   lmsview_scanner* s = lmsview_open("tcp://192.0.2.40", "LMS", &error);
 *   if (!s) { fprintf(stderr, "%s\n", lmsview_error_text(error)); return 1; }
 *   float ranges[361]; uint64_t seq; int64_t stamp;
 *   while (lmsview_next(s, ranges, &seq, &stamp, 2000) == LMSVIEW_OK) use(ranges);
 *   lmsview_close(s);
 *
 * Threads: a handle is used by one thread at a time (the library's own
 * threads never call back into the caller through this interface). */

#ifndef LMSVIEW_LMSVIEW_H
#define LMSVIEW_LMSVIEW_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

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

#define LMSVIEW_POINTS 361

typedef struct lmsview_scanner lmsview_scanner;

/* Opens `link` ("tcp://HOST[:PORT]", "serial:///dev/ttyUSB0", "serial://COM3",
 * "file:RECORDING")
 * for a scanner of `family` ("LMS" or "PLS"; NULL is "LMS") and starts
 * acquisition. NULL on failure, with the error in *error (when not NULL). */
lmsview_scanner* lmsview_open(const char* link, const char* family, int* error);

/* Waits at most `timeout_ms` for the oldest scan not yet taken: its ranges
 * in metres, its sequence number and its host time stamp (UTC ns). Any out
 * pointer but `ranges_m` may be NULL. LMSVIEW_OK or an error value. */
int lmsview_next(lmsview_scanner* scanner, float ranges_m[LMSVIEW_POINTS], uint64_t* seq, int64_t* stamp_ns,
                 int timeout_ms);

/* Ends acquisition and frees the handle. NULL is allowed. */
void lmsview_close(lmsview_scanner* scanner);

/* One line for an error value; never NULL. */
const char* lmsview_error_text(int error);

/* "1.1.0" */
const char* lmsview_version(void);

#ifdef __cplusplus
}
#endif

#endif /* LMSVIEW_LMSVIEW_H */
