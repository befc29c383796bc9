// Runs the kalo command as a user would, through /bin/sh with files, pipes and exit codes, and
// compares what it prints.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode;
  std::string out;
  std::string err;
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

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A scratch directory per run: the command runs inside it, so tests name files relatively.
class Sandbox {
 public:
  Sandbox() {
    // Named after the test, so that tests run by CTest in parallel processes never meet.
    static int serial = 0;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "_" + test->name();
    for (char& c : name) c = c == '/' ? '_' : c;
    dir = fs::path(::testing::TempDir()) / ("kalo_tool_" + name + "_" + std::to_string(serial++));
    fs::create_directories(dir);
  }
  ~Sandbox() { fs::remove_all(dir); }

  Outcome Run(const std::vector<std::string>& args, const std::string& input) {
    std::string command = Quoted(KALO_TOOL_PATH);
    for (const std::string& arg : args) command += " " + Quoted(arg);
    return RunShell(command, input);
  }

  Outcome RunShell(const std::string& shellCommand, const std::string& input) {
    WriteFile(dir / "stdin", input);
    std::string command = "cd " + Quoted(dir.string()) + " && " + shellCommand +
                          " <stdin >stdout 2>stderr; echo $? >status";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return {std::stoi(ReadFile(dir / "status")), ReadFile(dir / "stdout"),
            ReadFile(dir / "stderr")};
  }

  fs::path dir;
};

struct Case {
  const char* name;
  std::vector<std::string> args;
  std::string input;  // standard input, and the file in.csv
  int exitCode;
  std::string out;  // standard output, exactly
  std::string err;  // a part of standard error ("" when it must be empty)
};

std::ostream& operator<<(std::ostream& stream, const Case& c) { return stream << c.name; }

class ToolTest : public ::testing::TestWithParam<Case> {};

TEST_P(ToolTest, PrintsAndExitsAsExpected) {
  const Case& c = GetParam();
  Sandbox sandbox;
  WriteFile(sandbox.dir / "in.csv", c.input);
  Outcome outcome = sandbox.Run(c.args, c.input);
  EXPECT_EQ(outcome.exitCode, c.exitCode);
  EXPECT_EQ(outcome.out, c.out);
  if (c.err.empty()) {
    EXPECT_EQ(outcome.err, "");
  } else {
    EXPECT_NE(outcome.err.find(c.err), std::string::npos) << outcome.err;
  }
}

const char USAGE[] = "\nusage: kalo ";

