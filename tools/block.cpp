#include "tools/block.h"

#include <algorithm>

namespace kalo::cli {

Block::Block(const Variables& runVariables)
    : variables(runVariables), storage(runVariables.Count(), std::vector<double>(BLOCK_ROWS)) {
  for (std::vector<double>& column : storage) pointers.push_back(column.data());
}

void Block::Reset(long rows, const std::vector<bool>& isInput) {
  for (size_t i = 0; i < storage.size(); ++i) {
    if (!isInput[i]) std::fill_n(storage[i].begin(), rows, variables.Initial(i));
  }
}

}  // namespace kalo::cli
