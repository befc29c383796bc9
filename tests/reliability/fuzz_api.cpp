// Drives the C interface from arbitrary bytes with misbehaving host functions and checks its
// promises: the codes each export may return, the bounds of every text, the host array it may
// touch, the floating-point state it leaves, columns agreeing with rows, never left busy.
// Input: the variable list, a 0 byte, the equation, a 0 byte, then operations, each an opcode
// byte and its operands (texts end at a 0 byte; a missing byte reads 0). With
// KALO_FUZZ_REGRESSION it gets a main that runs the seed corpus (make_corpus.py).
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kalo.h"

#ifdef KALO_FUZZ_REGRESSION
#include <filesystem>
#include <fstream>
#endif

namespace {

constexpr size_t TEXT_SIZE = 512;
constexpr size_t BUFFER_SIZE = 1024;  // twice the promised size: the upper half must stay intact
constexpr unsigned char CANARY = 0xA5;
constexpr int SLOT_COUNT = 4;
constexpr int VALUE_COUNT = 100 + 8;  // a few elements past the most variables a list may have
constexpr int MAX_OPERATIONS = 96;
constexpr int MAX_ROWS = 4;
constexpr int CODE_UNTOUCHED = -777;
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

[[noreturn]] void Fail(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::fputs("kalo fuzz invariant violated: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputc('\n', stderr);
  va_end(arguments);
  std::abort();
}

#define REQUIRE(condition, ...)          \
  do {                                   \
    if (!(condition)) Fail(__VA_ARGS__); \
  } while (0)

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return position_ >= size_; }
  uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
  uint32_t Word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return value;
  }
  std::string Text() {
    std::string text;
    for (uint8_t byte = Byte(); byte != 0; byte = Byte()) text.push_back(static_cast<char>(byte));
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

template <typename To, typename From>
To Cast(From from) {
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}
uint64_t Bits(double value) { return Cast<uint64_t>(value); }
double FromBits(uint64_t bits) { return Cast<double>(bits); }

// The same list as make_corpus.py's SPECIAL, by index; any other byte is a small or raw value.
double ReadValue(Input& input) {
  // clang-format off
  static const double SPECIAL[] = {
      0.0, -0.0, 1.0, -1.0, 2.0, 0.5, 3.14159265358979, 90.0, 180.0, 100.0, 1e-310, -1e-310,
      std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
      std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), 1e300, 1e-300,
      1e154, 1e-154, 2147483648.0, -2147483649.0, 1e19, INF, -INF, NaN, -NaN};
  // clang-format on
  constexpr uint8_t SPECIAL_COUNT = sizeof SPECIAL / sizeof SPECIAL[0];
  const uint8_t choice = input.Byte();
  if (choice < SPECIAL_COUNT) return SPECIAL[choice];
  if (choice < 128) return static_cast<double>(static_cast<int8_t>(choice * 7)) / 4.0;
  const uint64_t high = input.Word();
  return FromBits(high << 32 | input.Word());
}

// --- Texts the library writes -------------------------------------------------------------

struct TextBuffer {
  char bytes[BUFFER_SIZE];
  TextBuffer() { std::memset(bytes, CANARY, sizeof bytes); }
  bool Untouched() const {
    return std::all_of(bytes, bytes + BUFFER_SIZE, [](char c) { return c == char(CANARY); });
  }
  // The text is terminated within 512 bytes and nothing is written after its terminator.
  std::string Checked(const char* where) const {
    const void* end = std::memchr(bytes, '\0', TEXT_SIZE);
    REQUIRE(end != nullptr, "%s: text not terminated within 512 bytes", where);
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - bytes);
    for (size_t i = length + 1; i < BUFFER_SIZE; ++i)
      REQUIRE(bytes[i] == char(CANARY), "%s: byte %zu written after the terminator at %zu", where,
              i, length);
    return std::string(bytes, length);
  }
};

