#include "tools/plot.h"

bool WritePlot(const PlotData& /*data*/, const std::string& /*path*/, std::string& error) {
  error = "plotting is not built";
  return false;
}
