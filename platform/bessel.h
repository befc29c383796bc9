// The C library's Bessel functions (POSIX, not ISO C). The Windows C run-time has them too, but
// mingw's <math.h> declares them only outside strict ISO mode.
#pragma once

#include <cmath>

#if defined(_WIN32) && defined(__STRICT_ANSI__)
extern "C" {
double j0(double);
double j1(double);
double jn(int, double);
double y0(double);
double y1(double);
double yn(int, double);
}
#endif