// An evaluation error text is "MATH ERROR:  <word>\r\n<the code's text>", and a code names the
// same text every time; which text that is, the unit tests say.
void CheckEvalText(int code, const std::string& message) {
  static std::map<int, std::string> names;
  if (code == 0) {
    REQUIRE(message == "No errors", "code 0 with '%s'", message.c_str());
    return;
  }
  const size_t lineBreak = message.rfind("\r\n");
  REQUIRE(message.compare(0, 13, "MATH ERROR:  ") == 0 && lineBreak != std::string::npos &&
              lineBreak + 2 < message.size(),
          "code %d with '%s'", code, message.c_str());
  const std::string name = message.substr(lineBreak + 2);
  const auto known = names.emplace(code, name).first;
  REQUIRE(known->second == name, "code %d named '%s' and '%s'", code, known->second.c_str(),
          name.c_str());
}

// --- Floating-point state of the calling thread ---------------------------------------------

// The fuzz target needs x86-64 (see CMakeLists.txt): it reads and sets both units directly.
constexpr uint32_t SSE_CONTROL = 0xFFC0;  // masks, rounding, flush-to-zero (not the flags)
constexpr uint32_t SSE_DAZ = 0x40;        // denormals-are-zero, a control bit among the flags
constexpr uint32_t SSE_GUARDED = 0x0F00;  // denormal, divide by zero, overflow, underflow
constexpr uint16_t X87_CONTROL = 0x0F3F;  // masks, precision, rounding
constexpr uint16_t FLAGS = 0x3F;  // the six flags, at the same place in MXCSR and the x87 status

struct FloatEnv {
  uint32_t sse;
  uint16_t x87;
  uint16_t x87Status;
};

FloatEnv ReadFloatEnv() {
  FloatEnv env;
  __asm__ __volatile__("stmxcsr %0" : "=m"(env.sse));
  __asm__ __volatile__("fnstcw %0" : "=m"(env.x87));
  __asm__ __volatile__("fnstsw %0" : "=am"(env.x87Status));
  return env;
}

void WriteFloatEnv(const FloatEnv& env) {
  __asm__ __volatile__("fnclex");
  __asm__ __volatile__("fldcw %0" : : "m"(env.x87));
  __asm__ __volatile__("ldmxcsr %0" : : "m"(env.sse));
}

// Only the four guarded SSE masks come back from the host's state; the rest is the reset unit's.
// The x87 control word is the host's: left alone, or restored after host code ran. No SSE flag is
// left set, the host's own included, and no x87 flag is raised.
void CheckFloatEnvAfter(const FloatEnv& before, const FloatEnv& after, const char* where) {
  const uint32_t sseExpected = (0x1F80u & ~SSE_GUARDED) | (before.sse & SSE_GUARDED);
  const uint32_t sseSeen = after.sse & (SSE_CONTROL | SSE_DAZ);
  REQUIRE(sseSeen == sseExpected, "%s: MXCSR control %#x after, expected %#x (host had %#x)", where,
          sseSeen, sseExpected, before.sse);
  const uint16_t x87Expected = static_cast<uint16_t>(before.x87 & X87_CONTROL);
  const uint16_t x87Seen = static_cast<uint16_t>(after.x87 & X87_CONTROL);
  REQUIRE(x87Seen == x87Expected, "%s: x87 control %#x after, expected %#x (host had %#x)", where,
          x87Seen, x87Expected, before.x87);
  // A run may clear x87 flags (around host code) but never raise one; code outside the library
  // (the fuzzing engine among it) may have left some before.
  const uint16_t x87Raised = static_cast<uint16_t>(after.x87Status & FLAGS & ~before.x87Status);
  REQUIRE((after.sse & FLAGS) == 0 && x87Raised == 0, "%s: flags %#x (SSE) %#x (x87) left set",
          where, after.sse & FLAGS, x87Raised);
}

