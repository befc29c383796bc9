// Drives the whole C interface from arbitrary bytes and checks what it promises, not only that
// it survives: the codes each export may return, the bounds of every text it writes, the host
// array it may touch, the floating-point state it leaves, and that no failure leaves it busy.
//
// Input: the variable list, a 0 byte, the equation, a 0 byte, then a script of operations,
// each an opcode byte followed by its operands (texts end at a 0 byte; a missing byte reads 0).
// Built with -fsanitize=fuzzer this is a libFuzzer target; otherwise KALO_FUZZ_REGRESSION gives
// it a main that runs every file of the seed corpus.
#include <cfenv>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>
#include "support/float_env.h"

#include "kalo.h"

#ifdef KALO_FUZZ_REGRESSION
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#endif

namespace {

constexpr size_t TEXT_SIZE = 512;
constexpr size_t BUFFER_SIZE = 1024;  // twice the promised size: the upper half must stay intact
constexpr unsigned char CANARY = 0xA5;
constexpr int SLOT_COUNT = 4;
constexpr int MAX_VARIABLES = 100;
constexpr int VALUE_COUNT = MAX_VARIABLES + 8;  // a few elements past any declared variable
constexpr int MAX_OPERATIONS = 96;
constexpr int CODE_UNTOUCHED = -777;

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

// --- Reading the input --------------------------------------------------------------------

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
    while (!Empty()) {
      const uint8_t byte = data_[position_++];
      if (byte == 0) break;
      text.push_back(static_cast<char>(byte));
    }
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

double FromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double ReadValue(Input& input) {
  static const double SPECIAL[] = {0.0,
                                   -0.0,
                                   1.0,
                                   -1.0,
                                   2.0,
                                   0.5,
                                   3.14159265358979,
                                   90.0,
                                   180.0,
                                   100.0,
                                   1e-310,
                                   -1e-310,
                                   std::numeric_limits<double>::denorm_min(),
                                   std::numeric_limits<double>::min(),
                                   std::numeric_limits<double>::max(),
                                   -std::numeric_limits<double>::max(),
                                   1e300,
                                   1e-300,
                                   1e154,
                                   1e-154,
                                   2147483648.0,
                                   -2147483649.0,
                                   1e19,
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(),
                                   -std::numeric_limits<double>::quiet_NaN()};
  constexpr uint8_t SPECIAL_COUNT = sizeof SPECIAL / sizeof SPECIAL[0];
  const uint8_t choice = input.Byte();
  if (choice < SPECIAL_COUNT) return SPECIAL[choice];
  if (choice < 128) return static_cast<double>(static_cast<int8_t>(choice * 7)) / 4.0;
  const uint64_t high = input.Word();
  return FromBits(high << 32 | input.Word());
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IsIdentifier(const std::string& name) {
  if (name.empty() || !(IsLetter(name[0]) || name[0] == '_')) return false;
  for (char c : name)
    if (!(IsLetter(c) || IsDigit(c) || c == '_')) return false;
  return true;
}

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  std::string current;
  for (char c : list) {
    if (IsSpace(c)) {
      if (!current.empty()) names.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) names.push_back(current);
  return names;
}

std::string Lowered(std::string text) {
  for (char& c : text) c = Lower(c);
  return text;
}

// --- Texts the library writes -------------------------------------------------------------

struct TextBuffer {
  char bytes[BUFFER_SIZE];
  TextBuffer() { std::memset(bytes, CANARY, sizeof bytes); }
  bool Untouched() const {
    for (unsigned char byte : bytes)
      if (byte != CANARY) return false;
    return true;
  }
  // The text is terminated within 512 bytes and nothing is written after its terminator.
  std::string Checked(const char* where) const {
    const void* end = std::memchr(bytes, '\0', TEXT_SIZE);
    REQUIRE(end != nullptr, "%s: text not terminated within 512 bytes", where);
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - bytes);
    for (size_t i = length + 1; i < BUFFER_SIZE; ++i)
      REQUIRE(static_cast<unsigned char>(bytes[i]) == CANARY,
              "%s: byte %zu written after the terminator at %zu", where, i, length);
    return std::string(bytes, length);
  }
};

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

const char* EvalErrorText(int code) {
  switch (code) {
    case 0: return "No errors";
    case 101: return "Unknown math error";
    case 102: return "Busy with another expression";
    case 103: return "Internal error";
    case 104: return "Internal error: bad address";
    case 201: return "Denormalized number";
    case 202: return "Divide by 0 error";
    case 203: return "Inexact result";
    case 204: return "Invalid operation";
    case 205: return "Overflow error";
    case 206: return "Underflow error";
    case 207: return "Stack overflow error";
    case 301: return "Argument domain error";
    case 302: return "Argument singularity error";
    case 303: return "Overflow range error";
    case 304: return "Underflow range error";
    case 305: return "Total loss of precision";
    case 306: return "Partial loss of precision";
    default: return "Unknown error";
  }
}

bool IsLibraryEvalCode(int code) {
  return code == 102 || code == 103 || code == 104 || (code >= 201 && code <= 207) ||
         (code >= 301 && code <= 306);
}

// --- Floating-point state of the calling thread ---------------------------------------------

#if defined(__x86_64__)
constexpr uint32_t SSE_CONTROL = 0xFFC0;  // masks, rounding, flush-to-zero (not the flags)
constexpr uint32_t SSE_DAZ = 0x40;        // denormals-are-zero, a control bit among the flags
constexpr uint32_t SSE_GUARDED = 0x0F00;  // denormal, divide by zero, overflow, underflow
constexpr uint16_t X87_CONTROL = 0x0F3F;  // masks, precision, rounding

struct FloatEnv {
  uint32_t sse;
  uint16_t x87;
};

FloatEnv ReadFloatEnv() {
  FloatEnv env;
  __asm__ __volatile__("stmxcsr %0" : "=m"(env.sse));
  __asm__ __volatile__("fnstcw %0" : "=m"(env.x87));
  return env;
}

void WriteFloatEnv(const FloatEnv& env) {
  __asm__ __volatile__("fnclex");
  __asm__ __volatile__("fldcw %0" : : "m"(env.x87));
  __asm__ __volatile__("ldmxcsr %0" : : "m"(env.sse));
}

// Only the four guarded SSE masks come back from the host's state; the rest is the reset unit's.
// The x87 control word is the host's: left alone, or restored after host code ran.
void CheckFloatEnvAfter(const FloatEnv& before, const FloatEnv& after, const char* where) {
  const uint32_t sseExpected = (0x1F80u & ~SSE_GUARDED) | (before.sse & SSE_GUARDED);
  const uint32_t sseSeen = after.sse & (SSE_CONTROL | SSE_DAZ);
  REQUIRE(sseSeen == sseExpected, "%s: MXCSR control %#x after, expected %#x (host had %#x)", where,
          sseSeen, sseExpected, before.sse);
  const uint16_t x87Expected = static_cast<uint16_t>(before.x87 & X87_CONTROL);
  const uint16_t x87Seen = static_cast<uint16_t>(after.x87 & X87_CONTROL);
  REQUIRE(x87Seen == x87Expected, "%s: x87 control %#x after, expected %#x (host had %#x)", where,
          x87Seen, x87Expected, before.x87);
}

// The state a host runs its evaluation in: any rounding, precision and flush mode, and some
// traps unmasked. Unmasking the denormal or invalid trap is opt-in (KALO_FUZZ_ALL_TRAPS=1).
FloatEnv ReadHostEnv(Input& input, bool allTraps) {
  const uint8_t shape = input.Byte();
  const uint8_t traps = input.Byte();
  const uint32_t trappable = allTraps ? 0x1Fu : 0x1Cu;  // bits: invalid, denormal, zero, ov, un
  const uint32_t unmasked = (shape & 0x80) ? (traps & trappable) : 0u;
  FloatEnv env;
  env.sse = 0x1F80u & ~(unmasked << 7);
  env.sse |= static_cast<uint32_t>(shape & 0x3) << 13;  // rounding
  if (shape & 0x4) env.sse |= 0x8000;                   // flush to zero
  if (shape & 0x8) env.sse |= SSE_DAZ;
  env.x87 = static_cast<uint16_t>(0x037F & ~unmasked);
  env.x87 = static_cast<uint16_t>((env.x87 & ~0x0F00) | ((shape >> 4 & 0x7) << 8));
  return env;
}
#else
struct FloatEnv {
  int excepts;
};
FloatEnv ReadFloatEnv() { return {fegetexcept()}; }
void WriteFloatEnv(const FloatEnv& env) {
  fesetenv(FE_DFL_ENV);
  feenableexcept(env.excepts);
}
void CheckFloatEnvAfter(const FloatEnv& before, const FloatEnv& after, const char* where) {
  const int guarded = FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
  REQUIRE(after.excepts == (before.excepts & guarded), "%s: traps %#x after, host had %#x", where,
          after.excepts, before.excepts);
  REQUIRE(fegetround() == FE_TONEAREST, "%s: rounding mode not reset", where);
}
FloatEnv ReadHostEnv(Input& input, bool /*allTraps*/) {
  const uint8_t shape = input.Byte();
  input.Byte();
  return {(shape & 0x80) ? (FE_DIVBYZERO & shape) : 0};
}
#endif

const FloatEnv DEFAULT_ENV = ReadFloatEnv();

// --- Host functions -------------------------------------------------------------------------

enum class Action : uint8_t {
  KEEP_FIRST,
  WRITE_SUM,
  WRITE_NAN,
  WRITE_INFINITY,
  WRITE_MINUS_INFINITY,
  WRITE_DENORMAL,
  WRITE_HUGE,
  FAIL_WITH_CODE,
  DIVIDE_BY_ZERO,
  OVERFLOW_,
  UNDERFLOW_,
  DENORMAL_OPERAND,
  INEXACT,
  INVALID,
  REENTER,
  COMPOSE_TEXT,
  CLEAR_REGISTRY,
  REGISTER_AGAIN,
  THROW,
  COUNT
};

constexpr int HOST_CODES[] = {7, -5, 101, 102, 301, 303, 306, 12345, INT_MAX, INT_MIN, 1, 0};

struct Behaviour {
  Action action;
  int code;    // returned by FAIL_WITH_CODE
  int target;  // slot evaluated or composed by REENTER and COMPOSE_TEXT
  int count;   // parameter count it was registered with
};

struct HostException {
  long userValue;
};

struct Slot {
  void* handle = nullptr;
  int variableCount = 0;
  int assigned = -1;  // index of the assigned variable, when the equation shows it
  bool random = false;
  unsigned generation = 0;  // registry generation at compilation
  KAL_ANGULAR_UNITS units = KAL_RADIANS;
};

// What host functions did during one evaluation.
struct Trace {
  int calls = 0;
  int lastResult = 0;
  int faultExpected = 0;  // the code a floating-point fault raised by the host must give
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

volatile double vZero = 0.0, vHuge = 1e300, vTiny = 1e-300, vDenormal = 1e-310, vSink;

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
  ++trace.calls;
  int returned = 0;
  switch (behaviour.action) {
    case Action::KEEP_FIRST: break;
    case Action::WRITE_SUM: {
      // The sum itself may raise flags (a denormal argument, an overflow), which end the run.
      double sum = 0.0;
      for (int i = 0; i < behaviour.count; ++i) sum += arguments[i];
      *result = sum;
      break;
    }
    case Action::WRITE_NAN: *result = std::numeric_limits<double>::quiet_NaN(); break;
    case Action::WRITE_INFINITY: *result = std::numeric_limits<double>::infinity(); break;
    case Action::WRITE_MINUS_INFINITY: *result = -std::numeric_limits<double>::infinity(); break;
    case Action::WRITE_DENORMAL: *result = 1e-310; break;
    case Action::WRITE_HUGE: *result = 1e308; break;
    case Action::FAIL_WITH_CODE: returned = behaviour.code; break;
    case Action::DIVIDE_BY_ZERO:
      vSink = 1.0 / vZero;
      trace.faultExpected = 202;
      break;
    case Action::OVERFLOW_:
      vSink = vHuge * vHuge;
      trace.faultExpected = 205;
      break;
    case Action::UNDERFLOW_:
      vSink = vTiny * vTiny;
      trace.faultExpected = 206;
      break;
    case Action::DENORMAL_OPERAND:
      vSink = vDenormal * 2.0;
      trace.faultExpected = 201;
      break;
    case Action::INEXACT: vSink = 1.0 / (vZero + 3.0); break;
    case Action::INVALID: vSink = vZero / vZero; break;
    case Action::REENTER: {
      void* other = state.slots[behaviour.target].handle;
      if (other == nullptr) break;
      double values[VALUE_COUNT] = {};
      REQUIRE(KaloEvalExpression(other, values) == 0, "a nested evaluation was admitted");
      REQUIRE(KaloGetEvalError(other, nullptr, nullptr) == 102, "a nested evaluation not 102");
      if (behaviour.target == state.evaluating) trace.reenteredSelf = true;
      break;
    }
    case Action::COMPOSE_TEXT: {
      void* other = state.slots[behaviour.target].handle;
      TextBuffer text;
      KaloGetEvalError(other, text.bytes, nullptr);
      if (other != nullptr) text.Checked("text composed inside a host function");
      break;
    }
    case Action::CLEAR_REGISTRY:
      REQUIRE(KaloRegisterFunction(nullptr, 0, nullptr, 0) == 1, "clearing refused");
      ++state.generation;
      break;
    case Action::REGISTER_AGAIN:
      RegisterHost("f1", behaviour.code & 7, {Action::WRITE_SUM, 0, 0, behaviour.code & 7});
      break;
    case Action::THROW: trace.threw = true; throw HostException{userValue};
    case Action::COUNT: break;
  }
  trace.lastResult = returned;
  return returned;
}

// Registers a host function and checks the verdict against the rules for names and counts.
int RegisterHost(const char* name, int count, Behaviour behaviour) {
  const long userValue = static_cast<long>(state.behaviours.size());
  behaviour.count = count;
  state.behaviours.push_back(behaviour);
  const int result = KaloRegisterFunction(name, count, &Host, userValue);
  const bool valid = name != nullptr && IsIdentifier(name) && count >= 0 && count <= 100;
  // Names beyond 31 characters may be accepted or refused.
  if (name == nullptr || std::strlen(name) <= 31)
    REQUIRE(result == (valid ? 1 : 0), "registering '%s' with %d parameters gave %d",
            name != nullptr ? name : "(null)", count, result);
  REQUIRE(result == 0 || result == 1, "registration returned %d", result);
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
    const std::vector<std::string> names = SplitNames(list);
    slot.variableCount = static_cast<int>(names.size());
    REQUIRE(slot.variableCount >= 1 && slot.variableCount <= MAX_VARIABLES,
            "compiled over %d variables", slot.variableCount);
    size_t at = 0;
    while (at < equation.size() && IsSpace(equation[at])) ++at;
    size_t end = at;
    while (end < equation.size() && end - at < 47 &&
           (IsLetter(equation[end]) || IsDigit(equation[end]) || equation[end] == '_'))
      ++end;
    const std::string target = equation.substr(at, end - at);
    for (size_t i = 0; i < names.size(); ++i)
      if (SameName(names[i], target)) slot.assigned = static_cast<int>(i);
    slot.random = Lowered(equation).find("rand") != std::string::npos;
    slot.generation = state.generation;
    REQUIRE(KaloSetAngularUnits(handle, KAL_RADIANS) == KAL_RADIANS, "new unit not radians");
    return;
  }
  if (!pointers) return;
  REQUIRE(code == 1 || code == 4, "compile failed with code %d", code);
  const std::string message = text.Checked("compile error");
  if (code == 1) {
    static const char* const LIST_TEXTS[] = {"Variable name must start with a letter or underscore",
                                             "Invalid character in variable name",
                                             "Duplicate variable name",
                                             "Too many variables",
                                             "Out of memory",
                                             "Internal error"};
    bool known = false;
    for (const char* prefix : LIST_TEXTS) known |= StartsWith(message, prefix);
    REQUIRE(known, "code 1 with text '%s'", message.c_str());
  } else if (reports == reportsBefore) {
    // Without an internal check the text is one of the compile texts and the marked equation.
    static const char* const COMPILE_TEXTS[] = {"Missing '='\r\n",
                                                "Missing '('\r\n",
                                                "Missing ')'\r\n",
                                                "Missing function argument\r\n",
                                                "Invalid number\r\n",
                                                "Variable or function not defined\r\n",
                                                "Expected variable or function name\r\n",
                                                "Expected more terms\r\n",
                                                "Equation too complex\r\n",
                                                "Syntax error\r\n"};
    bool known = false;
    for (const char* prefix : COMPILE_TEXTS) known |= StartsWith(message, prefix);
    REQUIRE(known, "code 4 with text '%s'", message.c_str());
  }
}

