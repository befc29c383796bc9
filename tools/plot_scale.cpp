#include "tools/plot_scale.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>

namespace kalo::cli {

namespace {

double PowerOfTen(int exponent) { return std::pow(10.0, exponent); }

// to_chars writes "1e+06"; a label reads better as "1e6".
std::string ShortExponent(const char* text, const char* end) {
  std::string label;
  for (const char* c = text; c < end; ++c) {
    label += *c;
    if (*c != 'e') continue;
    if (c + 1 < end && (c[1] == '+' || c[1] == '-')) {
      if (c[1] == '-') label += '-';
      ++c;
    }
    while (c + 2 < end && c[1] == '0') ++c;
  }
  return label;
}

}  // namespace

double Ticks::Step() const { return mantissa * PowerOfTen(exponent); }

// An index times a power of ten below one is divided rather than multiplied: 3 / 10 is the
// double nearest 0.3, 3 * 0.1 is not.
double Ticks::Value(int i) const {
  double units = (firstIndex + i) * mantissa;
  return exponent < 0 ? units / PowerOfTen(-exponent) : units * PowerOfTen(exponent);
}

Ticks NiceTicks(double low, double high, int target) {
  double magnitude = std::max(std::fabs(low), std::fabs(high));
  // Ticks closer than about 1e-12 of their values would print alike; such a range is widened.
  if (!(high - low > magnitude * 1e-12)) {
    double pad = magnitude > 0 ? magnitude / 10 : 1;
    low = std::max(low - pad, -DBL_MAX);
    high = std::min(high + pad, DBL_MAX);
  }
  double rough = high / target - low / target;  // finite even where high - low is not
  int exponent = static_cast<int>(std::floor(std::log10(rough)));
  double fraction = rough / PowerOfTen(exponent);
  int mantissa = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10;
  if (mantissa == 10) {
    mantissa = 1;
    ++exponent;
  }
  Ticks ticks{0, 0, mantissa, exponent};
  double step = ticks.Step();
  // The slack keeps 0.3 / 0.1 = 2.9999999999999996 from adding a tick below 0.3.
  ticks.firstIndex = std::floor(low / step + 1e-9);
  ticks.count = static_cast<int>(std::ceil(high / step - 1e-9) - ticks.firstIndex) + 1;
  // Near the largest doubles a rounded-out end tick would be infinite; the axis stops short.
  while (ticks.count > 2 && !std::isfinite(ticks.High())) --ticks.count;
  while (ticks.count > 2 && !std::isfinite(ticks.Low())) {
    ++ticks.firstIndex;
    --ticks.count;
  }
  return ticks;
}

std::string TickLabel(const Ticks& ticks, int i) {
  double value = ticks.firstIndex + i == 0 ? 0.0 : ticks.Value(i);
  double magnitude = std::max(std::fabs(ticks.Low()), std::fabs(ticks.High()));
  char text[48];
  std::to_chars_result written{};
  if (value == 0) return "0";  // not "0.0e0"; fixed notation keeps the decimals of its step
  if (magnitude >= 1e6 || ticks.exponent < -5) {
    int top = static_cast<int>(std::floor(std::log10(magnitude)));
    int precision = std::clamp(top - ticks.exponent, 0, 16);
    written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, precision);
  } else {
    written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed,
                            std::max(0, -ticks.exponent));
  }
  return ShortExponent(text, written.ptr);
}

}  // namespace kalo::cli