// The state a host runs its evaluation in: any rounding, precision and flush mode, some traps
// unmasked, its SSE flags set. Unmasking the denormal or invalid trap is opt-in
// (KALO_FUZZ_ALL_TRAPS=1).
FloatEnv ReadHostEnv(Input& input, bool allTraps) {
  const uint8_t shape = input.Byte();
  const uint8_t traps = input.Byte();
  const uint32_t trappable = allTraps ? 0x1Fu : 0x1Cu;  // bits: invalid, denormal, zero, ov, un
  const uint32_t unmasked = (shape & 0x80) ? (traps & trappable) : 0u;
  FloatEnv env{0x1F80u & ~(unmasked << 7), static_cast<uint16_t>(0x037F & ~unmasked), 0};
  env.sse |= static_cast<uint32_t>(shape & 0x3) << 13;  // rounding
  if (shape & 0x4) env.sse |= 0x8000;                   // flush to zero
  if (shape & 0x8) env.sse |= SSE_DAZ;
  if (traps & 0x20) env.sse |= FLAGS;  // pending SSE flags never trap; the run must clear them
  env.x87 = static_cast<uint16_t>((env.x87 & ~0x0F00) | ((shape >> 4 & 0x7) << 8));
  return env;
}

const FloatEnv DEFAULT_ENV = {0x1F80, 0x037F, 0};

// --- Host functions -------------------------------------------------------------------------

// The order is make_corpus.py's ACTIONS.
// clang-format off
enum Action : uint8_t {
  KEEP_FIRST, WRITE_SUM, WRITE_NAN, WRITE_INFINITY, WRITE_MINUS_INFINITY, WRITE_DENORMAL,
  WRITE_HUGE, FAIL_WITH_CODE, DIVIDE_BY_ZERO, OVERFLOW_, UNDERFLOW_, DENORMAL_OPERAND, INEXACT,
  INVALID, REENTER, COMPOSE_TEXT, CLEAR_REGISTRY, REGISTER_AGAIN, THROW, ACTION_COUNT
};
const double WRITTEN[] = {NaN, INF, -INF, 1e-310, 1e308};  // WRITE_NAN to WRITE_HUGE
volatile double vZero = 0.0, vHuge = 1e300, vTiny = 1e-300, vDenormal = 1e-310, vSink;
// DIVIDE_BY_ZERO to INVALID: the fault raised inside the host, and the code it must end the run
// with (0: not an ending fault).
const struct { double (*raise)(); int code; } HOST_FAULTS[] = {
    {[] { return 1.0 / vZero; }, 202}, {[] { return vHuge * vHuge; }, 205},
    {[] { return vTiny * vTiny; }, 206}, {[] { return vDenormal * 2.0; }, 201},
    {[] { return 1.0 / (vZero + 3.0); }, 0}, {[] { return vZero / vZero; }, 0}};
constexpr int HOST_CODES[] = {7, -5, 101, 102, 301, 303, 306, 12345, INT_MAX, INT_MIN, 1, 0};
// clang-format on

struct Behaviour {
  Action action;
  int code;    // returned by FAIL_WITH_CODE
  int target;  // slot evaluated or composed by REENTER and COMPOSE_TEXT
  int count;   // parameter count it was registered with
};

struct HostException {};

struct Slot {
  void* handle = nullptr;
  int variableCount = 0;
  int assigned = -1;  // the element successes write, once one was seen to change
  bool random = false;
  unsigned generation = 0;  // registry generation at compilation
  KAL_ANGULAR_UNITS units = KAL_RADIANS;
};

// What host functions did during one evaluation.
struct Trace {
  int lastResult = 0;
  int faultExpected = 0;
  bool reenteredSelf = false;
  bool threw = false;
};

struct State {
  Slot slots[SLOT_COUNT];
  std::vector<Behaviour> behaviours;  // indexed by user value
  unsigned generation = 1;            // advances whenever the registry changes
  int evaluating = -1;                // slot being evaluated
  Trace trace;
  bool allTraps = false;
};

