// Charts of a sweep: an SVG file, or a small chart drawn with characters on standard output.
#pragma once

#include <string>
#include <vector>

struct PlotData {
  std::vector<std::string> names;
  int sweptCount; /* 1 or 2 */
  std::vector<double>
      rows; /* row-major, names.size() values per row: swept variables first, then result columns */
};

bool WritePlot(const PlotData& data, const std::string& path, std::string& error);
