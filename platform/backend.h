// What each OS backend supplies to the part of the platform layer that all of them share
// (platform/shared.cpp). Only platform sources include this.
#pragma once

namespace kalo::platform::backend {

// Shows an internal-error report when the host installed no handler.
void ShowReport(const char* text);

// strtod of a terminated decimal literal in the "C" locale, whatever the process's locale.
double ReadDecimalInCLocale(const char* text);

}  // namespace kalo::platform::backend
