// The kalo command as a user runs it, through /bin/sh with files, pipes and exit codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Bytes = std::istreambuf_iterator<char>;
std::string ReadFile(const fs::path& path) { return {Bytes(std::ifstream(path).rdbuf()), Bytes()}; }

struct Row {
  int line, exitCode;
  std::string command, input, out, err;  // err: parts of standard error in order, or "" for none
};

std::string Unescaped(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size())
      plain += text[i];
    else if (char c = text[++i]; c == 'x')
      plain += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2;
    else
      plain += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
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
      size_t bar = std::min(text.rfind(" | "), text.size());
      fields[i] = Unescaped(text.substr(std::min(bar + 3, text.size())));
      text.erase(bar);
    }
    rows.push_back({line, std::atoi(fields[4].c_str()), text, fields[1], fields[2], fields[3]});
  }
  return rows;
}

void PrintTo(const Row& row, std::ostream* stream) { *stream << "cases.txt:" << row.line; }

class ToolTest : public ::testing::TestWithParam<Row> {};

// Each row in a folder of its own (parallel runs never meet) holding in.csv and standard input;
// `kalo` is a shell function for the command, $TOOL its path and $SRC the sources.
TEST_P(ToolTest, PrintsAndExitsAsExpected) {
  const Row& row = GetParam();
  SCOPED_TRACE(row.command);
  fs::path dir = fs::path(::testing::TempDir()) /
                 ("kalo_tool_" + std::to_string(getpid()) + "_" + std::to_string(row.line));
  fs::create_directories(dir);
  std::ofstream(dir / "stdin", std::ios::binary) << row.input;
  setenv("ROW", dir.c_str(), 1), setenv("SRC", KALO_SOURCE_DIR, 1);
  setenv("TOOL", KALO_TOOL_PATH, 1);
  std::string command =
      "cd \"$ROW\" && cp stdin in.csv && HOME=\"$ROW\" && kalo() { \"$TOOL\" \"$@\"; } && {\n" +
      row.command + "\n} <stdin >stdout 2>stderr; echo $? >status";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(std::atoi(ReadFile(dir / "status").c_str()), row.exitCode);
  EXPECT_EQ(ReadFile(dir / "stdout"), row.out);
  std::string err = ReadFile(dir / "stderr"), parts = row.err + "...";
  fs::remove_all(dir);
  EXPECT_EQ(err.empty(), row.err.empty()) << err;
  for (size_t from = 0, at = 0; from < row.err.size(); from = parts.find("...", from) + 3) {
    at = err.find(parts.substr(from, parts.find("...", from) - from), at);
    EXPECT_NE(at, std::string::npos) << row.err << "\nin order in\n" << err;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolTest, ::testing::ValuesIn(ReadRows()),
                         [](const auto& row) { return "line" + std::to_string(row.param.line); });

TEST(ToolCases, AreRead) { EXPECT_GE(ReadRows().size(), 30u); }

}  // namespace
