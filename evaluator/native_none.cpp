// Processors without a code generator: every program is interpreted in its register form.
#include "evaluator/native_code.h"

namespace kalo {

void ReserveNativeCode(NativeCode* code) { *code = NativeCode{}; }
void ReleaseNativeCode(NativeCode* code) { *code = NativeCode{}; }
void CompileNativeCode(const RegisterForm& /*fast*/, NativeCode* /*code*/) {}
void WriteColumnsEntries(const RegisterForm& /*fast*/, NativeCode* /*code*/) {}

}  // namespace kalo
