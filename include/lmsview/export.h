/* SPDX-License-Identifier: Apache-2.0 */
#pragma once

/* What liblmsview exports: only the names marked with LMSVIEW_API (the
 * library is built with every other symbol hidden), so a program links
 * against the public interface alone. C programs include it too. */

#if defined(_WIN32)
#define LMSVIEW_API
#elif defined(__GNUC__)
#define LMSVIEW_API __attribute__((visibility("default")))
#else
#define LMSVIEW_API
#endif