struct EvalOutcome {
  int result;
  int code;
  uint64_t assignedBits;
  std::string text;
};

EvalOutcome Evaluate(int index, const double* input, const FloatEnv& hostEnv) {
  Slot& slot = state.slots[index];
  double values[VALUE_COUNT];
  std::memcpy(values, input, sizeof values);
  state.trace = Trace{};
  state.evaluating = index;
  const unsigned generationBefore = state.generation;
  const long reportsBefore = reports;
  int result = -1;
  bool threw = false;
  WriteFloatEnv(hostEnv);
  const FloatEnv before = ReadFloatEnv();
  try {
    result = KaloEvalExpression(slot.handle, values);
  } catch (const HostException&) {
    threw = true;
  }
  const FloatEnv after = ReadFloatEnv();
  WriteFloatEnv(DEFAULT_ENV);
  state.evaluating = -1;
  CheckFloatEnvAfter(before, after, threw ? "evaluation left by an exception" : "evaluation");
  REQUIRE(threw == state.trace.threw, "a host exception was %s", threw ? "invented" : "lost");

  // Only the assigned element may change, and only on success.
  int changed = -1;
  for (int i = 0; i < VALUE_COUNT; ++i) {
    if (Bits(values[i]) == Bits(input[i])) continue;
    REQUIRE(changed < 0, "evaluation changed host elements %d and %d", changed, i);
    changed = i;
  }
  if (threw) {
    REQUIRE(changed < 0, "an evaluation left by an exception wrote element %d", changed);
    CheckProbe("a host exception");
    return {-1, 0, 0, ""};
  }
  REQUIRE(result == 0 || result == 1, "evaluation returned %d", result);
  const int code = KaloGetEvalError(slot.handle, nullptr, nullptr);
  TextBuffer text;
  REQUIRE(KaloGetEvalError(slot.handle, text.bytes, nullptr) == code, "codes differ");
  const std::string message = text.Checked("evaluation error");
  const bool registryStable =
      state.generation == generationBefore && slot.generation == generationBefore;
  if (result == 1) {
    REQUIRE(code == 0 && message == "No errors", "success with code %d, '%s'", code,
            message.c_str());
    REQUIRE(changed < slot.variableCount, "success wrote element %d", changed);
    REQUIRE(changed < 0 || changed == slot.assigned || slot.assigned < 0,
            "success wrote element %d, not the assigned %d", changed, slot.assigned);
    REQUIRE(state.trace.lastResult == 0, "success after a host returned %d",
            state.trace.lastResult);
    REQUIRE(!state.trace.reenteredSelf, "success after a nested evaluation of itself");
    REQUIRE(state.trace.faultExpected == 0, "success after a host raised a fault");
    REQUIRE(reports == reportsBefore || !registryStable, "a successful evaluation reported");
  } else {
    REQUIRE(changed < 0, "a failed evaluation wrote element %d", changed);
    REQUIRE(code != 0, "failure with code 0");
    if (state.trace.lastResult != 0) {
      REQUIRE(code == state.trace.lastResult, "host returned %d, evaluation gave %d",
              state.trace.lastResult, code);
    } else if (state.trace.faultExpected != 0) {
      REQUIRE(code == state.trace.faultExpected, "host fault expected %d, evaluation gave %d",
              state.trace.faultExpected, code);
    } else if (state.trace.reenteredSelf) {
      REQUIRE(code == 102, "nested evaluation of itself gave %d", code);
    } else {
      REQUIRE(IsLibraryEvalCode(code) && code != 102, "failure with code %d", code);
    }
    if (code == 103) REQUIRE(!registryStable, "internal error with an unchanged registry");
    REQUIRE(StartsWith(message, "MATH ERROR:  "), "error text '%s'", message.c_str());
    REQUIRE(EndsWith(message, std::string("\r\n") + EvalErrorText(code)), "text '%s' for %d",
            message.c_str(), code);
  }
  return {result, code, Bits(values[slot.assigned < 0 ? 0 : slot.assigned]), message};
}