State state;
long reports = 0;
void* probe = nullptr;  // "Y = X + 1": tells whether the library accepts an evaluation

void CountReport(const char* text, long /*userValue*/) {
  REQUIRE(text != nullptr && std::strlen(text) < TEXT_SIZE, "internal-error report too long");
  ++reports;
}

int RegisterHost(const char* name, int count, Behaviour behaviour);

int Host(double* arguments, double* result, long userValue) {
  REQUIRE(arguments != nullptr && result != nullptr, "host called with a null pointer");
  REQUIRE(userValue >= 0 && static_cast<size_t>(userValue) < state.behaviours.size(),
          "host called with user value %ld", userValue);
  const Behaviour behaviour = state.behaviours[static_cast<size_t>(userValue)];
  Trace& trace = state.trace;
  const Action action = behaviour.action;
  trace.lastResult = action == FAIL_WITH_CODE ? behaviour.code : 0;
  if (action >= WRITE_NAN && action <= WRITE_HUGE) {
    *result = WRITTEN[action - WRITE_NAN];
  } else if (action >= DIVIDE_BY_ZERO && action <= INVALID) {
    vSink = HOST_FAULTS[action - DIVIDE_BY_ZERO].raise();
    trace.faultExpected = HOST_FAULTS[action - DIVIDE_BY_ZERO].code;
  } else if (action == WRITE_SUM) {
    // The sum itself may raise flags (a denormal argument, an overflow), which end the run.
    double sum = 0.0;
    for (int i = 0; i < behaviour.count; ++i) sum += arguments[i];
    *result = sum;
  } else if (action == REENTER || action == COMPOSE_TEXT) {
    void* other = state.slots[behaviour.target].handle;
    TextBuffer text;
    if (action == COMPOSE_TEXT) {
      KaloGetEvalError(other, text.bytes, nullptr);
      if (other != nullptr) text.Checked("text composed inside a host function");
    } else if (other != nullptr) {
      double values[VALUE_COUNT] = {};
      REQUIRE(KaloEvalExpression(other, values) == 0, "a nested evaluation was admitted");
      REQUIRE(KaloGetEvalError(other, nullptr, nullptr) == 102, "a nested evaluation not 102");
      trace.reenteredSelf |= behaviour.target == state.evaluating;
    }
  } else if (action == CLEAR_REGISTRY) {
    REQUIRE(KaloRegisterFunction(nullptr, 0, nullptr, 0) == 1, "clearing refused");
    ++state.generation;
  } else if (action == REGISTER_AGAIN) {
    RegisterHost("f1", behaviour.code & 7, {WRITE_SUM, 0, 0, behaviour.code & 7});
  } else if (action == THROW) {
    trace.threw = true;
    throw HostException{};
  }
  return trace.lastResult;
}

// Valid names get a verdict by their count; whatever else the fuzzer names gets 0 or 1.
int RegisterHost(const char* name, int count, Behaviour behaviour) {
  const long userValue = static_cast<long>(state.behaviours.size());
  behaviour.count = count;
  state.behaviours.push_back(behaviour);
  const int result = KaloRegisterFunction(name, count, &Host, userValue);
  REQUIRE(result == 0 || result == 1, "registration returned %d", result);
  if (name == nullptr) REQUIRE(result == 0, "registered without a name");
  if (result == 1) ++state.generation;
  return result;
}

// --- Operations ------------------------------------------------------------------------------

void CheckProbe(const char* after) {
  double values[2] = {2.0, 0.0};
  const FloatEnv before = ReadFloatEnv();
  const int result = KaloEvalExpression(probe, values);
  CheckFloatEnvAfter(before, ReadFloatEnv(), "probe");
  REQUIRE(result == 1 && values[1] == 3.0, "library left busy or wrong after %s: %d, %g", after,
          result, values[1]);
}

void Destroy(int index) {
  KaloDestroyExpression(state.slots[index].handle);
  state.slots[index] = Slot{};
}

