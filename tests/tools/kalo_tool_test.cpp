// Runs the kalo command as a user would, through /bin/sh with files, pipes and exit codes, and
// compares what it prints.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
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
    // Named after the test and the process, so that parallel runs (CTest's, or another build's
    // of the same tests) never meet.
    static int serial = 0;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "_" + test->name();
    for (char& c : name) c = c == '/' ? '_' : c;
    dir = fs::path(::testing::TempDir()) /
          ("kalo_tool_" + name + "_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
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
  {"NoDigitsBeyondTheDouble", {"Y = X", "X=2.7890840981819507e20"}, "", 0, "Y = 278908409818195070000\n", ""},
  {"ExponentFromTwentyOne", {"Y = X", "X=3.0168212434893705e21"}, "", 0, "Y = 3.0168212434893705e21\n", ""},
  {"NegativeExponent", {"Y = -X", "X=1.5e-300"}, "", 0, "Y = -1.5e-300\n", ""},
  {"DigitsRound", {"--digits", "6", "Z = 2*sin(X) + Y/3", "X=0.5", "Y=6"}, "", 0, "Z = 2.95885\n", ""},
  {"DigitsDropZeros", {"--digits=3", "Y = X/4", "X=100"}, "", 0, "Y = 25\n", ""},
  {"DigitsInExponent", {"--digits", "2", "Y = X", "X=-1.25e-9"}, "", 0, "Y = -1.3e-9\n", ""},
  {"DigitsOutOfRange", {"--digits", "18", "Y = 1"}, "", 64, "", "--digits takes a whole number from 1 to 17"},
  {"BareExpression", {"1+2"}, "", 0, "3\n", ""},
  {"LaterEquationsSeeEarlier", {"A = X*2", "B = A+1", "A*B", "A = A*B", "A+1", "X=3"}, "", 0, "A = 6\nB = 7\n42\nA = 42\n43\n", ""},
  {"PiAndE", {"Y = pi*E"}, "", 0, "Y = 8.539734222673566\n", ""},
  {"PiGivenAValue", {"Y = pi", "pi=3"}, "", 0, "Y = 3\n", ""},
  {"HostFunctions", {"Y = abs(-2) + log(e) + log2(8) + round(2.5) + trunc(-1.7) + sign(-3) + hypot(3,4) + cbrt(27)"},
   "", 0, "Y = 15\n", ""},
  {"HostFunctionNaN", {"Y = log(X)", "X=-1"}, "", 2, "", "Overflow error"},
  {"DeclaredWithoutValue", {"--vars", "X Y", "Y = X*2"}, "", 64, "", "X has no value"},
  {"ReadBeforeAssigned", {"Y = X*2", "X = 3"}, "", 64, "", "X has no value"},
  {"PlainSmall", {"Y = X/8", "X=1e-6"}, "", 0, "Y = 0.000000125\n", ""},
  {"ExponentTiny", {"Y = X/10", "X=1e-7"}, "", 0, "Y = 1e-8\n", ""},
  {"ExponentHuge", {"Y = X*10", "X=1e20"}, "", 0, "Y = 1e21\n", ""},
  {"PlusSignAndBlanks", {"Y = X", "X= +2.5 "}, "", 0, "Y = 2.5\n", ""},
  {"ExplicitVariables", {"--vars", "A X Z", "Z = X*A", "X=3", "A=4"}, "", 0, "Z = 12\n", ""},
  {"AssignedAmongValues", {"X = X*2", "X=4"}, "", 0, "X = 8\n", ""},
  {"CompileError", {"Y = 2 + * 3"}, "", 1, "", "kalo: Expected variable or function name\nY = 2 + * ?  3\n"},
  {"UndefinedName", {"Y = Q + 1"}, "", 1, "", "Variable or function not defined\nY = Q + ?  1\n'Q' is neither a variable nor a function\n"},
  {"MathError", {"Y = 1/X", "X=0"}, "", 2, "", "kalo: MATH ERROR:  Divide(1,0)\nDivide by 0 error\n"},
  {"NotAmongVars", {"--vars", "X Z", "Z = X", "Y=1"}, "", 64, "", "Y is not among --vars"},
  {"ValueNotNumber", {"Y = X", "X=1.2.3"}, "", 64, "", "'1.2.3' in 'X=1.2.3' is not a number"},
  {"ValueOutOfRange", {"Y = X", "X=1e400"}, "", 64, "", "'1e400' in 'X=1e400' is out of range"},
  {"GivenTwice", {"Y = X", "X=1", "x=2"}, "", 64, "", "x is given twice"},
  {"UnknownOption", {"--bogus"}, "", 64, "", "kalo: unknown option '--bogus'" + std::string(USAGE)},
  {"MissingValue", {"--csv"}, "", 64, "", "--csv needs a value"},
  {"NoEquationOnPipe", {}, "X = 1\n", 64, "", "missing the equation"},
  {"OutputWithoutTable", {"-o", "x.csv", "Y = 1"}, "", 64, "", "-o writes tables"},
  {"BadOnError", {"--on-error", "ignore", "--csv", "in.csv", "Y = 1"}, "", 64, "", "stop, skip or empty"},
  {"TableAndSweep", {"--csv", "in.csv", "--sweep", "X=0:1:1", "Y = X"}, "", 64, "", "together"},
  {"PlotWithoutSweep", {"--plot", "-", "Y = 1"}, "", 64, "", "--plot draws a sweep"},
  {"PlotThreeSwept", {"--plot", "-", "--sweep", "A=0:1:1", "--sweep", "B=0:1:1", "--sweep", "C=0:1:1", "Y = A"}, "", 64, "", "--plot draws one or two swept variables"},
  {"LongDelimiter", {"-d", ";;", "--csv", "in.csv", "Y = 1"}, "", 64, "", "--delimiter takes one character"},
};