// The columns export over three copies of a row that evaluates the same every time: each row
// gives the single evaluation's outcome, and the unit is left as after one evaluation.
void EvaluateColumnsLikeRows(int index, const double* input, const FloatEnv& hostEnv,
                             const EvalOutcome& single) {
  constexpr long ROWS = 3;
  Slot& slot = state.slots[index];
  static double data[VALUE_COUNT][ROWS];
  double* columns[VALUE_COUNT];
  for (int i = 0; i < VALUE_COUNT; ++i) {
    for (long row = 0; row < ROWS; ++row) data[i][row] = input[i];
    columns[i] = data[i];
  }
  state.trace = Trace{};
  state.evaluating = index;
  WriteFloatEnv(hostEnv);
  const FloatEnv before = ReadFloatEnv();
  const long evaluated = KaloEvalExpressionColumns(slot.handle, columns, ROWS);
  const FloatEnv after = ReadFloatEnv();
  WriteFloatEnv(DEFAULT_ENV);
  state.evaluating = -1;
  CheckFloatEnvAfter(before, after, "columns");
  REQUIRE(evaluated == (single.result == 1 ? ROWS : 0), "columns evaluated %ld rows, one gave %d",
          evaluated, single.result);
  TextBuffer text;
  REQUIRE(KaloGetEvalError(slot.handle, text.bytes, nullptr) == single.code, "columns code");
  REQUIRE(text.Checked("columns error") == single.text, "columns text differs");
  for (long row = 0; row < ROWS; ++row) {
    const uint64_t expected = single.result == 1 ? single.assignedBits : Bits(input[slot.assigned]);
    REQUIRE(Bits(data[slot.assigned][row]) == expected, "columns row %ld differs", row);
  }
}

