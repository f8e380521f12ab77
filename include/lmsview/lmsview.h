/* SPDX-License-Identifier: Apache-2.0 */
/* liblmsview's C interface: scans of a laser range scanner from C, C#, Rust
 * or Python's ctypes, with an ABI that stays: an opaque handle, int errors
 * with a text each, arrays the caller owns, and nothing that throws or exits.
 *
 *   int error = 0;
 *   lmsview_scanner* s = lmsview_create("tcp://192.0.2.40", "LMS", &error);
 *   if (!s) { fprintf(stderr, "%s\n", lmsview_error_text(error)); return 1; }
 *   if (lmsview_start(s) != LMSVIEW_OK) {
 *     fprintf(stderr, "%s\n", lmsview_last_error_text(s)); lmsview_close(s); return 1;
 *   }
 *   float ranges[LMSVIEW_MAX_POINTS]; size_t count; lmsview_geometry g;
 *   while (lmsview_next_scan(s, ranges, NULL, LMSVIEW_MAX_POINTS, &count, &g, NULL, NULL, 2000) ==
 * LMSVIEW_OK) use(ranges, count, &g); lmsview_close(s);
 *
 * Units: ranges in metres, angles in radians (0 straight ahead, growing
 * counter-clockwise seen from above), times in ns since the epoch (UTC) or
 * in milliseconds (timeouts, the interval). Link names are UTF-8 on every
 * system.
 *
 * Threads: a handle is used by one thread at a time, except
 * lmsview_cancel(), which any thread may call while another waits in
 * lmsview_next_scan() or lmsview_next(). Only lmsview_close() frees a handle.
 * The library's own threads never call back into the caller through this
 * interface. */

#ifndef LMSVIEW_LMSVIEW_H
#define LMSVIEW_LMSVIEW_H

#include <stddef.h>
#include <stdint.h>

#include "lmsview/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version: lmsview_version() says the same at run time. */
#define LMSVIEW_VERSION_MAJOR 2
#define LMSVIEW_VERSION_MINOR 0
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
#define LMSVIEW_WRONG_SIZE 18

/* lmsview_next's scans: 180 degrees at 0.5. */
#define LMSVIEW_POINTS 361
/* The most points a scan of this scanner family has (100 degrees at 0.25). */
#define LMSVIEW_MAX_POINTS 401

/* Options for lmsview_set_option, before lmsview_start. */
#define LMSVIEW_OPTION_VARIANT 1      /* one of LMSVIEW_VARIANT_*, or 0: send nothing (the default) */
#define LMSVIEW_OPTION_UNITS 2        /* LMSVIEW_UNITS_MM (the default) or LMSVIEW_UNITS_CM */
#define LMSVIEW_OPTION_BAUD 3         /* the serial line's rate (9600); 0: try each rate */
#define LMSVIEW_OPTION_SCANNER_BAUD 4 /* move the scanner to this rate for the run; 0: leave it */
#define LMSVIEW_OPTION_RECONNECT 5    /* 1: keep trying when the link cannot be opened or is lost */
#define LMSVIEW_OPTION_INTERVAL_MS 6  /* from one request to the next (1000) */
#define LMSVIEW_OPTION_QUEUE 7        /* scans kept for lmsview_next_scan (4) */
#define LMSVIEW_OPTION_STREAM 8       /* 1: continuous output, every scan as it is measured (0) */

/* The variants, named by the points their scans have: field and resolution. */
#define LMSVIEW_VARIANT_100_1 101
#define LMSVIEW_VARIANT_180_1 181
#define LMSVIEW_VARIANT_100_050 201
#define LMSVIEW_VARIANT_180_050 361
#define LMSVIEW_VARIANT_100_025 401

/* The range unit the scanner is expected to report in (nothing is sent to
 * it; each reply states its own unit, which wins). */
#define LMSVIEW_UNITS_MM 0
#define LMSVIEW_UNITS_CM 1
#define LMSVIEW_UNITS_DM 2