const Case TABLE_CASES[] = {
  {"SeveralEquations", {"--csv", "in.csv", "P = Volts*Amps", "E = P*2"}, "Volts,Amps\n2,3\n", 0, "Volts,Amps,P,E\n2,3,6,12\n", ""},
  // A row that fails in the second equation must not make the first apply twice to later rows.
  {"ResumesWithoutRepeating", {"--csv", "in.csv", "--on-error", "skip", "X = X*10", "Y = X/Z"},
   "X,Z\n1,1\n2,0\n3,1\n", 0, "X,Z,Y\n10,1,10\n30,1,30\n", "line 3: MATH ERROR"},
  {"MappedNames", {"--csv", "in.csv", "Y = Temp_C + a_b + _2019 + T__C"}, "Temp C,a-b,2019,T \u00b0C\n1,2,3,4\n", 0, "Temp C,a-b,2019,T \u00b0C,Y\n1,2,3,4,10\n", ""},
  {"ResultReplacesMappedColumn", {"--csv", "in.csv", "Temp_C = 5"}, "Temp C,T\n1,2\n", 0, "Temp C,T\n5,2\n", ""},
  {"MappedCollision", {"--csv", "in.csv", "Y = Temp_C"}, "Temp C,Temp-C\n1,2\n", 65, "", "column 1 (Temp C) and column 2 (Temp-C) both read as Temp_C"},
  {"Tabs", {"--tsv", "--csv", "in.csv", "C = A+B"}, "A\tB\n1\t2\n", 0, "A\tB\tC\n1\t2\t3\n", ""},
  {"Semicolons", {"-d", ";", "--csv", "in.csv", "--on-error", "empty", "C = B/A"}, "A;B\n0;2\n", 0, "A;B;C\n0;2;\n", "result left empty"},
  {"NoHeader", {"--no-header", "--csv", "in.csv", "c3 = c1+c2"}, "1,2\n3,4\n", 0, "1,2,3\n3,4,7\n", ""},
  {"ColumnNamedE", {"--csv", "in.csv", "Y = e*2"}, "e\n5\n", 0, "e,Y\n5,10\n", ""},
  {"DigitsInTable", {"--digits", "3", "--csv", "in.csv", "Y = X/3"}, "X\n1\n", 0, "X,Y\n1,0.333\n", ""},
  {"CellOutOfRange", {"--csv", "in.csv", "Y = X"}, "X\n1e999\n", 65, "X,Y\n", "line 2, column 1 (X): '1e999' is out of range"},
  {"Folder", {"--csv", ".", "Y = X"}, "", 66, "", "cannot open .: it is a folder"},
  {"ReplacesInPlace", {"--csv", "in.csv", "y = A+1"}, "A,Y,B\n1,old,\"q,x\"\n2,,z\n", 0, "A,Y,B\n1,2,\"q,x\"\n2,3,z\n", ""},
  {"NamesIgnoreCase", {"--csv", "in.csv", "P = Volts*amps"}, "volts,AMPS\n2,3\n", 0, "volts,AMPS,P\n2,3,6\n", ""},
  {"CrLf", {"--csv", "in.csv", "C = A+B"}, "A,B\r\n1,2\r\n3,4", 0, "A,B,C\r\n1,2,3\r\n3,4,7\r\n", ""},
  {"QuotedFields", {"--csv", "in.csv", "Y = X*2"},
   "Name,X\n\"two\nlines\",\"2\"\n\"say \"\"hi\"\", x\",3\n", 0,
   "Name,X,Y\n\"two\nlines\",\"2\",4\n\"say \"\"hi\"\", x\",3,6\n", ""},
  {"UnusedTextColumn", {"--csv", "in.csv", "Y = X"}, "Label,X,Note\nfoo,1,n/a\n", 0, "Label,X,Note,Y\nfoo,1,n/a,1\n", ""},
  {"StandardInput", {"--csv", "-", "Y = X+1"}, "X\n1\n2\n", 0, "X,Y\n1,2\n2,3\n", ""},
  {"ByteOrderMark", {"--csv", "in.csv", "Y = X+1"}, "\xEF\xBB\xBFX\n1\n", 0, "\xEF\xBB\xBFX,Y\n1,2\n", ""},
  {"BlankLinePassesThrough", {"--csv", "in.csv", "Y = X"}, "X\n1\n\n2\n", 0, "X,Y\n1,1\n\n2,2\n", ""},
  {"Constants", {"--csv", "in.csv", "Y = X*k", "k=0.5"}, "X\n3\n", 0, "X,Y\n3,1.5\n", ""},
  {"ConstantNamesColumn", {"--csv", "in.csv", "Y = X", "x=1"}, "X\n3\n", 64, "", "names a column"},
  {"NotANumber", {"--csv", "in.csv", "Z = X+Y"}, "X,Y\n1,2\nabc,3\n", 65, "X,Y,Z\n1,2,3\n", "kalo: line 3, column 1 (X): 'abc' is not a number\n"},
  {"EmptyCell", {"--csv", "in.csv", "Z = X+Y"}, "X,Y\n1, \n", 65, "X,Y,Z\n", "kalo: line 2, column 2 (Y): empty cell\n"},
  {"RowTooShort", {"--csv", "in.csv", "Z = X"}, "X,Y\n1,2\n1\n", 65, "X,Y,Z\n1,2,1\n", "line 3, column 2 (Y): missing; the header has 2 columns, this row 1"},
  {"RowTooLong", {"--csv", "in.csv", "Z = X"}, "X,Y\n1,2,3\n", 65, "X,Y,Z\n", "line 2, column 3: one field too many; the header has 2 columns"},
  {"LineCountsQuotedBreaks", {"--csv", "in.csv", "Y = X"}, "T,X\n\"a\nb\",1\nc,x\n", 65, "T,X,Y\n\"a\nb\",1,1\n", "line 4, column 2 (X): 'x' is not a number"},
  {"QuoteNeverEnds", {"--csv", "in.csv", "Y = X"}, "X\n\"1\n2\n", 65, "X,Y\n", "line 2, column 1 (X): the quoted field never ends"},
  {"TextAfterQuote", {"--csv", "in.csv", "Z = Y"}, "X,Y\n\"1\"a,2\n", 65, "X,Y,Z\n", "line 2, column 1 (X): text after the closing quote"},
  {"EmptyInput", {"--csv", "in.csv", "Y = X"}, "", 65, "", "line 1: missing header row"},
  {"NumbersInHeader", {"--csv", "in.csv", "Y = X"}, "1,2\n3,4\n", 65, "", "line 1: missing header row; found the number 1"},
  {"SameNameTwice", {"--csv", "in.csv", "Y = X"}, "X,x\n1,2\n", 65, "", "column 1 (X) and column 2 (x) both read as x; the equation cannot tell them apart"},
  {"UnknownColumn", {"--csv", "in.csv", "P = Volts*Amsp"}, "Volts,Amps\n1,2\n", 1, "", "Variable or function not defined\nP = Volts*Amsp ? \n'Amsp' is neither a variable nor a function\n" "kalo: the table's columns are: Volts, Amps\n"},
  {"MathErrorStops", {"--csv", "in.csv", "Y = 1/X"}, "X\n1\n0\n2\n", 2, "X,Y\n1,1\n", "kalo: line 3: MATH ERROR:  Divide(1,0)\nDivide by 0 error\n"},
  {"MathErrorSkipped", {"--csv", "in.csv", "--on-error", "skip", "Y = 1/X"}, "X\n1\n0\n2\n", 0, "X,Y\n1,1\n2,0.5\n", "kalo: 1 row could not be evaluated: left out"},
  {"MathErrorLeftEmpty", {"--csv", "in.csv", "--on-error=empty", "Y = 1/X"}, "X\n1\n0\n2\n", 0, "X,Y\n1,1\n0,\n2,0.5\n", "result left empty"},
  {"BadCellLeftEmpty", {"--csv", "in.csv", "--on-error", "empty", "Y = X"}, "X,T\nabc,t\n", 0, "X,T,Y\nabc,t,\n", "'abc' is not a number"},
  {"RaggedRowLeftEmpty", {"--csv", "in.csv", "--on-error", "empty", "C = A+B"}, "A,B\n1,2\n3\n", 0, "A,B,C\n1,2,3\n3,,\n", "missing"},
  {"MissingInput", {"--csv", "absent.csv", "Y = X"}, "", 66, "", "cannot open absent.csv"},
  {"OutputOverInput", {"--csv", "in.csv", "-o", "./in.csv", "Y = X"}, "X\n1\n", 64, "", "would overwrite the input"},
};