// clang-format off
const Case SINGLE_CASES[] = {
  {"Evaluates", {"Z = 2*sin(X) + Y/3", "X=0.5", "Y=6"}, "", 0, "Z = 2.958851077208406\n", ""},
  {"ShortestRoundTrip", {"Y = 0.1 + 0.2"}, "", 0, "Y = 0.30000000000000004\n", ""},
  {"ExponentForm", {"Y = X*10", "X=1e300"}, "", 0, "Y = 1e+301\n", ""},
  {"PlainBetweenLimits", {"Y = X*10", "X=1e4"}, "", 0, "Y = 100000\n", ""},
  {"PlainSmall", {"Y = X/8", "X=1e-6"}, "", 0, "Y = 0.000000125\n", ""},
  {"ExponentTiny", {"Y = X/10", "X=1e-7"}, "", 0, "Y = 1e-08\n", ""},
  {"ExponentHuge", {"Y = X*10", "X=1e20"}, "", 0, "Y = 1e+21\n", ""},
  {"NegativeFixed", {"Y = -X", "X=123456789012"}, "", 0, "Y = -123456789012\n", ""},
  {"PlusSignAndBlanks", {"Y = X", "X= +2.5 "}, "", 0, "Y = 2.5\n", ""},
  {"ExplicitVariables", {"--vars", "A X Z", "Z = X*A", "X=3", "A=4"}, "", 0, "Z = 12\n", ""},
  {"AssignedAmongValues", {"X = X*2", "X=4"}, "", 0, "X = 8\n", ""},
  {"Radians", {"Y = sin(X)", "X=90"}, "", 0, "Y = 0.8939966636005579\n", ""},
  {"Degrees", {"--degrees", "Y = sin(X)", "X=90"}, "", 0, "Y = 1\n", ""},
  {"Grads", {"--grads", "Y = sin(X)", "X=100"}, "", 0, "Y = 1\n", ""},
  {"CompileError", {"Y = 2 + * 3"}, "", 1, "",
   "kalo: Expected variable or function name\nY = 2 + * ?  3\n"},
  {"UndefinedName", {"Y = Q + 1"}, "", 1, "", "Variable or function not defined"},
  {"MathError", {"Y = 1/X", "X=0"}, "", 2, "", "kalo: MATH ERROR:  Divide(1,0)\nDivide by 0 error\n"},
  {"NotAmongVars", {"--vars", "X Z", "Z = X", "Y=1"}, "", 64, "", "Y is not among --vars"},
  {"ValueNotNumber", {"Y = X", "X=abc"}, "", 64, "", "'abc' in 'X=abc' is not a number"},
  {"GivenTwice", {"Y = X", "X=1", "x=2"}, "", 64, "", "x is given twice"},
  {"UnknownOption", {"--bogus"}, "", 64, "", "kalo: unknown option '--bogus'" + std::string(USAGE)},
  {"MissingValue", {"--csv"}, "", 64, "", "--csv needs a value"},
  {"NoEquationOnPipe", {}, "X = 1\n", 64, "", "missing the equation"},
  {"OutputWithoutTable", {"-o", "x.csv", "Y = 1"}, "", 64, "", "-o writes tables"},
  {"BadOnError", {"--on-error", "ignore", "--csv", "in.csv", "Y = 1"}, "", 64, "", "stop, skip or empty"},
  {"TableAndSweep", {"--csv", "in.csv", "--sweep", "X=0:1:1", "Y = X"}, "", 64, "", "together"},
};

