#include "tools/plot.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/console.h"
#include "tools/plot_scale.h"
#include "tools/reporting.h"

namespace kalo::cli {

namespace {

// --- The data -------------------------------------------------------------------------------

class Table {
 public:
  explicit Table(const PlotData& plotData)
      : data(plotData), width(plotData.names.size()), count(plotData.rows.size() / width) {}
  double At(size_t row, size_t column) const { return data.rows[row * width + column]; }
  size_t Rows() const { return count; }
  size_t Columns() const { return width; }
  size_t Swept() const { return static_cast<size_t>(data.sweptCount); }
  const std::string& Name(size_t column) const { return data.names[column]; }

  // The smallest and largest finite values of columns [first, last); left alone when there are
  // none, so that the caller's defaults stand.
  void Range(size_t first, size_t last, double& low, double& high) const {
    double smallest = HUGE_VAL, largest = -HUGE_VAL;
    for (size_t row = 0; row < count; ++row) {
      for (size_t column = first; column < last; ++column) {
        double value = At(row, column);
        if (!std::isfinite(value)) continue;
        smallest = std::min(smallest, value);
        largest = std::max(largest, value);
      }
    }
    if (smallest > largest) return;
    low = smallest;
    high = largest;
  }

  // The distinct finite values of a column, ascending: the grid lines of a two-variable sweep.
  std::vector<double> Distinct(size_t column) const {
    std::vector<double> values;
    for (size_t row = 0; row < count; ++row) {
      if (std::isfinite(At(row, column))) values.push_back(At(row, column));
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
  }

 private:
  const PlotData& data;
  size_t width;
  size_t count;
};

// Maps values in [low, high] to pixels in [pixelLow, pixelHigh] (which may run backwards).
struct Axis {
  Ticks ticks;
  double low, high;
  double pixelLow, pixelHigh;