void EvaluateOperation(Input& input) {
  const int index = input.Byte() % SLOT_COUNT;
  Slot& slot = state.slots[index];
  double values[VALUE_COUNT];
  const double canary = FromBits(0x7FF4DEADBEEF0000u);  // a signalling NaN nobody computes
  for (int i = 0; i < VALUE_COUNT; ++i) values[i] = canary;
  const uint8_t fill = input.Byte();
  for (int i = 0; i < slot.variableCount; ++i)
    values[i] = i < 8 || (fill & 1) ? ReadValue(input) : values[i % 8];
  const FloatEnv hostEnv = ReadHostEnv(input, state.allTraps);
  if (slot.handle == nullptr) {
    double copy[VALUE_COUNT];
    std::memcpy(copy, values, sizeof copy);
    REQUIRE(KaloEvalExpression(nullptr, copy) == 0, "null handle evaluated");
    return;
  }
  const EvalOutcome first = Evaluate(index, values, hostEnv);
  // Twice in a row with the same values gives the same outcome, unless something changed.
  const unsigned generation = state.generation;
  if (first.result < 0 || slot.random || (fill & 2) == 0 || generation != slot.generation) return;
  const EvalOutcome second = Evaluate(index, values, hostEnv);
  if (state.generation != generation) return;
  REQUIRE(first.result == second.result && first.code == second.code &&
              first.assignedBits == second.assignedBits && first.text == second.text,
          "repeated evaluation differs: %d/%d, %d/%d, '%s'/'%s'", first.result, second.result,
          first.code, second.code, first.text.c_str(), second.text.c_str());
  if (slot.assigned >= 0 && (fill & 4) != 0) EvaluateColumnsLikeRows(index, values, hostEnv, first);
}

