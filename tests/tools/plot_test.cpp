// The chart module on its own: axis arithmetic, SVG a real renderer accepts, gaps where values
// are missing, and the terminal chart's shape.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/plot.h"
#include "tools/plot_scale.h"

namespace kalo::cli {
namespace {

namespace fs = std::filesystem;

struct TickCase {
  double low, high;
  int target;
  const char* labels;
};

// clang-format off
const TickCase TICK_CASES[] = {
  {0, 20, 8, "0 5 10 15 20"},
  {-0.4027, 1, 6, "-0.5 0 0.5 1.0"},
  {0.3, 0.9, 6, "0.3 0.4 0.5 0.6 0.7 0.8 0.9"},       // no 0.30000000000000004, no tick below
  {-7, -3, 4, "-7 -6 -5 -4 -3"},
  {5, 5, 4, "4.5 5.0 5.5"},            // one value: widened around it
  {0, 0, 4, "-1.0 -0.5 0 0.5 1.0"},
  {1, 1 + 1e-15, 4, "0.9 1.0 1.1"},                     // too narrow to tell ticks apart
  {0, 3e6, 6, "0 5.0e5 1.0e6 1.5e6 2.0e6 2.5e6 3.0e6"},
  {1e-9, 4e-9, 3, "1e-9 2e-9 3e-9 4e-9"},
  {-DBL_MAX, DBL_MAX, 4, "-1e308 0 1e308"},                // 2e308 would be infinite
};
// clang-format on

TEST(PlotScale, NiceTicksCoverTheRangeWithShortLabels) {
  for (const TickCase& c : TICK_CASES) {
    Ticks ticks = NiceTicks(c.low, c.high, c.target);
    std::string labels;
    for (int i = 0; i < ticks.count; ++i) labels += (i ? " " : "") + TickLabel(ticks, i);
    EXPECT_EQ(labels, c.labels) << c.low << " " << c.high;
    EXPECT_LE(ticks.Low(), std::max(c.low, -1e308));
    EXPECT_GE(ticks.High(), std::min(c.high, 1e308));
  }
}

// `count` points, each value its index, and a zigzag; over a grid of `count` by 1 with `grid`.
PlotData Ramp(int count, bool grid) {
  PlotData data{{"X", "Y", "Z"}, grid ? 2 : 1, {}};
  for (int i = 0; i < count; ++i) {
    data.rows.insert(data.rows.end(), {double(i), grid ? 0 : double(i % 7), double(i)});
  }
  return data;
}

struct PlotCase {
  const char* name;
  PlotData data;
  int polylines, dots, cells;
};

// clang-format off
const PlotCase PLOT_CASES[] = {
  {"TwoSeries", {{"X", "Y", "Z"}, 1, {0, 0, 1, 1, 1, 2, 2, 4, 3}}, 2, 0, 0},
  {"GapSplitsLine", {{"X", "Y"}, 1, {0, 0, 1, 1, 2, NAN, 3, 9, 4, 16}}, 2, 0, 0},
  {"LoneValueIsDot", {{"X", "Y"}, 1, {0, 1, 1, INFINITY, 2, 4}}, 0, 2, 0},
  {"OnePoint", {{"X", "a<b & c"}, 1, {2, 3}}, 0, 1, 0},
  {"NothingFinite", {{"X", "Y"}, 1, {0, NAN, 1, NAN}}, 0, 0, 0},
  {"Grid", {{"X", "Y", "Z"}, 2, {0, 0, 1, 0, 1, 2, 1, 0, 3, 1, 1, NAN}}, 0, 0, 3},
  {"GridTwoResults", {{"X", "Y", "P", "Q"}, 2, {0, 0, 1, 5, 1, 0, 2, 5}}, 0, 0, 4},
  {"FineGridDrawnCoarser", Ramp(600, true), 0, 0, 200},
  {"LongLinesThinned", Ramp(100000, false), 2, 0, 0},           // three cells to a drawn one
};
// clang-format on

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(Plot, SvgHasOneLinePerRunAndRenders) {
  bool renderer = std::system("rsvg-convert --version >/dev/null 2>&1") == 0;
  if (!renderer) std::printf("rsvg-convert is missing (librsvg2-bin): drawing not checked\n");
  // One folder per process: another run of the same tests may be removing its own meanwhile.
  fs::path dir = fs::path(::testing::TempDir()) / ("kalo_plot_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (const PlotCase& c : PLOT_CASES) {
    fs::path svg = dir / (std::string(c.name) + ".svg"), png = dir / (std::string(c.name) + ".png");
    std::string error;
    ASSERT_TRUE(WritePlot(c.data, svg.string(), error)) << c.name << ": " << error;
    std::string text = ReadFile(svg);
    EXPECT_EQ(Count(text, "<polyline"), c.polylines) << c.name;
    EXPECT_EQ(Count(text, "<circle"), c.dots) << c.name;
    EXPECT_EQ(Count(text, "fill=\"#"), c.cells + (c.data.sweptCount == 2 ? 0 : c.dots)) << c.name;
    EXPECT_EQ(Count(text, "a<b") + Count(text, "nan") + Count(text, "inf"), 0u) << c.name;
    EXPECT_LT(text.size(), 100000u) << c.name;  // at most a few points or cells to a pixel
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(WritePlot(c.data, "-", error)) << c.name << ": " << error;
    EXPECT_NE(::testing::internal::GetCapturedStdout(), "") << c.name;
    if (!renderer) continue;
    std::string command = "rsvg-convert -o '" + png.string() + "' '" + svg.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << c.name;
    EXPECT_EQ(ReadFile(png).substr(0, 4), "\x89PNG") << c.name;
  }
  fs::remove_all(dir);
}

TEST(Plot, RefusesWhatItCannotDraw) {
  // clang-format off
  const PlotData BAD[] = {
    {{"X", "Y"}, 3, {0, 1}},
    {{"X"}, 1, {0}},
    {{"X", "Y"}, 2, {0, 1}},
    {{"X", "Y"}, 1, {0, 1, 2}},
    {{"X", "Y"}, 1, {}},
  };
  // clang-format on
  for (const PlotData& data : BAD) {
    std::string error;
    EXPECT_FALSE(WritePlot(data, "-", error));
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_FALSE(WritePlot({{"X", "Y"}, 1, {0, 1}}, "/nonexistent/dir/p.svg", error));
  EXPECT_NE(error.find("/nonexistent/dir/p.svg"), std::string::npos);
}

// Y = X from the lower left to the upper right, without its middle point: the first text row is
// lit only at its right end, the last only at its left, and the middle row not at all.
TEST(Plot, TerminalChartRisesFromLowerLeftWithAGap) {
  PlotData data{{"X", "Y"}, 1, {}};
  for (int i = 0; i <= 20; ++i)
    data.rows.insert(data.rows.end(), {i / 20.0, i == 10 ? NAN : i / 20.0});
  ::testing::internal::CaptureStdout();
  std::string error;
  ASSERT_TRUE(WritePlot(data, "-", error));
  std::istringstream out(::testing::internal::GetCapturedStdout());
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
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