const Case SWEEP_CASES[] = {
  {"EndsWhereWritten", {"--sweep", "X=0:0.9:3e-1", "Y = X"}, "", 0, "X,Y\n0,0\n0.3,0.3\n0.6,0.6\n0.9,0.9\n", ""},
  {"StopsBeforeTo", {"--sweep", "X=0:0.2999999999:1e-1", "Y = X"}, "", 0, "X,Y\n0,0\n0.1,0.1\n0.2,0.2\n", ""},
  {"FineStep", {"--sweep", "X=0.99999998:1:1e-8", "Y = X"}, "", 0, "X,Y\n0.99999998,0.99999998\n0.99999999,0.99999999\n1,1\n", ""},
  {"HugeDecimals", {"--sweep", "X=1e300:3e300:1e300", "Y = X"}, "", 0, "X,Y\n1e300,1e300\n2e300,2e300\n3e300,3e300\n", ""},
  {"SeveralEquations", {"--sweep", "X=1:2:1", "Y = X*2", "Z = Y+X"}, "", 0, "X,Y,Z\n1,2,3\n2,4,6\n", ""},
  {"TabsNoHeader", {"--tsv", "--no-header", "--sweep", "X=1:2:1", "Y = X"}, "", 0, "1\t1\n2\t2\n", ""},
  {"DecimalPoints", {"--sweep", "X=0:0.3:0.1", "Y = X"}, "", 0, "X,Y\n0,0\n0.1,0.1\n0.2,0.2\n0.3,0.3\n", ""},
  {"Descending", {"--sweep", "X=1:0:-0.5", "Y = X"}, "", 0, "X,Y\n1,1\n0.5,0.5\n0,0\n", ""},
  {"Grid", {"--sweep", "A=1:2:1", "--sweep", "B=0:1:1", "C = A*10+B"}, "", 0, "A,B,C\n1,0,10\n1,1,11\n2,0,20\n2,1,21\n", ""},
  {"Bessel", {"--sweep", "X=0:0:1", "Y = j0(X)"}, "", 0, "X,Y\n0,1\n", ""},
  {"WithConstant", {"--sweep", "X=1:2:1", "Y = X*k", "k=3"}, "", 0, "X,Y\n1,3\n2,6\n", ""},
  {"MathErrorStops", {"--sweep", "X=-1:1:1", "Y = 1/X"}, "", 2, "X,Y\n-1,-1\n", "kalo: X=0: MATH ERROR:  Divide(1,0)"},
  {"MathErrorLeftEmpty", {"--sweep", "X=-1:1:1", "--on-error", "empty", "Y = 1/X"}, "", 0, "X,Y\n-1,-1\n0,\n1,1\n", "result left empty"},
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
  {"DefinesAndUses", {"-i"}, "X = 2\nY = X*3\nY+1\nX <= 3\n", 0, "X = 2\nY = 6\nans = 7\nans = -1\n", ""},
  {"BadLinesKeepState", {"--interactive"}, "X = 2\nX = X + * 1\nX = X/0\nX = X+1\n", 0, "X = 2\nX = 3\n", "Expected variable or function name\nX = X + * ?  1\nMATH ERROR:  Divide(2,0)\nDivide by 0 error\n"},
  {"UnknownNameNotDefined", {"-i"}, "Y = Q\nQ = 1\nY = Q\n", 0, "Q = 1\nY = 1\n", "Variable or function not defined"},
  {"NamesIgnoreCase", {"-i"}, "abc = 1\nABC = abc + 1\n", 0, "abc = 1\nabc = 2\n", ""},
  {"CommentsBlanksCrLf", {"-i"}, "# note\n\n  \nX = 1\r\n", 0, "X = 1\n", ""},
  {"Degrees", {"-i", "--degrees"}, "Y = sin(90)\n", 0, "Y = 1\n", ""},
  {"NoEquationAllowed", {"-i", "Y = 1"}, "", 64, "", "--interactive takes no equation"},
  {"QuitEnds", {"-i"}, "X = 2\n Quit \nX = 3\n", 0, "X = 2\n", ""},
  {"ExitEnds", {"-i"}, "exit\nX = 3\n", 0, "", ""},
  {"PiAndEUntilDefined", {"-i"}, "X = 2*pi\ne = 3\ne*X/pi\n", 0, "X = 6.283185307179586\ne = 3\nans = 6\n", ""},
  {"HundredNamesThenNoRoom", {"-i"}, Definitions(100) + "v101 = 1\nv100 = 0\n", 0, Definitions(100) + "v100 = 0\n", "no room for the new name v101: all 100 names are in use"},
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
  {"HeaderBlanksAndQuotes", {"--csv", "in.csv", "Y = A+B"}, " A ,\"B\"\n1,2\n", 0, " A ,\"B\",Y\n1,2,3\n", ""},
  {"AssignedColumnAlsoRead", {"--csv", "in.csv", "X = X*2"}, "X,T\n4,t\n", 0, "X,T\n8,t\n", ""},
  {"UnusableHeaderPassesThrough", {"--csv", "in.csv", "Y = X"}, "Time (s),X\n1,2\n", 0, "Time (s),X,Y\n1,2,2\n", ""},
  {"LongestName", {"--csv", "in.csv", "Y = " + LONG_NAME}, LONG_NAME + "\n5\n", 0, LONG_NAME + ",Y\n5,5\n", ""},
  {"HundredColumns", {"--csv", "in.csv", SumOfColumns(99)}, ManyColumns(99), 0, ManyColumns(99, ",S", ",4851"), ""},
  {"EquationTooLong", {"Y = X" + std::string(300, ' ') + "+1", "X=1"}, "", 1, "", "The equation has 307 characters; at most 303 are read"},
  {"TooManyVariables", {"--csv", "in.csv", SumOfColumns(99), "k=1", "m=2"}, ManyColumns(99), 1, "", "Too many variables"},
  {"DegreesInTable", {"--degrees", "--csv", "in.csv", "Y = sin(X)"}, "X\n90\n", 0, "X,Y\n90,1\n", ""},
  {"LastUnitWins", {"--radians", "--degrees", "Y = sin(X)", "X=90"}, "", 0, "Y = 1\n", ""},
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

// A run that goes on over bad rows names the first ten and counts the rest; failing rows on
// both sides of a block boundary (rows are evaluated 4096 at a time) lose no good row.
TEST(ToolTable, SkippedRowsAreCountedNotAllShown) {
  Sandbox sandbox;
  std::string input = "X\n";
  std::string expected = "X,Y\n";
  for (int i = 1; i <= 5000; ++i) {
    bool bad = i % 200 == 0 || i == 4096 || i == 4097;
    input += (bad ? "0" : std::to_string(i)) + "\n";
    if (!bad) expected += std::to_string(i) + "," + std::to_string(i * 2) + "\n";
  }
  WriteFile(sandbox.dir / "in.csv", input);
  Outcome outcome = sandbox.Run({"--csv", "in.csv", "--on-error", "skip", "Y = X*2 + 0/X"}, "");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_TRUE(outcome.out == expected) << "sizes " << outcome.out.size() << ", " << expected.size();
  size_t shown = 0;
  for (size_t at = 0; (at = outcome.err.find("MATH ERROR", at)) != std::string::npos; ++at) ++shown;
  EXPECT_EQ(shown, 10u);
  EXPECT_NE(outcome.err.find("kalo: line 201: MATH ERROR"), std::string::npos);
  EXPECT_NE(outcome.err.find("\u2026 and 17 more rows\nkalo: 27 rows could not be evaluated"),
            std::string::npos)
      << outcome.err;
}

// Output that cannot be written is an I/O error in every mode.
TEST(ToolOutput, FullDeviceExits74) {
  for (const char* args :
       {"--help", "--version", "--functions", "'Y = 1'", "--sweep X=0:1:1 'Y = X'"}) {
    Sandbox sandbox;
    Outcome outcome =
        sandbox.RunShell("(" + Quoted(KALO_TOOL_PATH) + " " + args + " >/dev/full)", "");
    EXPECT_EQ(outcome.exitCode, 74) << args;
    EXPECT_NE(outcome.err.find("cannot write the output"), std::string::npos) << args;
  }
}

// A run that fails, at any stage, leaves an existing output file as it was and no temporary
// file beside it.
TEST(ToolOutput, FailedRunLeavesTargetAlone) {
  const std::vector<std::vector<std::string>> runs = {
      {"--csv", "in.csv", "-o", "out.csv", "Y = 1/X"},
      {"--csv", "in.csv", "-o", "out.csv", "Y = X*"},
      {"--sweep", "X=-1:1:1", "-o", "out.csv", "Y = 1/X"},
  };
  for (const std::vector<std::string>& args : runs) {
    Sandbox sandbox;
    WriteFile(sandbox.dir / "in.csv", "X\n2\n0\n4\n");
    WriteFile(sandbox.dir / "out.csv", "keep\n");
    Outcome outcome = sandbox.Run(args, "");
    EXPECT_NE(outcome.exitCode, 0) << args.back();
    EXPECT_EQ(ReadFile(sandbox.dir / "out.csv"), "keep\n") << args.back();
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.dir), fs::directory_iterator()), 6)
        << "a temporary file is left over after " << args.back();
  }
}