/* Where a scan's points lie and what its ranges mean: point i lies at
 * angle_min + i * angle_increment; a range outside [range_min, range_max]
 * is not a distance (0 is no echo, larger values are the scanner's codes). */
typedef struct lmsview_geometry {
  size_t count;
  double angle_min;
  double angle_max;
  double angle_increment;
  double range_min;
  double range_max;
  double range_unit; /* metres per count of a raw word's range bits */
} lmsview_geometry;

typedef struct lmsview_scanner lmsview_scanner;

/* A scanner for `link` ("tcp://HOST[:PORT]", "serial:///dev/ttyUSB0",
 * "serial://COM3", "file:RECORDING") of `family` ("LMS" or "PLS"; NULL is
 * "LMS"); nothing is opened yet. NULL on failure, with the error in *error
 * (when not NULL). */
LMSVIEW_API lmsview_scanner* lmsview_create(const char* link, const char* family, int* error);

/* Sets one of the LMSVIEW_OPTION_* before lmsview_start: LMSVIEW_OK,
 * LMSVIEW_BAD_ARGUMENT for an option or value that does not exist, or
 * LMSVIEW_ALREADY_OPEN after the start. */
LMSVIEW_API int lmsview_set_option(lmsview_scanner* scanner, int option, int64_t value);

/* Filters each scan, before lmsview_start: keeps the sector
 * [crop_min_deg, crop_max_deg] (REP 103 angles, 0 ahead, + left; -180 and
 * 180 keep the whole field), so the scan is shorter; hides `mask_count`
 * sectors, given as pairs [from, to] degrees in `masks_deg` (NULL when
 * none), and distances outside [range_min_m, range_max_m] (0 and any
 * value past the scanner's reach keep all): their ranges become NaN, their
 * raw words stay. LMSVIEW_OK, LMSVIEW_BAD_ARGUMENT for a filter that keeps
 * nothing or lies outside the scanner's field, or LMSVIEW_ALREADY_OPEN
 * after the start. */
LMSVIEW_API int lmsview_set_filter(lmsview_scanner* scanner, double crop_min_deg, double crop_max_deg,
                                   const double* masks_deg, size_t mask_count, double range_min_m,
                                   double range_max_m);

/* Opens the link and starts acquisition. LMSVIEW_OK or an error value;
 * lmsview_last_error_text() then says why. */
LMSVIEW_API int lmsview_start(lmsview_scanner* scanner);

/* lmsview_create and lmsview_start in one: NULL on failure, with the error
 * in *error (when not NULL). */
LMSVIEW_API lmsview_scanner* lmsview_open(const char* link, const char* family, int* error);

/* Waits at most `timeout_ms` for the oldest scan not yet taken: its ranges
 * in metres and raw words (either array may be NULL), each with room for
 * `capacity` points, its point count in *count, its geometry, sequence
 * number and host time stamp (when its reply began to arrive, UTC ns); any
 * of those pointers may be NULL. LMSVIEW_WRONG_SIZE, with the count needed
 * in *count, when the scan has more points than `capacity`: the scan stays
 * for the next call. LMSVIEW_OK or an error value. */
LMSVIEW_API int lmsview_next_scan(lmsview_scanner* scanner, float* ranges_m, uint16_t* words, size_t capacity,
                                  size_t* count, lmsview_geometry* geometry, uint64_t* seq, int64_t* stamp_ns,
                                  int timeout_ms);

/* The version 1 call: as lmsview_next_scan for scans of 361 points (180
 * degrees at 0.5); a scan of another count is taken and LMSVIEW_WRONG_SIZE
 * returned. Any out pointer but `ranges_m` may be NULL. */
LMSVIEW_API int lmsview_next(lmsview_scanner* scanner, float ranges_m[LMSVIEW_POINTS], uint64_t* seq,
                             int64_t* stamp_ns, int timeout_ms);

/* Any thread: ends acquisition, so a waiting lmsview_next_scan (or
 * lmsview_next) returns LMSVIEW_CLOSED at once, and every later one too.
 * The handle stays until lmsview_close. */
LMSVIEW_API void lmsview_cancel(lmsview_scanner* scanner);

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