void Compile(int index, const std::string& list, const std::string& equation, bool pointers) {
  Destroy(index);
  TextBuffer text;
  int code = CODE_UNTOUCHED;
  const long reportsBefore = reports;
  void* handle = KaloParseExpression(equation.c_str(), list.c_str(), pointers ? &code : nullptr,
                                     pointers ? text.bytes : nullptr);
  if (handle != nullptr) {
    REQUIRE(code == CODE_UNTOUCHED && text.Untouched(), "a successful compile wrote its outputs");
    Slot& slot = state.slots[index];
    slot.handle = handle;
    std::istringstream names(list);
    slot.variableCount = static_cast<int>(std::distance(std::istream_iterator<std::string>(names),
                                                        std::istream_iterator<std::string>()));
    REQUIRE(slot.variableCount >= 1 && slot.variableCount <= 100, "compiled over %d variables",
            slot.variableCount);
    std::string lowered = equation;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    slot.random = lowered.find("rand") != std::string::npos;
    slot.generation = state.generation;
    REQUIRE(KaloSetAngularUnits(handle, KAL_RADIANS) == KAL_RADIANS, "new unit not radians");
    return;
  }
  if (!pointers) return;
  REQUIRE(code == 1 || code == 4, "compile failed with code %d", code);
  const std::string message = text.Checked("compile error");
  REQUIRE(!message.empty(), "code %d without a text", code);
  // Without an internal check an equation's fault is named and its place quoted, marked.
  if (code == 4 && reports == reportsBefore && message != "Blank equation or empty parameter list")
    REQUIRE(message.find("\r\n") != std::string::npos && message.find(" ? ") != std::string::npos,
            "code %d with text '%s'", code, message.c_str());
}

// Runs `call` as the host would, in its floating-point state, and checks the state it leaves;
// false when a host exception ended it.
template <typename Call>
bool RunAsHost(int index, const FloatEnv& env, Call call) {
  state.trace = Trace{};
  state.evaluating = index;
  WriteFloatEnv(env);
  const FloatEnv before = ReadFloatEnv();
  bool threw = false;
  try {
    call();
  } catch (const HostException&) {
    threw = true;
  }
  const FloatEnv after = ReadFloatEnv();
  WriteFloatEnv(DEFAULT_ENV);
  state.evaluating = -1;
  CheckFloatEnvAfter(before, after, threw ? "a run left by an exception" : "a run");
  REQUIRE(threw == state.trace.threw, "a host exception was %s", threw ? "invented" : "lost");
  if (threw) CheckProbe("a host exception");
  return !threw;
}

struct EvalOutcome {
  int result;  // -1: left by a host exception
  int code;
  std::string text;
  std::vector<double> values;
};