// -o writes the table to its file, or fails with 73 where the file cannot be made.
TEST(ToolOutput, WritesFileGivenWithO) {
  for (const char* path : {"out.csv", "no/such/dir/out.csv"}) {
    Sandbox sandbox;
    WriteFile(sandbox.dir / "in.csv", "X\n2\n");
    Outcome outcome = sandbox.Run({"--csv", "in.csv", "-o", path, "Y = X*X"}, "");
    EXPECT_EQ(outcome.out, "");
    if (std::string(path) == "out.csv") {
      EXPECT_EQ(outcome.exitCode, 0);
      EXPECT_EQ(ReadFile(sandbox.dir / path), "X,Y\n2,4\n");
    } else {
      EXPECT_EQ(outcome.exitCode, 73);
      EXPECT_NE(outcome.err.find(std::string("cannot create ") + path), std::string::npos);
    }
  }
}

// The built-ins come first, the command's own functions apart after them, none under both.
TEST(ToolInfo, ListsBuiltinsThenTheCommandsFunctions) {
  Sandbox sandbox;
  Outcome outcome = sandbox.Run({"--functions"}, "");
  EXPECT_EQ(outcome.exitCode, 0);
  std::istringstream lines(outcome.out);
  std::map<std::string, int> sections[2];
  std::string line;
  std::getline(lines, line);  // the heading
  int section = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name;
    int count = -1;
    if (line.empty() || line.back() == ':')
      section = 1;
    else if (fields >> name >> count)
      sections[section][name] = count;
  }
  EXPECT_EQ(sections[0].size(), 32u);
  const std::map<std::string, int> expected = {
      {"sin", 1}, {"atan2", 2}, {"if", 3}, {"hypot", 2}, {"cbrt", 1}};
  for (const auto& [name, count] : expected)
    EXPECT_EQ(sections[0].count(name) ? sections[0][name] : sections[1][name], count) << name;
  for (const auto& row : sections[1]) EXPECT_EQ(sections[0].count(row.first), 0u) << row.first;
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