const Case TABLE_CASES[] = {
  {"Appends", {"--csv", "in.csv", "Power = Volts*Amps"}, "Volts,Amps\n1,2\n3,4\n", 0,
   "Volts,Amps,Power\n1,2,2\n3,4,12\n", ""},
  {"ReplacesInPlace", {"--csv", "in.csv", "y = A+1"}, "A,Y,B\n1,old,\"q,x\"\n2,,z\n", 0,
   "A,Y,B\n1,2,\"q,x\"\n2,3,z\n", ""},
  {"NamesIgnoreCase", {"--csv", "in.csv", "P = Volts*amps"}, "volts,AMPS\n2,3\n", 0,
   "volts,AMPS,P\n2,3,6\n", ""},
  {"CrLf", {"--csv", "in.csv", "C = A+B"}, "A,B\r\n1,2\r\n3,4", 0, "A,B,C\r\n1,2,3\r\n3,4,7\r\n", ""},
  {"QuotedFields", {"--csv", "in.csv", "Y = X*2"},
   "Name,X\n\"two\nlines\",\"2\"\n\"say \"\"hi\"\", x\",3\n", 0,
   "Name,X,Y\n\"two\nlines\",\"2\",4\n\"say \"\"hi\"\", x\",3,6\n", ""},
  {"UnusedTextColumn", {"--csv", "in.csv", "Y = X"}, "Label,X,Note\nfoo,1,n/a\n", 0,
   "Label,X,Note,Y\nfoo,1,n/a,1\n", ""},
  {"StandardInput", {"--csv", "-", "Y = X+1"}, "X\n1\n2\n", 0, "X,Y\n1,2\n2,3\n", ""},
  {"ByteOrderMark", {"--csv", "in.csv", "Y = X+1"}, "\xEF\xBB\xBFX\n1\n", 0,
   "\xEF\xBB\xBFX,Y\n1,2\n", ""},
  {"BlankLinePassesThrough", {"--csv", "in.csv", "Y = X"}, "X\n1\n\n2\n", 0, "X,Y\n1,1\n\n2,2\n", ""},
  {"Constants", {"--csv", "in.csv", "Y = X*k", "k=0.5"}, "X\n3\n", 0, "X,Y\n3,1.5\n", ""},
  {"ConstantNamesColumn", {"--csv", "in.csv", "Y = X", "x=1"}, "X\n3\n", 64, "", "names a column"},
  {"NotANumber", {"--csv", "in.csv", "Z = X+Y"}, "X,Y\n1,2\nabc,3\n", 65, "X,Y,Z\n1,2,3\n",
   "kalo: line 3, column 1 (X): 'abc' is not a number\n"},
  {"EmptyCell", {"--csv", "in.csv", "Z = X+Y"}, "X,Y\n1, \n", 65, "X,Y,Z\n",
   "kalo: line 2, column 2 (Y): empty cell\n"},
  {"RowTooShort", {"--csv", "in.csv", "Z = X"}, "X,Y\n1,2\n1\n", 65, "X,Y,Z\n1,2,1\n",
   "line 3, column 2 (Y): missing; the header has 2 columns, this row 1"},
  {"RowTooLong", {"--csv", "in.csv", "Z = X"}, "X,Y\n1,2,3\n", 65, "X,Y,Z\n",
   "line 2, column 3: one field too many; the header has 2 columns"},
  {"LineCountsQuotedBreaks", {"--csv", "in.csv", "Y = X"}, "T,X\n\"a\nb\",1\nc,x\n", 65,
   "T,X,Y\n\"a\nb\",1,1\n", "line 4, column 2 (X): 'x' is not a number"},
  {"QuoteNeverEnds", {"--csv", "in.csv", "Y = X"}, "X\n\"1\n2\n", 65, "X,Y\n",
   "line 2, column 1 (X): the quoted field never ends"},
  {"TextAfterQuote", {"--csv", "in.csv", "Z = Y"}, "X,Y\n\"1\"a,2\n", 65, "X,Y,Z\n",
   "line 2, column 1 (X): text after the closing quote"},
  {"EmptyInput", {"--csv", "in.csv", "Y = X"}, "", 65, "", "line 1: missing header row"},
  {"NumbersInHeader", {"--csv", "in.csv", "Y = X"}, "1,2\n3,4\n", 65, "",
   "line 1: missing header row; found the number 1"},
  {"SameNameTwice", {"--csv", "in.csv", "Y = X"}, "X,x\n1,2\n", 65, "",
   "column 1 (X) and column 2 (x) have the same name"},
  {"UnknownColumn", {"--csv", "in.csv", "P = Volts*Amsp"}, "Volts,Amps\n1,2\n", 1, "",
   "Variable or function not defined\nP = Volts*Amsp ? \nkalo: the table's columns are: Volts, Amps\n"},
  {"MathErrorStops", {"--csv", "in.csv", "Y = 1/X"}, "X\n1\n0\n2\n", 2, "X,Y\n1,1\n",
   "kalo: line 3: MATH ERROR:  Divide(1,0)\nDivide by 0 error\n"},
  {"MathErrorSkipped", {"--csv", "in.csv", "--on-error", "skip", "Y = 1/X"}, "X\n1\n0\n2\n", 0,
   "X,Y\n1,1\n2,0.5\n", "kalo: 1 row could not be evaluated: left out"},
  {"MathErrorLeftEmpty", {"--csv", "in.csv", "--on-error=empty", "Y = 1/X"}, "X\n1\n0\n2\n", 0,
   "X,Y\n1,1\n0,\n2,0.5\n", "result left empty"},
  {"BadCellLeftEmpty", {"--csv", "in.csv", "--on-error", "empty", "Y = X"}, "X,T\nabc,t\n", 0,
   "X,T,Y\nabc,t,\n", "'abc' is not a number"},
  {"RaggedRowLeftEmpty", {"--csv", "in.csv", "--on-error", "empty", "C = A+B"}, "A,B\n1,2\n3\n",
   0, "A,B,C\n1,2,3\n3,,\n", "missing"},
  {"MissingInput", {"--csv", "absent.csv", "Y = X"}, "", 66, "", "cannot open absent.csv"},
  {"OutputOverInput", {"--csv", "in.csv", "-o", "./in.csv", "Y = X"}, "X\n1\n", 64, "",
   "would overwrite the input"},
};

