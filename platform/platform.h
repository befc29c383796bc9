// The operating-system services the library uses, and nothing else. Every other folder reaches
// the OS only through here, so that a new platform means one new backend file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kalo::platform {

// --- Module -------------------------------------------------------------------------------
// The library's own module, recorded once when it is loaded (before any export can run).
const void* ModuleHandle();

// Writes the file name of the library's module, without directories, bounded to `size` bytes.
// Writes an empty text when the module cannot be named.
void ModuleFileName(char* buffer, size_t size);

// --- Resources ----------------------------------------------------------------------------
// Copies the library's string resource `id` into `buffer`, at most size - 1 characters and a
// terminator, and returns its length; returns 0, leaving `buffer` unspecified, when there is
// no such string.
int LoadString(unsigned id, char* buffer, int size);

// --- Internal-error report ----------------------------------------------------------------
using ReportHandler = void (*)(const char* text, long userValue);

// Delivers a report to the installed handler, or writes it and a newline to standard error.
void DeliverReport(const char* text);

// Installs a handler (null restores the default) and returns the previous one.
ReportHandler SetReportHandler(ReportHandler handler, long userValue);

// --- Clock --------------------------------------------------------------------------------
// Milliseconds of a monotonic clock, wrapping at 2^32.
uint32_t TickCount();

// --- Pointer probes -----------------------------------------------------------------------
// True when the host's pointer cannot be used. A null pointer is always bad. These are run on
// the evaluation path, so they make no system call: beyond null they accept the pointer.
bool IsBadStringPointer(const char* text, size_t limit);
bool IsBadReadPointer(const void* pointer, size_t size);
bool IsBadWritePointer(void* pointer, size_t size);

// --- Executable memory --------------------------------------------------------------------
// Maps `size` bytes that are seen twice: written through `*writable`, run through `*executable`,
// so that no page is ever writable and executable at once. False when the platform refuses.
bool MapCodeRegion(size_t size, void** writable, void** executable);

// --- Numbers ------------------------------------------------------------------------------
// The value of the decimal literal in [begin, end) (digits, an optional fraction, an optional
// exponent), rounded as strtod rounds it in the "C" locale, whatever the process's locale:
// an overflow gives infinity and an underflow the nearest subnormal or zero.
double ReadDecimal(const char* begin, const char* end);

}  // namespace kalo::platform

// Floating-point control lives beside this file in float_unit.h: it is processor-specific rather
// than OS-specific, and inline because the evaluator reads the flags after every operation.
#include "platform/float_unit.h"
