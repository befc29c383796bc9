// Processors without a code generator: every program is interpreted in its register form.
#include "evaluator/native_code.h"

namespace kalo {

void ReserveNativeCode(NativeCode* code) { *code = NativeCode{}; }
void ReleaseNativeCode(NativeCode* code) { *code = NativeCode{}; }
void CompileNativeCode(const RegisterForm& /*fast*/, NativeCode* /*code*/) {}
NativeColumnsEntry LanesEntry(const RegisterForm& /*fast*/, NativeCode* /*code*/) {
  return nullptr;
}

}  // namespace kalo