const Case SWEEP_CASES[] = {
  {"Sweeps", {"--sweep", "X=0:1:0.25", "Y = X*2"}, "", 0,
   "X,Y\n0,0\n0.25,0.5\n0.5,1\n0.75,1.5\n1,2\n", ""},
  {"DecimalPoints", {"--sweep", "X=0:0.3:0.1", "Y = X"}, "", 0, "X,Y\n0,0\n0.1,0.1\n0.2,0.2\n0.3,0.3\n", ""},
  {"Descending", {"--sweep", "X=1:0:-0.5", "Y = X"}, "", 0, "X,Y\n1,1\n0.5,0.5\n0,0\n", ""},
  {"ExponentBounds", {"--sweep", "X=1e-1:3e-1:1e-1", "Y = X"}, "", 0,
   "X,Y\n0.1,0.1\n0.2,0.2\n0.30000000000000004,0.30000000000000004\n", ""},
  {"Grid", {"--sweep", "A=1:2:1", "--sweep", "B=0:1:1", "C = A*10+B"}, "", 0,
   "A,B,C\n1,0,10\n1,1,11\n2,0,20\n2,1,21\n", ""},
  {"Bessel", {"--sweep", "X=0:0:1", "Y = j0(X)"}, "", 0, "X,Y\n0,1\n", ""},
  {"WithConstant", {"--sweep", "X=1:2:1", "Y = X*k", "k=3"}, "", 0, "X,Y\n1,3\n2,6\n", ""},
  {"MathErrorStops", {"--sweep", "X=-1:1:1", "Y = 1/X"}, "", 2, "X,Y\n-1,-1\n",
   "kalo: X=0: MATH ERROR:  Divide(1,0)"},
  {"MathErrorLeftEmpty", {"--sweep", "X=-1:1:1", "--on-error", "empty", "Y = 1/X"}, "", 0,
   "X,Y\n-1,-1\n0,\n1,1\n", "result left empty"},
  {"WrongDirection", {"--sweep", "X=0:1:-1", "Y = X"}, "", 64, "", "the step must lead from 0 to 1"},
  {"ZeroStep", {"--sweep", "X=0:1:0", "Y = X"}, "", 64, "", "the step must lead"},
  {"NoStep", {"--sweep", "X=0:1", "Y = X"}, "", 64, "", "NAME=FROM:TO:STEP"},
  {"AssignsSwept", {"--sweep", "X=0:1:1", "x = 1"}, "", 64, "", "assigns the swept variable"},
};

// "v1 = 1" to "vN = N", one a line: what the calculator reads and what it answers alike.
std::string Definitions(int count) {
  std::string lines;
  for (int i = 1; i <= count; ++i) lines += "v" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  return lines;
}

const Case CALCULATOR_CASES[] = {
  {"DefinesAndUses", {"-i"}, "X = 2\nY = X*3\nY+1\nX <= 3\n", 0,
     "X = 2\nY = 6\nans = 7\nans = -1\n", ""},
  {"BadLinesKeepState", {"--interactive"}, "X = 2\nX = X + * 1\nX = X/0\nX = X+1\n", 0,
   "X = 2\nX = 3\n",
   "Expected variable or function name\nX = X + * ?  1\nMATH ERROR:  Divide(2,0)\nDivide by 0 error\n"},
  {"UnknownNameNotDefined", {"-i"}, "Y = Q\nQ = 1\nY = Q\n", 0, "Q = 1\nY = 1\n",
   "Variable or function not defined"},
  {"NamesIgnoreCase", {"-i"}, "abc = 1\nABC = abc + 1\n", 0, "abc = 1\nabc = 2\n", ""},
  {"CommentsBlanksCrLf", {"-i"}, "# note\n\n  \nX = 1\r\n", 0, "X = 1\n", ""},
  {"Degrees", {"-i", "--degrees"}, "Y = sin(90)\n", 0, "Y = 1\n", ""},
  {"NoEquationAllowed", {"-i", "Y = 1"}, "", 64, "", "--interactive takes no equation"},
  {"QuitEnds", {"-i"}, "X = 2\n Quit \nX = 3\n", 0, "X = 2\n", ""},
  {"ExitEnds", {"-i"}, "exit\nX = 3\n", 0, "", ""},
  {"HundredNamesThenNoRoom", {"-i"}, Definitions(100) + "v101 = 1\nv100 = 0\n", 0,
   Definitions(100) + "v100 = 0\n", "no room for the new name v101: all 100 names are in use"},
};
// Names: how header cells and equation text are matched, and the library's limits on them.
// Two-letter column names (aa, ab, ...) let an equation over 100 of them fit in 303 characters.
std::string ColumnName(int i) { return {static_cast<char>('a' + i / 26), static_cast<char>('a' + i % 26)}; }

