/* SPDX-License-Identifier: Apache-2.0 */
/* A program that hands the library UTF-8 names while its own ANSI code page
 * is not UTF-8 (it has no manifest saying so): its wide arguments, made
 * UTF-8, go to the example's main. */
#include <windows.h>

#include <stdlib.h>

int example_main(int argc, char** argv);

int wmain(int argc, wchar_t** wargv) {
  char** argv = calloc((size_t)argc + 1, sizeof *argv);
  if (!argv) return 1;
  for (int i = 0; i < argc; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, NULL, 0, NULL, NULL);
    argv[i] = malloc((size_t)(n > 0 ? n : 1));
    if (!argv[i]) return 1;
    argv[i][0] = '\0';
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, argv[i], n, NULL, NULL);
  }
  return example_main(argc, argv);
}