// One evaluation of `values` under the host's state, with every promise about it checked.
EvalOutcome Evaluate(int index, const double* input, const FloatEnv& hostEnv) {
  Slot& slot = state.slots[index];
  std::vector<double> values(input, input + VALUE_COUNT);
  const unsigned generationBefore = state.generation;
  const long reportsBefore = reports;
  int result = -1;
  const bool threw =
      !RunAsHost(index, hostEnv, [&] { result = KaloEvalExpression(slot.handle, values.data()); });

  // Only the assigned element may change, and only on success.
  int changed = -1;
  for (int i = 0; i < VALUE_COUNT; ++i) {
    if (Bits(values[i]) == Bits(input[i])) continue;
    REQUIRE(changed < 0, "evaluation changed host elements %d and %d", changed, i);
    changed = i;
  }
  if (threw) {
    REQUIRE(changed < 0, "an evaluation left by an exception wrote element %d", changed);
    return {-1, 0, "", values};
  }
  REQUIRE(result == 0 || result == 1, "evaluation returned %d", result);
  const int code = KaloGetEvalError(slot.handle, nullptr, nullptr);
  TextBuffer text;
  REQUIRE(KaloGetEvalError(slot.handle, text.bytes, nullptr) == code, "codes differ");
  const std::string message = text.Checked("evaluation error");
  CheckEvalText(code, message);
  const Trace& trace = state.trace;
  const bool registryStable =
      state.generation == generationBefore && slot.generation == generationBefore;
  if (result == 1) {
    REQUIRE(code == 0, "success with code %d", code);
    REQUIRE(changed < slot.variableCount, "success wrote element %d", changed);
    if (changed >= 0 && slot.assigned < 0) slot.assigned = changed;
    REQUIRE(changed < 0 || changed == slot.assigned, "success wrote element %d, before %d", changed,
            slot.assigned);
    REQUIRE(trace.lastResult == 0 && !trace.reenteredSelf && trace.faultExpected == 0,
            "success after a host returned %d, re-entered or raised %d", trace.lastResult,
            trace.faultExpected);
    REQUIRE(reports == reportsBefore || !registryStable, "a successful evaluation reported");
  } else {
    REQUIRE(changed < 0, "a failed evaluation wrote element %d", changed);
    REQUIRE(code != 0, "failure with code 0");
    int expected = trace.lastResult != 0      ? trace.lastResult
                   : trace.faultExpected != 0 ? trace.faultExpected
                   : trace.reenteredSelf      ? 102
                                              : 0;
    if (expected != 0)
      REQUIRE(code == expected, "the host called for %d, evaluation gave %d", expected, code);
    else
      REQUIRE((code >= 103 && code <= 104) || (code >= 201 && code <= 207) ||
                  (code >= 301 && code <= 306),
              "failure with code %d", code);
    if (code == 103) REQUIRE(!registryStable, "internal error with an unchanged registry");
  }
  return {result, code, message, values};
}

// The same rows through the columns export give what row-by-row evaluation gave: the rows up to
// the first failure written, that failure's code and text, later rows and other columns intact.
void CheckColumns(int index, const std::vector<std::vector<double>>& rows, const FloatEnv& env) {
  Slot& slot = state.slots[index];
  const unsigned generation = state.generation;
  std::vector<EvalOutcome> expected;
  for (const std::vector<double>& row : rows) {
    expected.push_back(Evaluate(index, row.data(), env));
    if (expected.back().result != 1) break;
  }
  const bool comparable = expected.back().result >= 0 && !slot.random &&
                          generation == state.generation && generation == slot.generation;
  const long count = static_cast<long>(rows.size());
  std::vector<std::vector<double>> columns(static_cast<size_t>(slot.variableCount));
  std::vector<double*> pointers;
  for (int v = 0; v < slot.variableCount; ++v) {
    for (const std::vector<double>& row : rows) columns[v].push_back(row[v]);
    columns[v].push_back(FromBits(0x7FF4DEADBEEF0001u));  // one past the last row
    pointers.push_back(columns[v].data());
  }
  const std::vector<std::vector<double>> before = columns;
  long done = -1;
  if (!RunAsHost(index, env,
                 [&] { done = KaloEvalExpressionColumns(slot.handle, pointers.data(), count); }))
    return;
  REQUIRE(done <= count, "columns evaluated %ld of %ld rows", done, count);
  for (int v = 0; v < slot.variableCount; ++v) {
    for (long r = 0; r <= count; ++r) {
      if (Bits(columns[v][r]) == Bits(before[v][r])) continue;
      if (slot.assigned < 0) slot.assigned = v;
      REQUIRE(v == slot.assigned && r < done, "columns wrote column %d row %ld", v, r);
      if (comparable)
        REQUIRE(Bits(columns[v][r]) == Bits(expected[r].values[v]), "row %ld differs", r);
    }
  }
  if (!comparable) return;
  REQUIRE(done == static_cast<long>(expected.size()) - (expected.back().result == 1 ? 0 : 1),
          "columns stopped after %ld rows, rows gave %zu", done, expected.size());
  TextBuffer text;
  const int code = KaloGetEvalError(slot.handle, text.bytes, nullptr);
  const std::string message = text.Checked("columns error");
  const EvalOutcome& last = expected.back();
  REQUIRE(code == last.code && message == last.text, "columns gave %d '%s', rows %d '%s'", code,
          message.c_str(), last.code, last.text.c_str());
}