void RegisterOperation(Input& input) {
  static const char* const NAMES[] = {"f0",
                                      "f1",
                                      "F1",
                                      "g",
                                      "sin",
                                      "sinh",
                                      "sinc",
                                      "X",
                                      "_h",
                                      "if",
                                      "and",
                                      "pow",
                                      "a_very_long_function_name_of_40_chars__"};
  constexpr uint8_t NAME_COUNT = sizeof NAMES / sizeof NAMES[0];
  const uint8_t nameChoice = input.Byte();
  std::string raw;
  const char* name = nullptr;
  if (nameChoice < 4 * NAME_COUNT) {
    name = NAMES[nameChoice % NAME_COUNT];
  } else if (nameChoice < 250) {
    raw = input.Text();
    name = raw.c_str();
  }
  const uint8_t countChoice = input.Byte();
  int count = countChoice % 12;
  if (countChoice >= 240)
    count = (countChoice & 1) ? -1 : 101;
  else if (countChoice >= 200)
    count = 90 + countChoice % 11;
  const uint8_t actionChoice = input.Byte();
  Behaviour behaviour{static_cast<Action>(actionChoice % static_cast<int>(Action::COUNT)),
                      HOST_CODES[input.Byte() % (sizeof HOST_CODES / sizeof HOST_CODES[0])],
                      input.Byte() % SLOT_COUNT, count};
  if (behaviour.action == Action::FAIL_WITH_CODE && behaviour.code == 0) behaviour.code = 7;
  if (actionChoice >= 250) {
    const int result = KaloRegisterFunction(name, count, nullptr, 0);
    REQUIRE(result == (name == nullptr ? 1 : 0), "null callback registration gave %d", result);
    if (result == 1) ++state.generation;
    return;
  }
  RegisterHost(name, count, behaviour);
}

