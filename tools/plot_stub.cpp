// Stands in for the chart writer until it is built into the command.
#include "tools/plot.h"

namespace kalo::cli {

bool WritePlot(const PlotData& /*data*/, const std::string& /*path*/, std::string& error) {
  error = "plotting is not built";
  return false;
}

}  // namespace kalo::cli