void EvaluateOperation(Input& input) {
  const int index = input.Byte() % SLOT_COUNT;
  Slot& slot = state.slots[index];
  std::vector<double> values(VALUE_COUNT, FromBits(0x7FF4DEADBEEF0000u));  // a signalling NaN
  const uint8_t fill = input.Byte();
  for (int i = 0; i < slot.variableCount; ++i)
    values[i] = i < 8 || (fill & 1) ? ReadValue(input) : values[i % 8];
  const FloatEnv hostEnv = ReadHostEnv(input, state.allTraps);
  if (slot.handle == nullptr) {
    REQUIRE(KaloEvalExpression(nullptr, values.data()) == 0, "null handle evaluated");
    return;
  }
  if (fill & 4) {
    // More rows: each later one changes one variable of the one before.
    std::vector<std::vector<double>> rows{values};
    for (int r = 1; r < 1 + (fill >> 3) % MAX_ROWS; ++r) {
      rows.push_back(rows.back());
      rows.back()[(r - 1) % slot.variableCount] = ReadValue(input);
    }
    CheckColumns(index, rows, hostEnv);
    return;
  }
  Evaluate(index, values.data(), hostEnv);
}

void RegisterOperation(Input& input) {
  // clang-format off
  static const char* const NAMES[] = {"f0", "f1", "F1", "g", "sin", "sinh", "sinc", "X", "_h", "if",
                                      "and", "pow", "a_very_long_name_of_31_chars___"};
  // clang-format on
  constexpr uint8_t NAME_COUNT = sizeof NAMES / sizeof NAMES[0];
  const uint8_t nameChoice = input.Byte();
  std::string raw;
  const char* name = nullptr;
  const bool listed = nameChoice < 4 * NAME_COUNT;
  if (listed) {
    name = NAMES[nameChoice % NAME_COUNT];
  } else if (nameChoice < 250) {
    raw = input.Text();
    name = raw.c_str();
  }
  const uint8_t countChoice = input.Byte();
  const int count = countChoice >= 240   ? ((countChoice & 1) ? -1 : 101)
                    : countChoice >= 200 ? 90 + countChoice % 11
                                         : countChoice % 12;
  const uint8_t actionChoice = input.Byte();
  Behaviour behaviour{static_cast<Action>(actionChoice % ACTION_COUNT),
                      HOST_CODES[input.Byte() % (sizeof HOST_CODES / sizeof HOST_CODES[0])],
                      input.Byte() % SLOT_COUNT, count};
  if (behaviour.action == FAIL_WITH_CODE && behaviour.code == 0) behaviour.code = 7;
  if (actionChoice >= 250) {
    const int result = KaloRegisterFunction(name, count, nullptr, 0);
    REQUIRE(result == (name == nullptr ? 1 : 0), "null callback registration gave %d", result);
    if (result == 1) ++state.generation;
    return;
  }
  const int result = RegisterHost(name, count, behaviour);
  if (listed)
    REQUIRE(result == (count >= 0 && count <= 100 ? 1 : 0), "registering %s with %d gave %d", name,
            count, result);
}