struct EnumState {
  int calls;
  int stopAt;
  int nonzero;
};

// The walk's state, beside the user value: a long cannot hold a pointer on 64-bit Windows.
EnumState* currentEnum = nullptr;

int EnumCallback(char const* name, int count, char const* description, long userValue) {
  REQUIRE(userValue == 0x5A5A, "user value %ld not passed through", userValue);
  EnumState* enumState = currentEnum;
  REQUIRE(name != nullptr && description != nullptr, "null built-in name or description");
  REQUIRE(std::strlen(name) >= 2 && std::strlen(name) <= 5 && IsIdentifier(name),
          "built-in name '%s'", name);
  REQUIRE(count >= 1 && count <= 3, "built-in %s with %d parameters", name, count);
  REQUIRE(std::strlen(description) < TEXT_SIZE, "built-in description too long");
  return enumState->calls++ == enumState->stopAt ? 0 : enumState->nonzero;
}

void EnumOperation(Input& input) {
  REQUIRE(KaloEnumFunctions(nullptr, 0) == 32, "KaloEnumFunctions(null) is not 32");
  EnumState enumState{0, input.Byte() % 40, static_cast<int8_t>(input.Byte()) | 1};
  currentEnum = &enumState;
  const int result = KaloEnumFunctions(&EnumCallback, 0x5A5A);
  if (enumState.stopAt < 32)
    REQUIRE(result == 0 && enumState.calls == enumState.stopAt + 1, "enum stopped wrong");
  else
    REQUIRE(result == enumState.nonzero && enumState.calls == 32, "enum ran %d times -> %d",
            enumState.calls, result);
}

