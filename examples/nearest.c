/* SPDX-License-Identifier: Apache-2.0 */
/* The nearest point of each scan, through liblmsview's C interface.
 *
 *   nearest_c tcp://192.0.2.40 10 */

#include <lmsview/lmsview.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: nearest_c LINK [SCANS]\n");
    return 2;
  }
  int scans = argc > 2 ? atoi(argv[2]) : 10;
  int error = 0;
  lmsview_scanner* scanner = lmsview_create(argv[1], "LMS", &error);
  if (!scanner) {
    fprintf(stderr, "nearest_c: %s\n", lmsview_error_text(error));
    return 1;
  }
  if (lmsview_start(scanner) != LMSVIEW_OK) {
    fprintf(stderr, "nearest_c: %s\n", lmsview_last_error_text(scanner));
    lmsview_close(scanner);
    return 1;
  }
  float ranges[LMSVIEW_MAX_POINTS];
  size_t count = 0;
  lmsview_geometry g;
  uint64_t seq = 0;
  for (int n = 0; n < scans; ++n) {
    error = lmsview_next_scan(scanner, ranges, NULL, LMSVIEW_MAX_POINTS, &count, &g, &seq, NULL, 5000);
    if (error != LMSVIEW_OK) {
      fprintf(stderr, "nearest_c: %s\n", lmsview_last_error_text(scanner));
      lmsview_close(scanner);
      return 1;
    }
    int at = -1;
    for (size_t i = 0; i < count; ++i) {
      /* 0 is no echo; above range_max the scanner's codes */
      if (ranges[i] >= g.range_min && ranges[i] <= g.range_max && (at < 0 || ranges[i] < ranges[at])) at = (int)i;
    }
    if (at < 0)
      printf("scan %llu: no point\n", (unsigned long long)seq);
    else
      printf("scan %llu: nearest %.3f m at %.1f deg\n", (unsigned long long)seq, ranges[at],
             (g.angle_min + at * g.angle_increment) * 180 / 3.141592653589793);
  }
  lmsview_close(scanner);
  return 0;
}
