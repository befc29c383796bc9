// Pictures of a sweep: the result columns against the swept variable as lines, or over a grid of
// two swept variables as a heat map; an SVG file, or a small chart on a terminal.
#pragma once

#include <string>
#include <vector>

namespace kalo::cli {

struct PlotData {
  std::vector<std::string> names;
  int sweptCount;  // 1 or 2
  // Row-major, names.size() values per row: the swept variables first, then the result columns.
  std::vector<double> rows;
};

// Draws `data` into the SVG file `path`, or as Unicode text on standard output when `path` is
// "-". Non-finite values leave gaps. Returns 0, or the command's exit status with the reason in
// `error`: EXIT_CANNOT_CREATE when the file cannot be created, EXIT_IO_ERROR for the rest.
int WritePlot(const PlotData& data, const std::string& path, std::string& error);

}  // namespace kalo::cli