void InvalidHandleOperation(Input& input) {
  uint32_t fake[16] = {};
  fake[0] = input.Word();
  if (fake[0] == 0xEE55) fake[0] = 0;
  void* handles[] = {nullptr, fake};
  for (void* handle : handles) {
    double values[VALUE_COUNT] = {};
    TextBuffer text;
    REQUIRE(KaloEvalExpression(handle, values) == 0, "invalid handle evaluated");
    REQUIRE(KaloGetEvalError(handle, text.bytes, nullptr) == 0 && text.Untouched(),
            "invalid handle gave an error text");
    REQUIRE(KaloSetAngularUnits(handle, KAL_GRADS) == KAL_DEGREES, "invalid handle has a unit");
    KaloDestroyExpression(handle);
  }
}

void NullArgumentOperation(Input& input) {
  const int which = input.Byte() % 4;
  if (which < 3) {
    TextBuffer text;
    int code = CODE_UNTOUCHED;
    void* handle = KaloParseExpression(which == 1 ? nullptr : "Y = X", which == 2 ? nullptr : "X Y",
                                       &code, text.bytes);
    if (which == 0) {
      REQUIRE(handle != nullptr, "Y = X over X Y did not compile");
      KaloDestroyExpression(handle);
      return;
    }
    REQUIRE(handle == nullptr && code == 4 &&
                text.Checked("null argument") == "Blank equation or empty parameter list",
            "null argument not refused as blank");
    return;
  }
  // A null values array: code 104 and one report.
  const int index = input.Byte() % SLOT_COUNT;
  void* handle = state.slots[index].handle;
  if (handle == nullptr) return;
  const long before = reports;
  REQUIRE(KaloEvalExpression(handle, nullptr) == 0, "null values evaluated");
  REQUIRE(KaloGetEvalError(handle, nullptr, nullptr) == 104, "null values not 104");
  REQUIRE(reports == before + 1, "null values gave %ld reports", reports - before);
}