// A table of `count` such columns holding 0, 1, ..., with one more column if named.
std::string ManyColumns(int count, const std::string& extraName = "",
                        const std::string& extraValue = "") {
  std::string header;
  std::string row;
  for (int i = 0; i < count; ++i) {
    header += (i > 0 ? "," : "") + ColumnName(i);
    row += (i > 0 ? "," : "") + std::to_string(i);
  }
  return header + extraName + "\n" + row + extraValue + "\n";
}

std::string SumOfColumns(int count) {
  std::string sum = "S=" + ColumnName(0);
  for (int i = 1; i < count; ++i) sum += "+" + ColumnName(i);
  return sum;
}

const std::string LONG_NAME(47, 'v');

const Case NAME_CASES[] = {
  {"ExponentIsNoName", {"--csv", "in.csv", "Y = 2e1 + e1"}, "e1,T\n1,x\n", 0, "e1,T,Y\n1,x,21\n", ""},
  {"HeaderBlanksAndQuotes", {"--csv", "in.csv", "Y = A+B"}, " A ,\"B\"\n1,2\n", 0,
   " A ,\"B\",Y\n1,2,3\n", ""},
  {"AssignedColumnAlsoRead", {"--csv", "in.csv", "X = X*2"}, "X,T\n4,t\n", 0, "X,T\n8,t\n", ""},
  {"UnusableHeaderPassesThrough", {"--csv", "in.csv", "Y = X"}, "Time (s),X\n1,2\n", 0,
   "Time (s),X,Y\n1,2,2\n", ""},
  {"LongestName", {"--csv", "in.csv", "Y = " + LONG_NAME}, LONG_NAME + "\n5\n", 0,
   LONG_NAME + ",Y\n5,5\n", ""},
  {"HundredColumns", {"--csv", "in.csv", SumOfColumns(99)}, ManyColumns(99), 0,
   ManyColumns(99, ",S", ",4851"), ""},
  {"EquationTooLong", {"Y = X" + std::string(300, ' ') + "+1", "X=1"}, "", 1, "",
   "The equation has 307 characters; at most 303 are read"},
  {"TooManyVariables", {"--csv", "in.csv", SumOfColumns(99), "k=1", "m=2"}, ManyColumns(99), 1,
   "", "Too many variables"},
  {"DegreesInTable", {"--degrees", "--csv", "in.csv", "Y = sin(X)"}, "X\n90\n", 0, "X,Y\n90,1\n", ""},
  {"LastUnitWins", {"--degrees", "--radians", "Y = sin(X)", "X=0"}, "", 0, "Y = 0\n", ""},
  {"GradsInSweep", {"--grads", "--sweep", "X=100:100:1", "Y = sin(X)"}, "", 0, "X,Y\n100,1\n", ""},
  {"BlankHeader", {"--csv", "in.csv", "Y = X"}, "\n1\n", 65, "", "line 1: missing header row"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Names, ToolTest, ::testing::ValuesIn(NAME_CASES));
INSTANTIATE_TEST_SUITE_P(Single, ToolTest, ::testing::ValuesIn(SINGLE_CASES));
INSTANTIATE_TEST_SUITE_P(Table, ToolTest, ::testing::ValuesIn(TABLE_CASES));
INSTANTIATE_TEST_SUITE_P(Sweep, ToolTest, ::testing::ValuesIn(SWEEP_CASES));
INSTANTIATE_TEST_SUITE_P(Calculator, ToolTest, ::testing::ValuesIn(CALCULATOR_CASES));

// Without an equation and with a terminal on standard input, the calculator starts by itself:
// script(1) gives the program a pseudo-terminal.
TEST(ToolTerminal, CalculatorStartsOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  Sandbox sandbox;
  // The calculator keeps its history in the home folder: here, the sandbox.
  // The end of the input may reach the terminal before the line editor has set it up, and be
  // lost; quit ends the session instead, and timeout keeps a lost one from hanging the test.
  Outcome outcome =
      sandbox.RunShell("HOME=. timeout 30 script -qec " + Quoted(KALO_TOOL_PATH) + " /dev/null",
                       "X = 2\nY = X*3\nY = Y/0\nquit\n");
  EXPECT_EQ(outcome.exitCode, 0);
  for (const char* expected :
       {"calculator", "X = 2\r\n", "Y = 6\r\n", "MATH ERROR:  Divide(6,0)\r\nDivide by 0 error"}) {
    EXPECT_NE(outcome.out.find(expected), std::string::npos) << expected << " in " << outcome.out;
  }
}

TEST(ToolCalculator, HelpListsTheNamesDefined) {
  Sandbox sandbox;
  Outcome outcome = sandbox.Run({"-i"}, "X = 2\nhelp\nY = X+1\n");
  EXPECT_EQ(outcome.out.substr(0, 6), "X = 2\n");
  EXPECT_NE(outcome.out.find("\nDefined: X = 2\nY = 3\n"), std::string::npos) << outcome.out;
}

// The words of a text: runs of letters, digits and '-'. In roff, "\-" is '-' and a font change
// "\fB" ends a word.
std::set<std::string> Words(const std::string& text) {
  std::set<std::string> words;
  std::string word;
  for (size_t i = 0; i <= text.size(); ++i) {
    char c = i < text.size() ? text[i] : ' ';
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == 'f') i += 2;
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == '-') continue;
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
      word += c;
    } else if (!word.empty()) {
      words.insert(word);
      word.clear();
    }
  }
  return words;
}

