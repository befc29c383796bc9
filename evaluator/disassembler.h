// A readable listing of a compiled program, for tests and for anyone debugging the compiler.
#pragma once

#include <string>

namespace kalo {

struct Program;

// One entry per code word, separated by ", ": "PUSH X" for a variable, "PUSH #2" for a literal
// (its value), "CALL name" for a registered function, and the operation's name otherwise, the
// operators by their symbols: "Z = 2*sin(X) + Y/3" lists as
// "PUSH #2, PUSH X, sin, *, PUSH Y, PUSH #3, /, +".
std::string Disassemble(const Program& program);

}  // namespace kalo