  // Halved first, so that a range spanning most doubles does not overflow.
  double Map(double value) const {
    double share = (value / 2 - low / 2) / (high / 2 - low / 2);
    return pixelLow + share * (pixelHigh - pixelLow);
  }
  bool Contains(double value) const { return value >= low && value <= high; }
};

// A line chart's axis runs from tick to tick; a heat map's spans exactly its cells.
Axis RoundedAxis(double low, double high, int target, double pixelLow, double pixelHigh) {
  Ticks ticks = NiceTicks(low, high, target);
  return {ticks, ticks.Low(), ticks.High(), pixelLow, pixelHigh};
}
Axis ExactAxis(double low, double high, int target, double pixelLow, double pixelHigh) {
  return {NiceTicks(low, high, target), low, high, pixelLow, pixelHigh};
}

// The cell edges around grid values: halfway between neighbours, half a gap beyond the ends.
std::vector<double> CellEdges(const std::vector<double>& values) {
  std::vector<double> edges;
  if (values.size() == 1) {
    double pad = values[0] != 0 ? std::fabs(values[0]) / 20 : 0.5;
    return {values[0] - pad, values[0] + pad};
  }
  edges.push_back(values[0] - (values[1] - values[0]) / 2);
  for (size_t i = 1; i < values.size(); ++i) edges.push_back(values[i - 1] / 2 + values[i] / 2);
  edges.push_back(values.back() + (values.back() - values[values.size() - 2]) / 2);
  return edges;
}

size_t IndexOf(const std::vector<double>& sorted, double value) {
  return static_cast<size_t>(std::lower_bound(sorted.begin(), sorted.end(), value) -
                             sorted.begin());
}

// The column's values by grid cell, x fastest; cells without a value hold NaN.
std::vector<double> Grid(const Table& table, size_t column, const std::vector<double>& xs,
                         const std::vector<double>& ys) {
  std::vector<double> grid(xs.size() * ys.size(), NAN);
  for (size_t row = 0; row < table.Rows(); ++row) {
    double xValue = table.At(row, 0), yValue = table.At(row, 1);
    if (!std::isfinite(xValue) || !std::isfinite(yValue)) continue;
    grid[IndexOf(ys, yValue) * xs.size() + IndexOf(xs, xValue)] = table.At(row, column);
  }
  return grid;
}

// How many grid cells one drawn cell stands for, so that none is narrower than two pixels: finer
// cells would only grow the file. A block shows the value of its first cell.
size_t Stride(size_t count, double pixels) {
  auto most = static_cast<size_t>(pixels / 2);
  return count > most ? (count + most - 1) / most : 1;
}

// --- Colours ----------------------------------------------------------------------------------

// Distinguishable by most colour-blind readers; black and yellow last.
constexpr std::array<const char*, 8> LINE_COLOURS = {"#0072b2", "#d55e00", "#009e73", "#cc79a7",
                                                     "#e69f00", "#56b4e9", "#000000", "#f0e442"};
constexpr std::array<int, 8> TERMINAL_COLOURS = {34, 31, 32, 35, 33, 36, 37, 93};

struct Rgb {
  int red, green, blue;
};

// A perceptually even scale from dark blue through green to yellow, interpolated between stops.
Rgb HeatColour(double share) {
  constexpr std::array<Rgb, 5> STOPS = {{{0x44, 0x01, 0x54},
                                         {0x3b, 0x52, 0x8b},
                                         {0x21, 0x91, 0x8c},
                                         {0x5e, 0xc9, 0x62},
                                         {0xfd, 0xe7, 0x25}}};
  double position = std::clamp(share, 0.0, 1.0) * (STOPS.size() - 1);
  size_t at = std::min(static_cast<size_t>(position), STOPS.size() - 2);
  double t = position - static_cast<double>(at);
  auto mix = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
  return {mix(STOPS[at].red, STOPS[at + 1].red), mix(STOPS[at].green, STOPS[at + 1].green),
          mix(STOPS[at].blue, STOPS[at + 1].blue)};
}

std::string HexColour(Rgb colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
  return text;
}

// Where the value sits between the column's extremes; the middle when they are equal.
double Share(double value, double low, double high) {
  return high > low ? (value / 2 - low / 2) / (high / 2 - low / 2) : 0.5;
}

std::string ShortestText(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// --- SVG --------------------------------------------------------------------------------------

// Numbers go through to_chars, never printf, so that no locale can write a decimal comma.
class Svg {
 public:
  Svg& operator<<(const std::string& part) {
    text += part;
    return *this;
  }
  Svg& operator<<(const char* part) {
    text += part;
    return *this;
  }
  Svg& operator<<(double value) {
    char number[40];
    text.append(
        number,
        std::to_chars(number, number + sizeof number, value, std::chars_format::fixed, 1).ptr);
    return *this;
  }
  Svg& operator<<(size_t value) { return *this << std::to_string(value); }

  std::string text;
};

std::string Escaped(const std::string& name) {
  std::string escaped;
  for (char c : name) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

constexpr double WIDTH = 720;
constexpr double LINE_HEIGHT = 440;
constexpr double PANEL_HEIGHT = 400;
constexpr double LEFT = 80;
constexpr double TOP = 24;
constexpr double LEGEND_WIDTH = 170;
constexpr double BOTTOM_MARGIN = 56;

void TextAt(Svg& svg, double x, double y, const char* anchor, const std::string& text) {
  svg << "<text x=\"" << x << "\" y=\"" << y << "\" text-anchor=\"" << anchor << "\">"
      << Escaped(text) << "</text>\n";
}

// Grid lines and labelled ticks of both axes, the frame, and the x axis's name.
void DrawAxes(Svg& svg, const Axis& x, const Axis& y, const std::string& xName) {
  double left = x.pixelLow, right = x.pixelHigh, bottom = y.pixelLow, top = y.pixelHigh;
  for (int i = 0; i < x.ticks.count; ++i) {
    double value = x.ticks.Value(i);
    if (!x.Contains(value)) continue;
    double at = x.Map(value);
    svg << "<line class=\"grid\" x1=\"" << at << "\" y1=\"" << top << "\" x2=\"" << at << "\" y2=\""
        << bottom + 5 << "\"/>\n";
    TextAt(svg, at, bottom + 20, "middle", TickLabel(x.ticks, i));
  }
  for (int i = 0; i < y.ticks.count; ++i) {
    double value = y.ticks.Value(i);
    if (!y.Contains(value)) continue;
    double at = y.Map(value);
    svg << "<line class=\"grid\" x1=\"" << left - 5 << "\" y1=\"" << at << "\" x2=\"" << right
        << "\" y2=\"" << at << "\"/>\n";
    TextAt(svg, left - 8, at + 4, "end", TickLabel(y.ticks, i));
  }
  svg << "<rect class=\"frame\" x=\"" << left << "\" y=\"" << top << "\" width=\"" << right - left
      << "\" height=\"" << bottom - top << "\"/>\n";
  TextAt(svg, (left + right) / 2, bottom + 42, "middle", xName);
}

void YName(Svg& svg, const Axis& y, const std::string& name) {
  double middle = (y.pixelLow + y.pixelHigh) / 2;
  svg << "<text transform=\"translate(18 " << middle << ") rotate(-90)\" text-anchor=\"middle\">"
      << Escaped(name) << "</text>\n";
}

struct Point {
  double x, y;
};

// Points less than a pixel apart across are drawn as the first, lowest, highest and last of them:
// the same picture, without a million points in the file.
std::vector<Point> Thinned(const std::vector<Point>& points) {
  std::vector<Point> kept;
  for (size_t first = 0, last = 0; first < points.size(); first = ++last) {
    size_t low = first, high = first;
    while (last + 1 < points.size() &&
           std::floor(points[last + 1].x) == std::floor(points[first].x)) {
      ++last;
      if (points[last].y < points[low].y) low = last;
      if (points[last].y > points[high].y) high = last;
    }
    size_t previous = points.size();
    for (size_t at : {first, std::min(low, high), std::max(low, high), last}) {
      if (at != previous) kept.push_back(points[at]);
      previous = at;
    }
  }
  return kept;
}

// A polyline through an unbroken run of points; a point alone becomes a dot.
void DrawRun(Svg& svg, const std::vector<Point>& run, const char* colour) {
  if (run.size() == 1) {
    svg << "<circle cx=\"" << run[0].x << "\" cy=\"" << run[0].y << "\" r=\"2\" fill=\"" << colour
        << "\"/>\n";
  } else if (run.size() > 1) {
    svg << "<polyline stroke=\"" << colour << "\" points=\"";
    for (const Point& point : Thinned(run)) svg << point.x << "," << point.y << " ";
    svg << "\"/>\n";
  }
}

// A value that is not finite ends a run.
void DrawSeries(Svg& svg, const Table& table, size_t column, const Axis& x, const Axis& y,
                const char* colour) {
  std::vector<Point> run;
  for (size_t row = 0; row <= table.Rows(); ++row) {
    if (row < table.Rows() && std::isfinite(table.At(row, 0)) &&
        std::isfinite(table.At(row, column))) {
      run.push_back({x.Map(table.At(row, 0)), y.Map(table.At(row, column))});
      continue;
    }
    DrawRun(svg, run, colour);
    run.clear();
  }
}

std::string Header(double height) {
  Svg svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << WIDTH << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << WIDTH << " " << height << "\" font-family=\"sans-serif\""
      << " font-size=\"13\">\n"
      << "<style>.grid{stroke:#ddd;stroke-width:1}.frame{fill:none;stroke:#444}"
      << "polyline{fill:none;stroke-width:1.6;stroke-linejoin:round}</style>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  return svg.text;
}

void Legend(Svg& svg, const Table& table, double left) {
  for (size_t column = 1; column < table.Columns(); ++column) {
    double at = TOP + 10 + 22 * static_cast<double>(column - 1);
    svg << "<line x1=\"" << left + 16 << "\" y1=\"" << at << "\" x2=\"" << left + 40 << "\" y2=\""
        << at << "\" stroke-width=\"3\" stroke=\""
        << LINE_COLOURS[(column - 1) % LINE_COLOURS.size()] << "\"/>\n";
    TextAt(svg, left + 46, at + 4, "start", table.Name(column));
  }
}

std::string LineChart(const Table& table) {
  double right = WIDTH - LEGEND_WIDTH, bottom = LINE_HEIGHT - BOTTOM_MARGIN;
  double xLow = 0, xHigh = 1, yLow = 0, yHigh = 1;
  table.Range(0, 1, xLow, xHigh);
  table.Range(1, table.Columns(), yLow, yHigh);
  Axis x = RoundedAxis(xLow, xHigh, 8, LEFT, right);
  Axis y = RoundedAxis(yLow, yHigh, 6, bottom, TOP);
  Svg svg;
  svg << Header(LINE_HEIGHT);
  DrawAxes(svg, x, y, table.Name(0));
  if (table.Columns() == 2) YName(svg, y, table.Name(1));
  svg << "<clipPath id=\"area\"><rect x=\"" << LEFT << "\" y=\"" << TOP << "\" width=\""
      << right - LEFT << "\" height=\"" << bottom - TOP << "\"/></clipPath>\n"
      << "<g clip-path=\"url(#area)\">\n";
  for (size_t column = 1; column < table.Columns(); ++column) {
    DrawSeries(svg, table, column, x, y, LINE_COLOURS[(column - 1) % LINE_COLOURS.size()]);
  }
  svg << "</g>\n";
  Legend(svg, table, right);
  return svg.text + "</svg>\n";
}

// A vertical bar of the colour scale with ticks of the column's values.
void ColourBar(Svg& svg, double left, double top, double bottom, double low, double high,
               size_t id) {
  svg << "<linearGradient id=\"scale" << id << "\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">";
  for (int stop = 0; stop <= 8; ++stop) {
    svg << "<stop offset=\"" << stop / 8.0 << "\" stop-color=\""
        << HexColour(HeatColour(stop / 8.0)) << "\"/>";
  }
  svg << "</linearGradient>\n<rect x=\"" << left << "\" y=\"" << top << "\" width=\"16\" height=\""
      << bottom - top << "\" fill=\"url(#scale" << id << ")\"/>\n";
  if (!(high > low)) {
    TextAt(svg, left + 22, (top + bottom) / 2 + 4, "start", ShortestText(low));
    return;
  }
  Axis scale = ExactAxis(low, high, 6, bottom, top);
  for (int i = 0; i < scale.ticks.count; ++i) {
    double value = scale.ticks.Value(i);
    if (!scale.Contains(value)) continue;
    double at = scale.Map(value);
    svg << "<line class=\"frame\" x1=\"" << left + 16 << "\" y1=\"" << at << "\" x2=\"" << left + 20
        << "\" y2=\"" << at << "\"/>\n";
    TextAt(svg, left + 23, at + 4, "start", TickLabel(scale.ticks, i));
  }
}

// One panel per result column: cells coloured by value, empty where the value is not finite.
void HeatPanel(Svg& svg, const Table& table, size_t column, double panelTop) {
  std::vector<double> xs = table.Distinct(0), ys = table.Distinct(1);
  if (xs.empty() || ys.empty()) return;
  std::vector<double> xEdges = CellEdges(xs), yEdges = CellEdges(ys);
  double right = WIDTH - 150, top = panelTop + TOP, bottom = panelTop + PANEL_HEIGHT - 64;
  Axis x = ExactAxis(xEdges.front(), xEdges.back(), 8, LEFT, right);
  Axis y = ExactAxis(yEdges.front(), yEdges.back(), 6, bottom, top);
  double low = 0, high = 0;
  table.Range(column, column + 1, low, high);
  DrawAxes(svg, x, y, table.Name(0));  // first, so that the cells hide the grid lines
  svg << "<g shape-rendering=\"crispEdges\">\n";
  std::vector<double> grid = Grid(table, column, xs, ys);
  size_t xStride = Stride(xs.size(), right - LEFT), yStride = Stride(ys.size(), bottom - top);
  for (size_t j = 0; j < ys.size(); j += yStride) {
    for (size_t i = 0; i < xs.size(); i += xStride) {
      double value = grid[j * xs.size() + i];
      if (!std::isfinite(value)) continue;
      double x0 = x.Map(xEdges[i]), x1 = x.Map(xEdges[std::min(i + xStride, xs.size())]);
      double y0 = y.Map(yEdges[std::min(j + yStride, ys.size())]), y1 = y.Map(yEdges[j]);
      svg << "<rect x=\"" << x0 << "\" y=\"" << y0 << "\" width=\"" << x1 - x0 + 0.5
          << "\" height=\"" << y1 - y0 + 0.5 << "\" fill=\""
          << HexColour(HeatColour(Share(value, low, high))) << "\"/>\n";
    }
  }
  svg << "</g>\n<rect class=\"frame\" x=\"" << LEFT << "\" y=\"" << top << "\" width=\""
      << right - LEFT << "\" height=\"" << bottom - top << "\"/>\n";
  YName(svg, y, table.Name(1));
  TextAt(svg, (LEFT + right) / 2, top - 8, "middle", table.Name(column));
  ColourBar(svg, right + 24, top, bottom, low, high, column);
}

std::string HeatMaps(const Table& table) {
  double height = PANEL_HEIGHT * static_cast<double>(table.Columns() - 2);
  Svg svg;
  svg << Header(height);
  for (size_t column = 2; column < table.Columns(); ++column) {
    HeatPanel(svg, table, column, PANEL_HEIGHT * static_cast<double>(column - 2));
  }
  return svg.text + "</svg>\n";
}

// --- Terminal ---------------------------------------------------------------------------------

constexpr int TEXT_COLUMNS = 60;
constexpr int TEXT_ROWS = 15;

void Utf8(std::string& out, unsigned codePoint) {
  out += static_cast<char>(0xE0 | codePoint >> 12);
  out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
  out += static_cast<char>(0x80 | (codePoint & 0x3F));
}

void Paint(std::string& out, bool colour, int code, const std::string& text) {
  if (colour && code > 0) {
    out += "\x1b[" + std::to_string(code) + "m" + text + "\x1b[0m";
  } else {
    out += text;
  }
}

// Two by four dots per character cell, each cell coloured by the last series through it.
class BrailleCanvas {
 public:
  BrailleCanvas() : dots(TEXT_COLUMNS * TEXT_ROWS, 0), owners(TEXT_COLUMNS * TEXT_ROWS, 0) {}

  static constexpr int DOT_COLUMNS = TEXT_COLUMNS * 2;
  static constexpr int DOT_ROWS = TEXT_ROWS * 4;

  void Dot(int x, int y, int owner) {
    static constexpr unsigned char BITS[4][2] = {
        {0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};
    if (x < 0 || y < 0 || x >= DOT_COLUMNS || y >= DOT_ROWS) return;
    size_t cell = static_cast<size_t>(y / 4 * TEXT_COLUMNS + x / 2);
    dots[cell] = static_cast<unsigned char>(dots[cell] | BITS[y % 4][x % 2]);
    owners[cell] = owner;
  }

  // Bresenham's line: every dot between the two, none doubled.
  void Line(int x0, int y0, int x1, int y1, int owner) {
    int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, error = dx + dy;
    for (;;) {
      Dot(x0, y0, owner);
      if (x0 == x1 && y0 == y1) return;
      int twice = 2 * error;
      if (twice >= dy) error += dy, x0 += sx;
      if (twice <= dx) error += dx, y0 += sy;
    }
  }

  void Row(std::string& out, int row, bool colour) const {
    for (int column = 0; column < TEXT_COLUMNS; ++column) {
      size_t cell = static_cast<size_t>(row * TEXT_COLUMNS + column);
      std::string glyph;
      Utf8(glyph, 0x2800u + dots[cell]);
      Paint(out, colour, owners[cell], glyph);
    }
  }

 private:
  std::vector<unsigned char> dots;
  std::vector<int> owners;
};

// The labels under the x axis, each centred on its tick where it does not overlap the last.
std::string XLabels(const Axis& x, size_t indent) {
  std::string line(indent + TEXT_COLUMNS + 8, ' ');
  size_t free = 0;
  for (int i = 0; i < x.ticks.count; ++i) {
    std::string label = TickLabel(x.ticks, i);
    auto centre = static_cast<size_t>(std::lround(x.Map(x.ticks.Value(i)))) / 2 + indent + 1;
    size_t start = centre >= label.size() / 2 ? centre - label.size() / 2 : 0;
    if (start < free || start + label.size() > line.size()) continue;
    line.replace(start, label.size(), label);
    free = start + label.size() + 1;
  }
  return line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
}

// Each result column's points, joined where no value is missing between them.
void DrawCurves(BrailleCanvas& canvas, const Table& table, const Axis& x, const Axis& y) {
  for (size_t column = 1; column < table.Columns(); ++column) {
    int owner = TERMINAL_COLOURS[(column - 1) % TERMINAL_COLOURS.size()];
    bool joined = false;
    int lastX = 0, lastY = 0;
    for (size_t row = 0; row < table.Rows(); ++row) {
      double xValue = table.At(row, 0), yValue = table.At(row, column);
      joined = joined && std::isfinite(xValue) && std::isfinite(yValue);
      if (!std::isfinite(xValue) || !std::isfinite(yValue)) continue;
      int dotX = static_cast<int>(std::lround(x.Map(xValue)));
      int dotY = static_cast<int>(std::lround(y.Map(yValue)));
      joined ? canvas.Line(lastX, lastY, dotX, dotY, owner) : canvas.Dot(dotX, dotY, owner);
      joined = true;
      lastX = dotX;
      lastY = dotY;
    }
  }
}

std::string TextLineChart(const Table& table, bool colour) {
  double xLow = 0, xHigh = 1, yLow = 0, yHigh = 1;
  table.Range(0, 1, xLow, xHigh);
  table.Range(1, table.Columns(), yLow, yHigh);
  Axis x = RoundedAxis(xLow, xHigh, 6, 0, BrailleCanvas::DOT_COLUMNS - 1);
  Axis y = RoundedAxis(yLow, yHigh, 4, BrailleCanvas::DOT_ROWS - 1, 0);
  BrailleCanvas canvas;
  DrawCurves(canvas, table, x, y);
  std::vector<std::string> labels(TEXT_ROWS);
  size_t indent = 0;
  for (int i = 0; i < y.ticks.count; ++i) {
    auto row = static_cast<size_t>(std::lround(y.Map(y.ticks.Value(i)))) / 4;
    labels[row] = TickLabel(y.ticks, i);
    indent = std::max(indent, labels[row].size());
  }
  std::string out;
  for (int row = 0; row < TEXT_ROWS; ++row) {
    const std::string& label = labels[static_cast<size_t>(row)];
    out += std::string(indent - label.size(), ' ') + label + (label.empty() ? "│" : "┤");
    canvas.Row(out, row, colour);
    out += "\n";
  }
  out += std::string(indent, ' ') + "└";
  for (int column = 0; column < TEXT_COLUMNS; ++column) out += "─";
  out += "\n" + XLabels(x, indent);
  out += std::string(indent + TEXT_COLUMNS / 2, ' ') + table.Name(0) + "\n";
  for (size_t column = 1; column < table.Columns(); ++column) {
    Paint(out, colour, TERMINAL_COLOURS[(column - 1) % TERMINAL_COLOURS.size()], "⣀⣀");
    out += " " + table.Name(column) + "\n";
  }
  return out;
}

// The grid index shown at text position `at` of `positions`: the ends show the ends.
size_t Sample(int at, int positions, size_t count) {
  return static_cast<size_t>(std::lround(at * static_cast<double>(count - 1) / (positions - 1)));
}

// A shade per cell, from light to full block, by where its value sits in the column's range.
std::string TextHeatMap(const Table& table, size_t column) {
  static const char* const SHADES[] = {"░", "▒", "▓", "█"};
  std::vector<double> xs = table.Distinct(0), ys = table.Distinct(1);
  if (xs.empty() || ys.empty()) return "";
  std::vector<double> grid = Grid(table, column, xs, ys);
  double low = 0, high = 0;
  table.Range(column, column + 1, low, high);
  std::string yHigh = ShortestText(ys.back()), yLow = ShortestText(ys.front());
  size_t indent = std::max(yHigh.size(), yLow.size());
  std::string out = table.Name(column) + "\n";
  for (int row = 0; row < TEXT_ROWS; ++row) {
    const std::string& label = row == 0 ? yHigh : row == TEXT_ROWS - 1 ? yLow : "";
    out += std::string(indent - label.size(), ' ') + label + "│";
    size_t j = (ys.size() - 1) - Sample(row, TEXT_ROWS, ys.size());
    for (int character = 0; character < TEXT_COLUMNS; ++character) {
      size_t i = Sample(character, TEXT_COLUMNS, xs.size());
      double value = grid[j * xs.size() + i];
      if (!std::isfinite(value)) {
        out += " ";
        continue;
      }
      out += SHADES[std::min(3, static_cast<int>(Share(value, low, high) * 4))];
    }
    out += "\n";
  }
  std::string xLow = ShortestText(xs.front()), xHigh = ShortestText(xs.back());
  out += std::string(indent, ' ') + "└";
  for (int character = 0; character < TEXT_COLUMNS; ++character) out += "─";
  size_t gap =
      TEXT_COLUMNS > xLow.size() + xHigh.size() ? TEXT_COLUMNS - xLow.size() - xHigh.size() : 1;
  out += "\n" + std::string(indent + 1, ' ') + xLow + std::string(gap, ' ') + xHigh + "\n";
  out += std::string(indent + 1, ' ') + table.Name(0) + " across, " + table.Name(1) + " up; " +
         "░ " + ShortestText(low) + " … █ " + ShortestText(high) + "\n";
  return out;
}

bool Validate(const PlotData& data, std::string& error) {
  size_t width = data.names.size();
  if ((data.sweptCount != 1 && data.sweptCount != 2) || width <= size_t(data.sweptCount)) {
    error = "a plot needs one or two swept variables and a result";
  } else if (data.rows.size() % width != 0) {
    error = "the plotted rows are not whole";
  } else if (data.rows.empty()) {
    error = "there is nothing to plot";
  }
  return error.empty();
}

// Written beside the target and renamed over it, so that a failure never leaves half a picture.
int WriteFile(const std::string& text, const std::string& path, std::string& error) {
  std::string temporary = path + ".kalo-part";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot create '" + path + "': " + std::strerror(errno);
    return EXIT_CANNOT_CREATE;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  written = std::fclose(file) == 0 && written;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    std::remove(temporary.c_str());
    return EXIT_IO_ERROR;
  }
  return 0;
}

}  // namespace

int WritePlot(const PlotData& data, const std::string& path, std::string& error) {
  error.clear();
  if (!Validate(data, error)) return EXIT_IO_ERROR;
  Table table(data);
  if (path != "-")
    return WriteFile(data.sweptCount == 1 ? LineChart(table) : HeatMaps(table), path, error);
  std::string text;
  if (data.sweptCount == 1) {
    // A Windows console shows escape sequences as text unless the program turns them on.
#if defined(_WIN32)
    bool colour = false;
#else
    bool colour = IsTerminal(stdout) && std::getenv("NO_COLOR") == nullptr;
#endif
    text = TextLineChart(table, colour);
  } else {
    for (size_t column = 2; column < table.Columns(); ++column) text += TextHeatMap(table, column);
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    error = std::string("cannot write the plot: ") + std::strerror(errno);
    return EXIT_IO_ERROR;
  }
  return 0;
}

}  // namespace kalo::cli
