// The evaluation error codes a host reads from KaloGetEvalError. Host functions return their own
// codes beside these; the platform maps processor traps onto 201 to 207.
#pragma once

namespace kalo {

enum EvalError : int {
  ERROR_NONE = 0,
  ERROR_UNKNOWN_MATH = 101,
  ERROR_BUSY = 102,
  ERROR_INTERNAL = 103,
  ERROR_BAD_ADDRESS = 104,
  ERROR_DENORMAL = 201,
  ERROR_DIVIDE_BY_ZERO = 202,
  ERROR_INEXACT = 203,
  ERROR_INVALID = 204,
  ERROR_OVERFLOW = 205,
  ERROR_UNDERFLOW = 206,
  ERROR_STACK_FAULT = 207,
  ERROR_DOMAIN = 301,
  ERROR_SINGULARITY = 302,
  ERROR_OVERFLOW_RANGE = 303,
  ERROR_UNDERFLOW_RANGE = 304,
  ERROR_TOTAL_LOSS = 305,
  ERROR_PARTIAL_LOSS = 306,
};

}  // namespace kalo
