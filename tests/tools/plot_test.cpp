// The chart module on its own: axis ticks; the SVG's parts (a polyline per unbroken run, a dot
// per lone value, a cell per grid square), drawn by a real renderer; the terminal chart's shape.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/plot.h"
#include "tools/plot_scale.h"

namespace kalo::cli {
namespace {

// clang-format off
const struct { double low, high; int target; const char* labels; } TICK_CASES[] = {
  {0, 20, 8, "0 5 10 15 20"}, {-0.4027, 1, 6, "-0.5 0 0.5 1.0"}, {-7, -3, 4, "-7 -6 -5 -4 -3"},
  {0.3, 0.9, 6, "0.3 0.4 0.5 0.6 0.7 0.8 0.9"},  // no 0.30000000000000004, no tick below
  {5, 5, 4, "4.5 5.0 5.5"}, {0, 0, 4, "-1.0 -0.5 0 0.5 1.0"},  // one value: widened
  {1, 1 + 1e-15, 4, "0.9 1.0 1.1"}, {-DBL_MAX, DBL_MAX, 4, "-1e308 0 1e308"},  // narrow; no 2e308
  {0, 3e6, 6, "0 5.0e5 1.0e6 1.5e6 2.0e6 2.5e6 3.0e6"}, {1e-9, 4e-9, 3, "1e-9 2e-9 3e-9 4e-9"}};
// clang-format on

TEST(PlotScale, NiceTicksCoverTheRangeWithShortLabels) {
  for (const auto& c : TICK_CASES) {
    Ticks ticks = NiceTicks(c.low, c.high, c.target);
    std::string labels;
    for (int i = 0; i < ticks.count; ++i) labels += (i ? " " : "") + TickLabel(ticks, i);
    EXPECT_EQ(labels, c.labels) << c.low << " " << c.high;
    EXPECT_LE(ticks.Low(), std::max(c.low, -1e308));
    EXPECT_GE(ticks.High(), std::min(c.high, 1e308));
  }
}

// `count` points (the index and a zigzag), or with `grid` a grid of `count` by 1 finer than drawn.
PlotData Ramp(int count, bool grid) {
  PlotData data{{"X", "Y", "Z"}, grid ? 2 : 1, {}};
  for (int i = 0; i < count; ++i)
    data.rows.insert(data.rows.end(), {double(i), grid ? 0 : double(i % 7), double(i)});
  return data;
}

// clang-format off
const struct { PlotData data; int polylines, dots, cells; } PLOT_CASES[] = {  // -1 lines: refused
  {{{"X", "Y", "Z"}, 1, {0, 0, 1, 1, 1, 2, 2, 4, 3}}, 2, 0, 0},
  {{{"X", "Y"}, 1, {0, 0, 1, 1, 2, NAN, 3, 9, 4, 16}}, 2, 0, 0},  // a gap splits the line
  {{{"X", "Y"}, 1, {0, 1, 1, INFINITY, 2, 4}}, 0, 2, 0},         // lone values are dots
  {{{"X", "a<b & c"}, 1, {2, 3}}, 0, 1, 0},                      // a name needing escapes
  {{{"X", "Y"}, 1, {0, NAN, 1, NAN}}, 0, 0, 0},  {Ramp(100000, false), 2, 0, 0},  // thinned
  {{{"X", "Y", "Z"}, 2, {0, 0, 1, 0, 1, 2, 1, 0, 3, 1, 1, NAN}}, 0, 0, 3},
  {{{"X", "Y", "P", "Q"}, 2, {0, 0, 1, 5, 1, 0, 2, 5}}, 0, 0, 4}, {Ramp(600, true), 0, 0, 200},
  {{{"X", "Y"}, 3, {0, 1}}, -1, 0, 0}, {{{"X"}, 1, {0}}, -1, 0, 0}, {{{"X", "Y"}, 1, {}}, -1, 0, 0},
  {{{"X", "Y"}, 1, {0, 1, 2}}, -1, 0, 0},  {{{"X", "Y"}, 2, {0, 1}}, -1, 0, 0}};
// clang-format on

using Chars = std::istreambuf_iterator<char>;
size_t Count(const std::string& text, const std::string& part, size_t from = 0) {
  size_t at = text.find(part, from);
  return at == std::string::npos ? 0 : 1 + Count(text, part, at + 1);
}

TEST(Plot, SvgHasItsPartsAndRenders) {
  bool renderer = std::system("rsvg-convert --version >/dev/null 2>&1") == 0;
  if (!renderer) std::printf("rsvg-convert is missing (librsvg2-bin): drawing not checked\n");
  std::string svg = ::testing::TempDir() + "kalo_plot_" + std::to_string(getpid()) + ".svg";
  for (const auto& c : PLOT_CASES) {
    SCOPED_TRACE(&c - PLOT_CASES);
    std::string error;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(WritePlot(c.data, "-", error) == 0, c.polylines >= 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout().empty(), c.polylines < 0);
    ASSERT_EQ(WritePlot(c.data, svg, error) == 0, c.polylines >= 0) << error;
    EXPECT_EQ(error.empty(), c.polylines >= 0);
    if (c.polylines < 0) continue;
    const std::string text{Chars(std::ifstream(svg).rdbuf()), Chars()};
    EXPECT_EQ(Count(text, "<polyline"), c.polylines);
    EXPECT_EQ(Count(text, "<circle"), c.dots);
    EXPECT_EQ(Count(text, "fill=\"#"), c.cells + (c.data.sweptCount == 2 ? 0 : c.dots));
    EXPECT_EQ(Count(text, "a<b") + Count(text, "nan") + Count(text, "inf"), 0u);
    EXPECT_LT(text.size(), 100000u);  // at most a few points or cells to a pixel
    std::string render = "rsvg-convert '" + svg + "' | head -c 4 | grep -q PNG";
    EXPECT_TRUE(!renderer || std::system(render.c_str()) == 0);
  }
  std::remove(svg.c_str());
}

// Y = X from the lower left to the upper right, without its middle point: the first text row is
// lit only at its right end, the last only at its left, and the middle row not at all.
TEST(Plot, TerminalChartRisesFromLowerLeftWithAGap) {
  PlotData data{{"X", "Y"}, 1, {}};
  for (int i = 0; i <= 20; ++i)
    data.rows.insert(data.rows.end(), {i / 20.0, i == 10 ? NAN : i / 20.0});
  std::string error, line;
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(WritePlot(data, "-", error), 0);
  std::istringstream out(::testing::internal::GetCapturedStdout());
  std::vector<std::string> lines;
  while (std::getline(out, line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), 19u);
  auto lit = [&](size_t row, size_t column) {
    size_t start = lines[row].find('\xE2') + 3;  // past the labels and the axis
    return lines[row].substr(start + 3 * column, 3) != "\u2800";
  };
  EXPECT_TRUE(!lit(0, 0) && lit(0, 59) && lit(14, 0) && !lit(14, 59));
  for (size_t column = 0; column < 60; ++column) EXPECT_FALSE(lit(7, column)) << column;
  EXPECT_EQ(lines[18], "\xE2\xA3\x80\xE2\xA3\x80 Y");
}

}  // namespace
}  // namespace kalo::cli