// Every option that --help names is in the manual page and offered by the bash completion.
TEST(ToolDocumentation, ManualAndCompletionKnowEveryOption) {
  Sandbox sandbox;
  std::set<std::string> manual = Words(ReadFile(KALO_SOURCE_DIR "/tools/kalo.1"));
  std::set<std::string> completion = Words(ReadFile(KALO_SOURCE_DIR "/tools/kalo_completion.bash"));
  int options = 0;
  for (const std::string& word : Words(sandbox.Run({"--help"}, "").out)) {
    if (word.size() < 2 || word[0] != '-' || !std::isalpha(static_cast<unsigned char>(word.back())))
      continue;
    ++options;
    EXPECT_EQ(manual.count(word), 1u) << word << " is not in kalo.1";
    EXPECT_EQ(completion.count(word), 1u) << word << " is not completed";
  }
  EXPECT_GE(options, 10);
}

// A run that goes on over bad rows names the first ten and counts the rest.
TEST(ToolTable, SkippedRowsAreCountedNotAllShown) {
  Sandbox sandbox;
  std::string input = "X\n";
  for (int i = 0; i < 25; ++i) input += "0\n1\n";
  WriteFile(sandbox.dir / "in.csv", input);
  Outcome outcome = sandbox.Run({"--csv", "in.csv", "--on-error", "skip", "Y = 1/X"}, "");
  EXPECT_EQ(outcome.exitCode, 0);
  std::string expected = "X,Y\n";
  for (int i = 0; i < 25; ++i) expected += "1,1\n";
  EXPECT_EQ(outcome.out, expected);
  size_t shown = 0;
  for (size_t at = 0; (at = outcome.err.find("MATH ERROR", at)) != std::string::npos; ++at) ++shown;
  EXPECT_EQ(shown, 10u);
  EXPECT_NE(outcome.err.find("kalo: line 2: MATH ERROR"), std::string::npos);
  EXPECT_NE(outcome.err.find("25 rows could not be evaluated: left out"), std::string::npos);
}

