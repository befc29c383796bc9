// The modes of the command; each returns the process exit code.
#pragma once

#include "tools/arguments.h"

namespace kalo::cli {

int RunSingle(const Options& options);
int RunTable(const Options& options);
int RunSweep(const Options& options);
int RunCalculator(const Options& options, bool prompt);

}  // namespace kalo::cli
