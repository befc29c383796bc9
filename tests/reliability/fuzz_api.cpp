// Drives the C interface from arbitrary bytes with misbehaving host functions, checking what holds
// for any input. Input: the variable list and the equation, each 0-ended, then operations as
// tools/dev/make_fuzz_corpus.py writes them (a missing byte reads 0).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "interface/handle.h"

namespace {

constexpr int SLOTS = 4, VALUE_COUNT = 108, MAX_OPERATIONS = 96;
constexpr char CANARY = char(0xA5);
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

#define REQUIRE(ok, ...)                                                       \
  ((ok) ? void()                                                               \
        : (std::fprintf(stderr, "kalo fuzz invariant violated: " __VA_ARGS__), \
           std::fputc('\n', stderr), std::abort()))

// clang-format off
template <typename To, typename From> To Cast(From from) { To to; std::memcpy(&to, &from, sizeof to); return to; }
struct FloatEnv { uint32_t sse; uint16_t x87, x87Status; };  // x87: control and status words
FloatEnv ReadFloatEnv() {
  FloatEnv env;
  __asm__ __volatile__("stmxcsr %0\n\tfnstcw %1\n\tfnstsw %2" : "=m"(env.sse), "=m"(env.x87), "=m"(env.x87Status));
  return env;
}
void WriteFloatEnv(const FloatEnv& env) { __asm__ __volatile__("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(env.x87), "m"(env.sse)); }
const double SPECIAL[] = {  // make_fuzz_corpus.py's SPECIAL, by index
    0.0, -0.0, 1.0, -1.0, 2.0, 0.5, 90.0, 1e-310, std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::min(), std::numeric_limits<double>::max(), 1e300, 1e-300, 1e154,
    2147483648.0, -2147483649.0, 1e19, INF, -INF, NaN, -NaN};
// clang-format on
const double SIGNALLING = Cast<double>(0x7FF4DEADBEEF0000u);  // where the library may not write
bool Same(double a, double b) { return Cast<uint64_t>(a) == Cast<uint64_t>(b); }

struct Input {
  const uint8_t* data;
  size_t size, position = 0;
  uint8_t Byte() { return position < size ? data[position++] : 0; }
  std::string Text() {
    std::string text;
    for (uint8_t byte = Byte(); byte != 0; byte = Byte()) text.push_back(static_cast<char>(byte));
    return text;
  }
  // A special value by index, a small one, or (from 128) the next eight bytes' bits.
  double Value() {
    const uint8_t choice = Byte();
    if (choice < std::size(SPECIAL)) return SPECIAL[choice];
    if (choice < 128) return static_cast<int8_t>(choice * 7) / 4.0;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | Byte();
    return Cast<double>(bits);
  }
};

// A text the library writes: ended within 512 bytes, nothing written after its end.
struct TextBuffer {
  char bytes[1024];
  TextBuffer() { std::memset(bytes, CANARY, sizeof bytes); }
  bool UntouchedFrom(const char* from) const {
    return std::all_of(from, bytes + sizeof bytes, [](char c) { return c == CANARY; });
  }
  std::string Checked() const {
    const char* end = static_cast<const char*>(std::memchr(bytes, '\0', 512));
    REQUIRE(end != nullptr && UntouchedFrom(end + 1), "text unterminated or overrun");
    return std::string(bytes, end);
  }
};

// "No errors" for 0, else "MATH ERROR:  <word>\r\n<the code's text>", the same text per code.
void CheckEvalText(int code, const std::string& text) {
  static std::map<int, std::string> names;
  const size_t lineBreak = text.rfind("\r\n");
  const std::string name = lineBreak == std::string::npos ? "" : text.substr(lineBreak + 2);
  REQUIRE(code == 0 ? text == "No errors"
                    : text.rfind("MATH ERROR:  ", 0) == 0 && !name.empty() &&
                          names.emplace(code, name).first->second == name,
          "code %d with '%s'", code, text.c_str());
}

// Any rounding, precision and flush mode, pending SSE flags, some traps unmasked (invalid and
// denormal only with KALO_FUZZ_ALL_TRAPS=1).
FloatEnv ReadHostEnv(Input& input, bool allTraps) {
  const uint8_t shape = input.Byte(), traps = input.Byte();
  const uint32_t unmasked = (shape & 0x80) ? (traps & (allTraps ? 0x1Fu : 0x1Cu)) : 0u;
  return {(0x1F80u & ~(unmasked << 7)) | (shape & 0x3u) << 13 | (shape & 0x4u ? 0x8000u : 0) |
              (shape & 0x8u ? 0x40u : 0) | (traps & 0x20u ? 0x3Fu : 0),
          static_cast<uint16_t>((0x007F & ~unmasked) | (shape >> 4 & 0x7) << 8), 0};
}

// make_fuzz_corpus.py's ACTIONS; each has an operand byte.
enum Action : uint8_t { KEEP, SUM, WRITE, FAIL, RAISE, REENTER, CLEAR, REGISTER, THROW, ACTIONS };
volatile double vZero = 0.0, vHuge = 1e300, vTiny = 1e-300, vDenormal = 1e-310, vSink;
volatile long double vLongZero = 0.0L, vLongSink;
// clang-format off
const struct { double (*raise)(); int code; } HOST_FAULTS[] = {  // RAISE: a fault, its code
    {[] { return 1.0 / vZero; }, 202}, {[] { return vHuge * vHuge; }, 205},
    {[] { return vTiny * vTiny; }, 206}, {[] { return vDenormal * 2.0; }, 201},
    {[] { return 1.0 / (vZero + 3.0); }, 0}, {[] { return vZero / vZero; }, 0},
    {[] { return double(vLongSink = 1.0L / (vLongZero + 3.0L)); }, 0},  // x87 flags, which
    {[] { return double(vLongSink = 1.0L / vLongZero); }, 202}};        // the library clears
const int HOST_CODES[] = {7, -5, 1, 101, 102, 301, 303, 306, 0x7FFFFFFF, -0x7FFFFFFF - 1};  // FAIL
struct Behaviour { Action action; uint8_t operand; int count; };
struct HostException {};
// random: draws differ run to run; generation: the registry's at compilation.
struct Slot { void* handle = nullptr; int variableCount = 0, assigned = -1; bool random = false; unsigned generation = 0; };
// clang-format on

struct State {
  Slot slots[SLOTS];
  std::vector<Behaviour> behaviours;  // by user value
  unsigned generation = 1;            // advances whenever the registry changes
  long reports = 0;
  void* probe = nullptr;  // "Y = X + 1": whether the library admits an evaluation
  bool allTraps = false;
  int evaluating = -1, returned = 0, raised = 0;  // what host functions did in this run
  bool reenteredSelf = false, threw = false;
  int Called() const { return returned ? returned : raised ? raised : reenteredSelf ? 102 : 0; }
} state;

// A report must name the module, or it cannot be traced to a file.
void CountReport(const char* text, long) {
  REQUIRE(std::strlen(text) < 512 && std::strncmp(text, "Internal error\r\nModule: ", 24) == 0 &&
              text[24] != ',' && text[24] != '\0',
          "internal-error report '%s'", text);
  ++state.reports;
}

int RegisterHost(const char* name, int count, Behaviour behaviour);

int Host(double* arguments, double* result, long userValue) {
  const Behaviour b = state.behaviours.at(size_t(userValue));
  void* target = state.slots[b.operand % SLOTS].handle;
  const auto& fault = HOST_FAULTS[b.operand % std::size(HOST_FAULTS)];
  state.returned = b.action == FAIL ? HOST_CODES[b.operand % std::size(HOST_CODES)] : 0;
  double values[VALUE_COUNT] = {};
  switch (b.action) {
    case SUM: *result = std::accumulate(arguments, arguments + b.count, 0.0); break;
    case WRITE: *result = SPECIAL[b.operand % std::size(SPECIAL)]; break;
    case RAISE: vSink = fault.raise(), state.raised = fault.code; break;
    case REENTER:
      REQUIRE(target == nullptr || (KaloEvalExpression(target, values) == 0 &&
                                    KaloGetEvalError(target, nullptr, nullptr) == 102),
              "a nested evaluation was admitted");
      state.reenteredSelf |= target != nullptr && b.operand % SLOTS == state.evaluating;
      break;
    case CLEAR: RegisterHost(nullptr, 0, b); break;
    case REGISTER: RegisterHost("f1", b.operand & 7, {SUM, 0, 0}); break;
    case THROW: state.threw = true; throw HostException{};
    default: break;
  }
  return state.returned;
}

// A null name clears the registry.
int RegisterHost(const char* name, int count, Behaviour behaviour) {
  behaviour.count = count;
  state.behaviours.push_back(behaviour);
  const int result =
      name == nullptr ? KaloRegisterFunction(nullptr, 0, nullptr, 0)
                      : KaloRegisterFunction(name, count, &Host, long(state.behaviours.size()) - 1);
  REQUIRE(result == 1 || (result == 0 && name != nullptr), "registration gave %d", result);
  state.generation += static_cast<unsigned>(result);
  return result;
}

// Runs `call` in the host's floating-point state. Of the host's SSE control only the masks of
// denormal, division by zero, overflow and underflow come back; the x87 control word is the
// host's. No SSE flag is left set, the host's included, and no x87 flag raised. After any run,
// host exceptions included, the library admits an evaluation.
template <typename Call>
void RunAsHost(int index, const FloatEnv& env, Call call) {
  state.evaluating = index;
  state.returned = state.raised = 0;
  state.reenteredSelf = state.threw = false;
  WriteFloatEnv(env);
  const FloatEnv before = ReadFloatEnv();
  bool threw = false;
  try {
    call();
  } catch (const HostException&) {
    threw = true;
  }
  const FloatEnv after = ReadFloatEnv();
  WriteFloatEnv({0x1F80, 0x037F, 0});
  state.evaluating = -1;
  REQUIRE((after.sse & 0xFFC0u) == ((0x1F80u & ~0x0F00u) | (before.sse & 0x0F00u)) &&
              (after.x87 & 0x0F3F) == (before.x87 & 0x0F3F) && (after.sse & 0x3F) == 0 &&
              (after.x87Status & 0x3F & ~before.x87Status) == 0,
          "MXCSR %#x, x87 %#x %#x from %#x", after.sse, after.x87, after.x87Status, before.sse);
  REQUIRE(threw == state.threw, "a host exception was %s", threw ? "invented" : "lost");
  double values[2] = {2.0, 0.0};
  REQUIRE(KaloEvalExpression(state.probe, values) == 1 && values[1] == 3.0, "left busy or wrong");
}

void Destroy(int index) { KaloDestroyExpression(std::exchange(state.slots[index], Slot{}).handle); }

// Without an internal check an equation's fault is named and its place quoted, marked.
void Compile(int index, const std::string& list, const std::string& equation) {
  Destroy(index);
  TextBuffer text;
  int code = -777;
  const long reportsBefore = state.reports;
  void* handle = KaloParseExpression(equation.c_str(), list.c_str(), &code, text.bytes);
  if (handle != nullptr) {
    std::string lowered = equation;
    for (char& c : lowered) c = static_cast<char>(c | 0x20);
    const kalo::Program& program = kalo::ExpressionFromHandle(handle)->program;
    const int count = program.variableCount;
    state.slots[index] = {handle, count, program.assignedVariable,
                          lowered.find("rand") != std::string::npos, state.generation};
    REQUIRE(code == -777 && text.UntouchedFrom(text.bytes) && count >= 1 && count <= 100 &&
                KaloSetAngularUnits(handle, KAL_RADIANS) == KAL_RADIANS,
            "%d variables", count);
    return;
  }
  const std::string message = text.Checked();
  const bool marked = message.find("\r\n") != message.npos && message.find(" ? ") != message.npos;
  REQUIRE((code == 1 || code == 4) && !message.empty() &&
              (code == 1 || marked || state.reports != reportsBefore ||
               message == "Blank equation or empty parameter list"),
          "code %d with text '%s'", code, message.c_str());
}

// One evaluation of `input` in `form` (COLUMNS: the columns export on `rows` copies of the row,
// which must come out alike), every promise checked; where a run repeats exactly, the other
// forms must give the same outcome, as bytes.
constexpr int COLUMNS = 3;
std::string Evaluate(int index, const double* input, const FloatEnv& env, int form, int rows) {
  Slot& slot = state.slots[index];
  std::vector<double> values(input, input + VALUE_COUNT), cells;  // cells: `rows` per variable
  std::vector<double*> columns;
  for (int i = 0; i < VALUE_COUNT; ++i) cells.insert(cells.end(), size_t(rows), input[i]);
  for (int i = 0; i < VALUE_COUNT; ++i) columns.push_back(&cells[size_t(i * rows)]);
  const unsigned generation = state.generation;
  const long reportsBefore = state.reports;
  int result = -1;  // -1: left by a host exception
  RunAsHost(index, env, [&] {
    result = form == COLUMNS ? int(KaloEvalExpressionColumns(slot.handle, columns.data(), rows))
                             : KaloEvalExpression(slot.handle, values.data());
  });
  for (int i = 0; i < VALUE_COUNT && form == COLUMNS; ++i) {
    values[size_t(i)] = *columns[size_t(i)];
    for (int row = 1; row < rows; ++row)
      REQUIRE(Same(columns[size_t(i)][row], values[size_t(i)]) || state.threw ||
                  state.generation != generation,
              "row %d of %d differs", row, rows);
  }
  if (form == COLUMNS) result = result == rows ? 1 : 0;
  if (state.threw) result = -1;
  for (int i = 0; i < VALUE_COUNT; ++i)  // only the assigned variable's, on success
    REQUIRE(Same(values[size_t(i)], input[i]) || (result == 1 && i == slot.assigned),
            "element %d written", i);
  std::string outcome(reinterpret_cast<const char*>(values.data()), sizeof(double) * VALUE_COUNT);
  if (result < 0) return outcome;
  TextBuffer text;
  const int code = KaloGetEvalError(slot.handle, text.bytes, nullptr), called = state.Called();
  outcome += std::to_string(code) + text.Checked();
  CheckEvalText(code, text.Checked());
  const bool stable = state.generation == generation && slot.generation == generation;
  REQUIRE(KaloGetEvalError(slot.handle, nullptr, nullptr) == code && result == (code == 0) &&
              (called == 0 || code == called) &&
              (called != 0 || code == 0 || code == 103 || code == 104 ||
               (code >= 201 && code <= 207) || (code >= 301 && code <= 306)),
          "returned %d with code %d, host called for %d", result, code, called);
  // A failed internal check reports and ends the run; only a changed registry can fail one.
  REQUIRE((state.reports == reportsBefore || code == 103) && (!stable || code != 103),
          "code %d after %ld reports, stable %d", code, state.reports - reportsBefore, stable);
  if (form != int(kalo::Form::MACHINE_CODE) || !stable || slot.random) return outcome;
  kalo::Evaluator& evaluator = kalo::ExpressionFromHandle(slot.handle)->evaluator;
  for (int other : {int(kalo::Form::REGISTER_FORM), int(kalo::Form::INTERPRETER), COLUMNS}) {
    evaluator.fastest = other == COLUMNS ? kalo::Form::MACHINE_CODE : kalo::Form(other);
    const std::string again = Evaluate(index, input, env, other, rows);
    evaluator.fastest = kalo::Form::MACHINE_CODE;
    REQUIRE(again == outcome || state.generation != generation, "form %d differs after code %d",
            other, code);
  }
  return outcome;
}

// Values for the slot's variables (fill & 1: each from the input, else the first eight
// repeated; fill / 2 % 9: the rows of the columns export, less one), then the host's state.
void EvaluateOperation(Input& input) {
  const int index = input.Byte() % SLOTS;
  const int count = state.slots[index].variableCount;
  std::vector<double> values(VALUE_COUNT, SIGNALLING);
  const uint8_t fill = input.Byte();
  for (int i = 0; i < count; ++i) values[i] = i < 8 || (fill & 1) ? input.Value() : values[i % 8];
  const FloatEnv env = ReadHostEnv(input, state.allTraps);
  if (count > 0)
    Evaluate(index, values.data(), env, int(kalo::Form::MACHINE_CODE), 1 + fill / 2 % 9);
  REQUIRE(count > 0 || KaloEvalExpression(nullptr, values.data()) == 0, "null handle evaluated");
}

// Listed names get a verdict by their count; whatever else the fuzzer names gets 0 or 1.
void RegisterOperation(Input& input) {
  static const char* const NAMES[] = {"f0", "f1", "F1", "g", "sin", "X", "if", "_h"};
  const uint8_t choice = input.Byte();
  const std::string name = choice < std::size(NAMES) ? NAMES[choice] : input.Text();
  const uint8_t countChoice = input.Byte();
  const int count = countChoice >= 240 ? -1 : countChoice % 12 + (countChoice >= 200 ? 90 : 0);
  const Behaviour behaviour{static_cast<Action>(input.Byte() % ACTIONS), input.Byte(), count};
  const int result = RegisterHost(name.c_str(), count, behaviour);
  REQUIRE(choice >= std::size(NAMES) || result == (count >= 0 && count <= 100),
          "registering %s with %d gave %d", name.c_str(), count, result);
}

void CompileOperation(Input& input) {
  const int index = input.Byte() % SLOTS;
  const std::string list = input.Text();
  Compile(index, list, input.Text());
}

void ClearOperation(Input&) { RegisterHost(nullptr, 0, {KEEP, 0, 0}); }
void DestroyOperation(Input& input) { Destroy(input.Byte() % SLOTS); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (state.probe == nullptr) {
    KaloSetInternalErrorHandler(&CountReport, 0);
    state.probe = KaloParseExpression("Y = X + 1", "X Y", nullptr, nullptr);
    state.allTraps =
        std::getenv("KALO_FUZZ_ALL_TRAPS") && std::getenv("KALO_FUZZ_ALL_TRAPS")[0] == '1';
  }
  Input input{data, size};
  ClearOperation(input);
  state.behaviours.clear();
  const std::string list = input.Text();
  Compile(0, list, input.Text());
  static void (*const OPERATIONS[])(Input&) = {
      // make_fuzz_corpus.py's OPERATIONS
      CompileOperation, EvaluateOperation, RegisterOperation, ClearOperation, DestroyOperation};
  for (int step = 0; step < MAX_OPERATIONS && input.position < size; ++step)
    OPERATIONS[input.Byte() % std::size(OPERATIONS)](input);
  for (int i = 0; i < SLOTS; ++i) Destroy(i);
  return 0;
}

#ifdef KALO_FUZZ_REGRESSION
int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream stream(argv[i], std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%d inputs passed\n", argc - 1);
  return argc > 1 ? 0 : 1;
}
#endif
