// Runs the kalo command as a user would, through /bin/sh with files, pipes and exit codes. The
// cases are the rows of cases.txt; the two here build inputs too large for a row.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode;
  std::string out, err;
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A scratch folder per test and process (parallel runs of the same tests never meet), holding
// in.csv and standard input; the command runs there, with `kalo` a shell function for it.
struct Sandbox {
  explicit Sandbox(const std::string& input) {
    static int serial = 0;
    dir = fs::path(::testing::TempDir()) /
          ("kalo_tool_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    fs::create_directories(dir);
    std::ofstream(dir / "in.csv", std::ios::binary) << input;
    std::ofstream(dir / "stdin", std::ios::binary) << input;
  }
  ~Sandbox() { fs::remove_all(dir); }

  Outcome Run(const std::string& shellCommand) {
    std::string command = "cd " + Quoted(dir.string()) +
                          " && HOME=\"$PWD\" SRC=" + Quoted(KALO_SOURCE_DIR) + " && kalo() { " +
                          Quoted(KALO_TOOL_PATH) + " \"$@\"; } && {\n" + shellCommand +
                          "\n} <stdin >stdout 2>stderr; echo $? >status";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return {std::stoi(ReadFile(dir / "status")), ReadFile(dir / "stdout"),
            ReadFile(dir / "stderr")};
  }

  fs::path dir;
};

struct Row {
  int line;
  std::string command, input, out, err;  // err: parts of standard error in order, or "" for none
  int exitCode;
};

std::string Unescaped(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      plain += text[i];
    } else if (char c = text[++i]; c == 'x') {
      plain += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      plain += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
  }
  return plain;
}

// The last four fields split off from the right, so that the command may hold pipes.
std::vector<Row> ReadRows() {
  std::vector<Row> rows;
  std::ifstream file(KALO_SOURCE_DIR "/tests/tools/cases.txt");
  std::string text;
  for (int line = 1; std::getline(file, text); ++line) {
    if (text.empty() || text[0] == '#') continue;
    std::string fields[5];
    for (int i = 4; i > 0; --i) {
      size_t bar = text.rfind(" | ");
      fields[i] = Unescaped(text.substr(bar == std::string::npos ? 0 : bar + 3));
      text.erase(bar == std::string::npos ? 0 : bar);
    }
    rows.push_back({line, text, fields[1], fields[2], fields[3], std::atoi(fields[4].c_str())});
  }
  return rows;
}

void PrintTo(const Row& row, std::ostream* stream) { *stream << row.command; }

class ToolTest : public ::testing::TestWithParam<Row> {};

TEST_P(ToolTest, PrintsAndExitsAsExpected) {
  const Row& row = GetParam();
  Outcome outcome = Sandbox(row.input).Run(row.command);
  EXPECT_EQ(outcome.exitCode, row.exitCode);
  EXPECT_EQ(outcome.out, row.out);
  EXPECT_EQ(outcome.err.empty(), row.err.empty()) << outcome.err;
  std::string parts = row.err + "...";
  for (size_t from = 0, at = 0; from < row.err.size(); from = parts.find("...", from) + 3) {
    at = outcome.err.find(parts.substr(from, parts.find("...", from) - from), at);
    EXPECT_NE(at, std::string::npos) << row.err << "\nin order in\n" << outcome.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolTest, ::testing::ValuesIn(ReadRows()),
                         [](const auto& row) { return "line" + std::to_string(row.param.line); });

TEST(ToolCases, AreRead) { EXPECT_GE(ReadRows().size(), 50u); }

// With a terminal on standard input (script(1) makes one) the calculator starts by itself. The
// input's end may reach the terminal before the line editor is set up, and be lost: quit ends
// the session instead, and timeout keeps a lost one from hanging the test.
TEST(ToolTerminal, CalculatorStartsOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  Outcome outcome = Sandbox("X = 2\nY = X*3\nY = Y/0\nquit\n")
                        .Run("timeout 30 script -qec " + Quoted(KALO_TOOL_PATH) + " /dev/null");
  EXPECT_EQ(outcome.exitCode, 0);
  for (const char* expected :
       {"calculator", "X = 2\r\n", "Y = 6\r\n", "MATH ERROR:  Divide(6,0)\r\nDivide by 0 error"})
    EXPECT_NE(outcome.out.find(expected), std::string::npos) << expected << " in " << outcome.out;
}

// Many rows, quoted fields and CRLF: records and line ends fall across every refill of the
// reader's buffer, one record is larger than the buffer's first size, and rows are evaluated
// 4096 at a time. Failing rows, on both sides of a block's end too, are left out: the first ten
// shown, the rest counted.
TEST(ToolStreaming, RecordsAcrossBuffersAndBlocksComeThroughWhole) {
  std::string input = "Label,X\r\n", expected = "Label,X,Y\r\n";
  for (int i = 1; i <= 60000; ++i) {
    bool bad = i % 200 == 0 || i == 4096 || i == 4097;
    std::string label =
        i % 3 == 0 ? "\"l,\"\"" + std::to_string(i) + "\"\"\"" : "p" + std::to_string(i);
    if (i == 30001) label = "\"" + std::string(3 << 20, 'w') + "\n\"";
    std::string x = bad ? "0" : std::to_string(i);
    input += label + "," + x + "\r\n";
    if (!bad) expected += label + "," + x + "," + std::to_string(2 * i) + "\r\n";
  }
  Outcome outcome = Sandbox(input).Run("kalo --csv in.csv --on-error skip 'Y = X*2 + 0/X'");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_TRUE(outcome.out == expected) << "sizes " << outcome.out.size() << ", " << expected.size();
  size_t shown = 0;
  for (size_t at = 0; (at = outcome.err.find("MATH ERROR", at)) != std::string::npos; ++at) ++shown;
  EXPECT_EQ(shown, 10u);
  EXPECT_NE(outcome.err.find("kalo: line 201: MATH ERROR"), std::string::npos);
  EXPECT_NE(outcome.err.find("\u2026 and 292 more rows\nkalo: 302 rows could not be evaluated"),
            std::string::npos)
      << outcome.err;
}

}  // namespace
