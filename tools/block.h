// Rows evaluated a block at a time through the library's column interface: one array per
// variable, BLOCK_ROWS long, so that memory stays the same for any number of rows.
#pragma once

#include <vector>

#include "tools/equation.h"

namespace kalo::cli {

constexpr long BLOCK_ROWS = 4096;

class Block {
 public:
  explicit Block(const Variables& runVariables);

  double* Column(size_t variable) { return storage[variable].data(); }
  // Gives every variable that is not read from the input its starting value in rows [0, rows).
  void Reset(long rows, const std::vector<bool>& isInput);
  // Runs `program` over rows [0, rows), calling write(row) for each evaluated row and
  // fail(row, message) for each failing one in order; fail returns false to stop. Returns
  // false when stopped.
  template <typename Write, typename Fail>
  bool Run(Program& program, long rows, Write write, Fail fail) {
    program.StartBlock();
    for (long from = 0; from < rows;) {
      long stop = program.Run(pointers.data(), from, rows);
      for (long row = from; row < stop; ++row) write(row);
      if (stop == rows) break;
      if (!fail(stop, program.Error())) return false;
      from = stop + 1;
    }
    return true;
  }

 private:
  const Variables& variables;
  std::vector<std::vector<double>> storage;
  std::vector<double*> pointers;
};

}  // namespace kalo::cli