// A stopped run keeps the rows before the fault in the output file.
TEST(ToolOutput, StoppedRunKeepsEarlierRowsInFile) {
  Sandbox sandbox;
  WriteFile(sandbox.dir / "in.csv", "X\n2\n0\n4\n");
  Outcome outcome = sandbox.Run({"--csv", "in.csv", "-o", "out.csv", "Y = 1/X"}, "");
  EXPECT_EQ(outcome.exitCode, 2);
  EXPECT_EQ(ReadFile(sandbox.dir / "out.csv"), "X,Y\n2,0.5\n");
}

TEST(ToolOutput, WritesFileGivenWithO) {
  Sandbox sandbox;
  WriteFile(sandbox.dir / "in.csv", "X\n2\n");
  Outcome outcome = sandbox.Run({"--csv", "in.csv", "-o", "out.csv", "Y = X*X"}, "");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(ReadFile(sandbox.dir / "out.csv"), "X,Y\n2,4\n");
}

TEST(ToolOutput, UnwritableOutputExits73) {
  Sandbox sandbox;
  WriteFile(sandbox.dir / "in.csv", "X\n2\n");
  Outcome outcome = sandbox.Run({"--csv", "in.csv", "-o", "no/such/dir/out.csv", "Y = X"}, "");
  EXPECT_EQ(outcome.exitCode, 73);
  EXPECT_NE(outcome.err.find("cannot create no/such/dir/out.csv"), std::string::npos);
}

TEST(ToolInfo, ListsThe32Functions) {
  Sandbox sandbox;
  Outcome outcome = sandbox.Run({"--functions"}, "");
  EXPECT_EQ(outcome.exitCode, 0);
  std::istringstream lines(outcome.out);
  std::vector<std::pair<std::string, int>> rows;
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name;
    int count = -1;
    fields >> name >> count;
    rows.emplace_back(name, count);
  }
  ASSERT_EQ(rows.size(), 32u);
  auto countOf = [&rows](const std::string& name) {
    for (const auto& row : rows) {
      if (row.first == name) return row.second;
    }
    return -1;
  };
  EXPECT_EQ(countOf("sin"), 1);
  EXPECT_EQ(countOf("atan2"), 2);
  EXPECT_EQ(countOf("if"), 3);
}

TEST(ToolInfo, HelpAndVersion) {
  Sandbox sandbox;
  Outcome help = sandbox.Run({"--help"}, "");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--on-error"), std::string::npos);
  Outcome version = sandbox.Run({"--version"}, "");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("kalo 1.", 0), 0u) << version.out;
}

// Many rows, quoted fields and CRLF: records and line ends fall across every refill of the
// reader's buffer, and one record is larger than the buffer's first size.
TEST(ToolStreaming, RecordsAcrossBufferRefillsComeThroughWhole) {
  Sandbox sandbox;
  std::string input = "Label,X\r\n";
  std::string expected = "Label,X,Y\r\n";
  for (int i = 0; i < 60000; ++i) {
    std::string label =
        i % 3 == 0 ? "\"l,\"\"" + std::to_string(i) + "\"\"\"" : "plain" + std::to_string(i);
    if (i == 30000) label = "\"" + std::string(3 << 20, 'w') + "\n\"";
    std::string x = std::to_string(i);
    input += label + "," + x + "\r\n";
    expected += label + "," + x + "," + std::to_string(2 * i) + "\r\n";
  }
  WriteFile(sandbox.dir / "in.csv", input);
  Outcome outcome = sandbox.Run({"--csv", "in.csv", "Y = 2*X"}, "");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_TRUE(outcome.out == expected)
      << "output differs; sizes " << outcome.out.size() << " and " << expected.size();
}

}  // namespace