void CompileOperation(Input& input) {
  // clang-format off
  static const char* const PAIRS[][2] = {
      {"X Y Z", "Z = 2*sin(X) + Y/3"}, {"A B C", "C = if(A > B, A - B, f1(A, B))"},
      {"X Y", "Y = f0(X) + g(X)"}, {"X Y", "Y = sinh(X) * sinc(X)"},
      {"t v", "v = 1 - exp(-t) / (t = 0)"}, {"x y", "y = x and not x or x xor 3"},
      {"X Y", "Y = randn(X, 1) + randu(X)"},
      {"a b c d", "d = atan2(a, b) + jn(c, a) + yn(2, b) + pow(a, b) + fmod(a, c)"}};
  // clang-format on
  constexpr uint8_t PAIR_COUNT = sizeof PAIRS / sizeof PAIRS[0];
  const int index = input.Byte() % SLOT_COUNT;
  const uint8_t choice = input.Byte();
  if (choice < PAIR_COUNT) {
    Compile(index, PAIRS[choice][0], PAIRS[choice][1], true);
  } else {
    const std::string list = input.Text();
    const std::string equation = input.Text();
    Compile(index, list, equation, (choice & 1) != 0);
  }
}

void UnitsOperation(Input& input) {
  Slot& slot = state.slots[input.Byte() % SLOT_COUNT];
  const uint8_t choice = input.Byte();
  const KAL_ANGULAR_UNITS units =
      choice < 200 ? static_cast<KAL_ANGULAR_UNITS>(choice % 3)
                   : static_cast<KAL_ANGULAR_UNITS>(static_cast<int>(input.Word()) & 0x7FFFFFFF);
  const KAL_ANGULAR_UNITS previous = KaloSetAngularUnits(slot.handle, units);
  const KAL_ANGULAR_UNITS expected = slot.handle == nullptr ? KAL_DEGREES : slot.units;
  REQUIRE(previous == expected, "unit %d came back as %d", expected, previous);
  if (slot.handle != nullptr) slot.units = units;
}

void ErrorTextOperation(Input& input) {
  void* handle = state.slots[input.Byte() % SLOT_COUNT].handle;
  TextBuffer text;
  const int code = KaloGetEvalError(handle, text.bytes, nullptr);
  if (handle == nullptr) {
    REQUIRE(code == 0 && text.Untouched(), "null handle gave an error");
    return;
  }
  REQUIRE(code == KaloGetEvalError(handle, nullptr, nullptr), "code changed by composing");
  CheckEvalText(code, text.Checked("error text"));
}

void Initialise() {
  KaloSetInternalErrorHandler(&CountReport, 0);
  int code = 0;
  char text[TEXT_SIZE];
  probe = KaloParseExpression("Y = X + 1", "X Y", &code, text);
  REQUIRE(probe != nullptr, "the probe does not compile: %d", code);
  const char* allTraps = std::getenv("KALO_FUZZ_ALL_TRAPS");
  state.allTraps = allTraps != nullptr && allTraps[0] == '1';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialised = (Initialise(), true);
  (void)initialised;
  REQUIRE(KaloRegisterFunction(nullptr, 0, nullptr, 0) == 1, "clearing refused");
  state.behaviours.clear();
  ++state.generation;

  Input input(data, size);
  const std::string list = input.Text();
  const std::string equation = input.Text();
  Compile(0, list, equation, true);
  for (int step = 0; step < MAX_OPERATIONS && !input.Empty(); ++step) {
    switch (input.Byte() % 9) {
      case 0: CompileOperation(input); break;
      case 1:
      case 2: EvaluateOperation(input); break;
      case 3: ErrorTextOperation(input); break;
      case 4: UnitsOperation(input); break;
      case 5:
      case 6: RegisterOperation(input); break;
      case 7:
        REQUIRE(KaloRegisterFunction(nullptr, input.Byte(), nullptr, 0) == 1, "clear refused");
        ++state.generation;
        break;
      default: Destroy(input.Byte() % SLOT_COUNT); break;
    }
    CheckProbe("an operation");
  }
  for (int i = 0; i < SLOT_COUNT; ++i) Destroy(i);
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
  return 0;
}

#ifdef KALO_FUZZ_REGRESSION
// Runs every file of the directory named once, in name order; the invariants abort.
int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(argc > 1 ? argv[1] : "."))
    files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const std::filesystem::path& file : files) {
    std::ifstream stream(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs passed\n", files.size());
  return files.empty() ? 1 : 0;
}
#endif
