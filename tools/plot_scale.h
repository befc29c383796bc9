// The arithmetic of chart axes: ranges rounded out to nice numbers and the labels of their ticks.
#pragma once

#include <string>

namespace kalo::cli {

// Ticks at (firstIndex + i) * mantissa * 10^exponent for i in [0, count): mantissa is 1, 2 or 5,
// so every tick has a short decimal text. The axis runs from the first tick to the last.
struct Ticks {
  double firstIndex;
  int count;
  int mantissa;
  int exponent;

  double Step() const;
  double Value(int i) const;
  double Low() const { return Value(0); }
  double High() const { return Value(count - 1); }
};

// Covers [low, high] (finite, low <= high) with at most about `target` intervals. An empty or
// vanishing range is widened around its value.
Ticks NiceTicks(double low, double high, int target);

// The tick's text with as many decimals as the step needs: "0.3", not "0.30000000000000004";
// exponent form for very large or very small ticks.
std::string TickLabel(const Ticks& ticks, int i);

}  // namespace kalo::cli
