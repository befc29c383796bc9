#include "evaluator/register_form.h"

#include <cmath>
#include <cstring>

#include "evaluator/evaluator.h"
#include "evaluator/math.h"
#include "evaluator/random.h"
#include "platform/platform.h"

namespace kalo {
namespace {

uint16_t TemporaryAt(int position) { return static_cast<uint16_t>(POOL_REGISTERS + position); }

void SetBits(double* target, uint64_t bits) { std::memcpy(target, &bits, sizeof bits); }

}  // namespace

void InitializeRegisters(double* registers) {
  registers[ZERO_REGISTER] = 0.0;
  SetBits(&registers[SIGN_MASK_REGISTER], 0x8000000000000000ull);
  SetBits(&registers[MAGNITUDE_MASK_REGISTER], math::MAGNITUDE_MASK);
  registers[MINUS_ONE_REGISTER] = math::TRUE_VALUE;
  registers[ONE_REGISTER] = 1.0;
  registers[DEGREES_TO_RADIANS_REGISTER] = math::PI / 180;
  registers[RADIANS_TO_DEGREES_REGISTER] = 180 / math::PI;
  SetBits(&registers[NORMAL_BASE_REGISTER], math::PLAIN_BASE);
  SetBits(&registers[NORMAL_WIDTH_REGISTER], math::PLAIN_WIDTH);
  // (doubled - PLAIN_BASE) < PLAIN_WIDTH unsigned is, with the top bit flipped on both sides,
  // doubled + (2^63 - PLAIN_BASE) < PLAIN_WIDTH - 2^63 signed; the limit is one less, for ">".
  constexpr uint64_t TOP = 0x8000000000000000ull;
  for (int lane = 0; lane < 4; ++lane) {
    registers[LANE_ZERO_REGISTERS + lane] = 0.0;
    SetBits(&registers[LANE_PLAIN_SHIFT_REGISTERS + lane], TOP - math::PLAIN_BASE);
    SetBits(&registers[LANE_PLAIN_LIMIT_REGISTERS + lane], (math::PLAIN_WIDTH ^ TOP) - 1);
  }
}

namespace {

// Follows the stack the code would build, register by register, instead of value by value.
// What the fast forms need to know of the whole program before its operations.
void ScanProgram(const Program& program, RegisterForm& fast) {
  fast.callsLibrary = false;
  fast.callsHost = false;
  bool reads[MAX_VARIABLES] = {};
  for (int i = 0; i < program.codeCount; ++i) {
    const CodeWord word = program.code[i];
    fast.callsHost |= IsUserCall(word);
    fast.callsLibrary |= IsOperation(word) && ComputationOf(word) == BY_LIBRARY;
    if (IsOperand(word) && OperandSlot(word) < program.variableCount)
      reads[OperandSlot(word)] = true;
  }
  fast.readCount = 0;
  for (int i = 0; i < program.variableCount; ++i)
    if (reads[i]) fast.readVariables[fast.readCount++] = static_cast<int16_t>(i);
  fast.assigned = program.assignedVariable;
  fast.literalsNormalOrZero = true;
  for (int slot = program.variableCount; slot < program.poolCount; ++slot)
    fast.literalsNormalOrZero &= math::IsNormalOrZeroBits(program.pool[slot]);
}

bool IsConstant(const Program& program, int index) {
  return (index >= program.variableCount && index < program.poolCount) ||
         (index >= FOLDED_REGISTERS && index < FOLDED_REGISTERS + FOLDED_COUNT);
}

// A constant from 2^-900 to 2^900 in magnitude. Its sum with a value that is plain or zero is
// plain or zero too: far below a half unit in the last place of the largest double, so no
// overflow; and either the two are within a factor of two of each other, whose difference is
// exact, zero or a multiple of a unit far above the smallest normal, or the sum is at least half
// the constant.
bool IsModerateConstant(const Program& program, const Evaluator& evaluator, int index) {
  if (!IsConstant(program, index)) return false;
  const double magnitude = std::fabs(evaluator.registers[index]);
  return magnitude >= 0x1p-900 && magnitude <= 0x1p900;
}

// Computes an operation on constants ahead, into a folded register, when that raises no fault;
// false leaves it to run. Never random draws, nor a routine that may use the x87 unit (it would
// run in the host's state), nor the last operation, whose operands the record shows.
bool Fold(const Program& program, Evaluator& evaluator, const uint16_t* operands, CodeWord word,
          int* folded, uint16_t* target) {
  const int count = OperandCount(word);
  if (*folded == FOLDED_COUNT || ComputationOf(word) == BY_RANDOM_DRAWS ||
      (platform::LIBRARY_USES_X87 && ComputationOf(word) == BY_LIBRARY))
    return false;
  // The operands are normal or zero, as MayHaveFaulted needs: a literal that is not keeps the fast
  // forms from running at all, and a folded value passed the test.
  double values[3] = {0.0, 0.0, 0.0};
  for (int k = 0; k < count; ++k) {
    if (!IsConstant(program, operands[k])) return false;
    values[k] = evaluator.registers[operands[k]];
  }
  bool rangeFailed = false;
  const double value =
      math::Apply(word, values[0], values[1], values[2], evaluator.angularUnits, &rangeFailed);
  if (math::MayHaveFaulted(word, values[0], values[1], value, rangeFailed)) return false;
  *target = static_cast<uint16_t>(FOLDED_REGISTERS + (*folded)++);
  evaluator.registers[*target] = value;
  return true;
}

// Follows the stack the code would build, register by register, instead of value by value.
void BuildRegisterForm(const Program& program, Evaluator& evaluator) {
  RegisterForm& fast = evaluator.fast;
  fast.usable = false;
  fast.count = 0;
  ScanProgram(program, fast);
  // Folding runs in the state every evaluation runs in, whatever the host has set.
  const platform::DefaultSseScope defaultState;
  uint16_t stack[STACK_SIZE];
  int depth = 0, folded = 0;
  for (int i = 0; i < program.codeCount; ++i) {
    const CodeWord word = program.code[i];
    if (IsOperand(word)) {
      if (depth == STACK_SIZE) return;
      stack[depth++] = static_cast<uint16_t>(OperandSlot(word));
      continue;
    }
    if (!IsOperation(word) || ComputationOf(word) == BY_RANDOM_DRAWS) return;
    const int count = OperandCount(word);
    if (depth < count) return;
    const uint16_t* operands = stack + depth - count;
    uint16_t constant = 0;
    if (i != program.codeCount - 1 &&
        Fold(program, evaluator, operands, word, &folded, &constant)) {
      depth -= count;
      stack[depth++] = constant;
      continue;
    }
    RegisterOperation& op = fast.operations[fast.count++];
    op.operation = static_cast<uint16_t>(word);
    op.x = operands[0];
    op.y = count >= 2 ? operands[1] : ZERO_REGISTER;
    op.z = count == 3 ? operands[2] : ZERO_REGISTER;
    op.power = static_cast<int16_t>(word == OP_POW && IsConstant(program, op.y)
                                        ? math::MultipliedPower(evaluator.registers[op.y])
                                        : 0);
    op.staysPlain =
        (word == OP_ADD || word == OP_SUB) && (IsModerateConstant(program, evaluator, op.x) ||
                                               IsModerateConstant(program, evaluator, op.y));
    fast.lastTop = operands[count - 1];
    fast.lastNext = count >= 2   ? operands[count - 2]
                    : depth >= 2 ? stack[depth - 2]
                                 : ZERO_REGISTER;
    depth -= count;
    op.target = TemporaryAt(depth);
    stack[depth++] = op.target;
  }
  if (depth != 1) return;
  if (fast.count > 0) {
    // The last operation writes a register of its own, so its operands survive for the record.
    fast.operations[fast.count - 1].target = RESULT_REGISTER;
    stack[0] = RESULT_REGISTER;
  }
  fast.result = stack[0];
  fast.usable = true;
}

}  // namespace

Evaluator::Evaluator() {
  InitializeRegisters(registers);
  ReserveNativeCode(&fast.native);
}

Evaluator::~Evaluator() { ReleaseNativeCode(&fast.native); }

void PrepareEvaluation(const Program& program, Evaluator* evaluator) {
  for (int slot = program.variableCount; slot < program.poolCount; ++slot)
    evaluator->registers[slot] = program.pool[slot];
  BuildRegisterForm(program, *evaluator);
  CompileNativeCode(evaluator->fast, &evaluator->fast.native);
  SeedRandom(platform::TickCount());
}

void SetAngularUnits(const Program& program, Evaluator* evaluator, KAL_ANGULAR_UNITS units) {
  if (units == evaluator->angularUnits) return;
  evaluator->angularUnits = units;
  // Folded trigonometry depends on the unit.
  BuildRegisterForm(program, *evaluator);
  CompileNativeCode(evaluator->fast, &evaluator->fast.native);
}

// Writes nothing but temporaries until the run is known to be clean. Both fast forms test
// values, never flags: on inputs and literals that are normal or zero, an operation whose result
// passes its test has not faulted (math::MayHaveFaulted); any other input goes to the
// interpreter straight away.
bool RunFast(const Program& program, Evaluator& evaluator, EvalRecord* record,
             bool inputsNormalOrZero) {
  RegisterForm& fast = evaluator.fast;
  if (!inputsNormalOrZero || !fast.literalsNormalOrZero) return false;
  double* const registers = evaluator.registers;
  bool failed = false;
  double result;
  const double* top = &registers[fast.lastTop];
  const double* next = &registers[fast.lastNext];
  if (fast.native.entry != nullptr && evaluator.fastest == Form::MACHINE_CODE) {
    NativeFrame frame{evaluator.angularUnits, 0};
    result = fast.native.entry(registers, &frame);
    failed = frame.valueTestFailed != 0;
    // Machine code keeps its temporaries in processor registers and saves only these two.
    top = &registers[RECORD_TOP_REGISTER];
    next = &registers[RECORD_NEXT_REGISTER];
  } else {
    const KAL_ANGULAR_UNITS units = evaluator.angularUnits;
    const RegisterOperation* const end = fast.operations + fast.count;
    for (const RegisterOperation* op = fast.operations; op != end; ++op) {
      bool rangeFailed = false;
      const double x = registers[op->x], y = registers[op->y];
      const double value = math::Apply(op->operation, x, y, registers[op->z], units, &rangeFailed);
      registers[op->target] = value;
      failed |= math::MayHaveFaulted(op->operation, x, y, value, rangeFailed);
    }
    result = registers[fast.result];
  }
  if (failed) return false;
  *record = EvalRecord{ERROR_NONE, program.code[program.codeCount - 1], 0.0, 0.0};
  if (fast.count > 0) {
    record->topValue = *top;
    record->nextValue = *next;
  }
  registers[program.assignedVariable] = result;
  return true;
}

void RecordCleanRun(const Program& program, const RegisterForm& fast, const double* registers,
                    EvalRecord* record) {
  *record = EvalRecord{ERROR_NONE, program.code[program.codeCount - 1], 0.0, 0.0};
  if (fast.count == 0) return;
  record->topValue = registers[RECORD_TOP_REGISTER];
  record->nextValue = registers[RECORD_NEXT_REGISTER];
}

bool ReadsNormalOrZero(const RegisterForm& fast, const double* registers) {
  bool normalOrZero = true;
  for (int i = 0; i < fast.readCount; ++i)
    normalOrZero &= math::IsNormalOrZeroBits(registers[fast.readVariables[i]]);
  return normalOrZero;
}

}  // namespace kalo
