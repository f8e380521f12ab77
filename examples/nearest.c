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
  lmsview_scanner* scanner = lmsview_open(argv[1], "LMS", &error);
  if (!scanner) {
    fprintf(stderr, "nearest_c: %s\n", lmsview_error_text(error));
    return 1;
  }
  float ranges[LMSVIEW_POINTS];
  uint64_t seq = 0;
  int64_t stamp = 0;
  for (int n = 0; n < scans; ++n) {
    error = lmsview_next(scanner, ranges, &seq, &stamp, 5000);
    if (error != LMSVIEW_OK) {
      fprintf(stderr, "nearest_c: %s\n", lmsview_error_text(error));
      lmsview_close(scanner);
      return 1;
    }
    int at = -1;
    for (int i = 0; i < LMSVIEW_POINTS; ++i) {
      /* 0 is no echo; above 8.18 m the scanner's codes */
      if (ranges[i] >= 0.01f && ranges[i] <= 8.18f && (at < 0 || ranges[i] < ranges[at])) at = i;
    }
    if (at < 0)
      printf("scan %llu: no point\n", (unsigned long long)seq);
    else
      printf("scan %llu: nearest %.3f m at %.1f deg\n", (unsigned long long)seq, ranges[at], at * 0.5);
  }
  lmsview_close(scanner);
  return 0;
}