void CompileOperation(Input& input) {
  static const char* const PAIRS[][2] = {
      {"X Y Z", "Z = 2*sin(X) + Y/3"},
      {"A B C", "C = if(A > B, A - B, f1(A, B))"},
      {"X Y", "Y = f0(X) + g(X)"},
      {"X Y", "Y = sinh(X) * sinc(X)"},
      {"t v", "v = 1 - exp(-t) / (t = 0)"},
      {"x y", "y = x and not x or x xor 3"},
      {"X Y", "Y = randn(X, 1) + randu(X)"},
      {"a b c d", "d = atan2(a, b) + jn(c, a) + yn(2, b) + pow(a, b) + fmod(a, c)"}};
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
  const int index = input.Byte() % SLOT_COUNT;
  Slot& slot = state.slots[index];
  const uint8_t choice = input.Byte();
  const KAL_ANGULAR_UNITS units =
      choice < 200 ? static_cast<KAL_ANGULAR_UNITS>(choice % 3)
                   : static_cast<KAL_ANGULAR_UNITS>(static_cast<int>(input.Word()) & 0x7FFFFFFF);
  const KAL_ANGULAR_UNITS previous = KaloSetAngularUnits(slot.handle, units);
  if (slot.handle == nullptr) {
    REQUIRE(previous == KAL_DEGREES, "null handle has a unit");
    return;
  }
  REQUIRE(previous == slot.units, "unit %d came back as %d", slot.units, previous);
  slot.units = units;
}

void ErrorTextOperation(Input& input) {
  const int index = input.Byte() % SLOT_COUNT;
  void* handle = state.slots[index].handle;
  TextBuffer text;
  const int code = KaloGetEvalError(handle, text.bytes, nullptr);
  if (handle == nullptr) {
    REQUIRE(code == 0 && text.Untouched(), "null handle gave an error");
    return;
  }
  const std::string message = text.Checked("error text");
  REQUIRE(code == KaloGetEvalError(handle, nullptr, nullptr), "code changed by composing");
  if (code == 0)
    REQUIRE(message == "No errors", "code 0 with '%s'", message.c_str());
  else
    REQUIRE(StartsWith(message, "MATH ERROR:  ") &&
                EndsWith(message, std::string("\r\n") + EvalErrorText(code)),
            "code %d with '%s'", code, message.c_str());
}

bool AllTrapsRequested() {
  const char* value = std::getenv("KALO_FUZZ_ALL_TRAPS");
  return value != nullptr && value[0] == '1';
}

void Initialise() {
  KaloSetInternalErrorHandler(&CountReport, 0);
  int code = 0;
  char text[TEXT_SIZE];
  probe = KaloParseExpression("Y = X + 1", "X Y", &code, text);
  REQUIRE(probe != nullptr, "the probe does not compile: %d", code);
  state.allTraps = AllTrapsRequested();
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
    switch (input.Byte() % 11) {
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
      case 8: EnumOperation(input); break;
      case 9: Destroy(input.Byte() % SLOT_COUNT); break;
      default:
        if (input.Byte() & 1)
          InvalidHandleOperation(input);
        else
          NullArgumentOperation(input);
        break;
    }
    CheckProbe("an operation");
  }
  for (int i = 0; i < SLOT_COUNT; ++i) Destroy(i);
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
  return 0;
}

#ifdef KALO_FUZZ_REGRESSION
// Runs each file named, or each file of each directory named, once; the invariants abort.
int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.emplace_back(argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream stream(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(stream),
                                  std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs passed\n", files.size());
  return files.empty() ? 1 : 0;
}
#endif
