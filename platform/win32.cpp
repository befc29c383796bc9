// The Windows backend of the platform layer: the loader's module handle, the STRINGTABLE
// resource, the message box, the tick count, the pointer probes, and the catch of
// floating-point traps raised by host code during an evaluation.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// <windows.h> maps LoadString to LoadStringA; the platform layer has its own LoadString. It also
// defines ERROR_BUSY, which is the name of one of our evaluation codes; only the trap codes are
// used here.
#undef LoadString
#undef ERROR_BUSY
#include "common/error_codes.h"

#include <locale.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/host_call.h"
#include "platform/platform.h"

// The linker's symbol for the base of the module that holds this code: the module handle of the
// DLL, or of the program when the library is linked statically and no DllMain runs.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
HINSTANCE moduleHandle = nullptr;
}  // namespace

// The library's entry point: it records the module handle and nothing else. The C++ run-time's
// exit processing, which runs after it at unload, releases the registry.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) moduleHandle = instance;
  return TRUE;
}

namespace kalo::platform {
namespace {

HINSTANCE Module() {
  return moduleHandle != nullptr ? moduleHandle : reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// Made once at load, so that reading a number never creates a locale.
const _locale_t cLocale = _create_locale(LC_NUMERIC, "C");

}  // namespace

const void* ModuleHandle() { return Module(); }

void ModuleFileName(char* buffer, size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(Module(), path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  std::snprintf(buffer, size, "%s", name);
}

int LoadString(unsigned id, char* buffer, int size) {
  if (size <= 0 || id > 0xFFFF) return 0;
  return LoadStringA(Module(), id, buffer, size);
}

namespace backend {
void ShowReport(const char* text) { MessageBoxA(nullptr, text, "Error", MB_OK); }
double ReadDecimalInCLocale(const char* text) { return _strtod_l(text, nullptr, cLocale); }
}  // namespace backend

uint32_t TickCount() { return GetTickCount(); }

bool IsBadStringPointer(const char* text, size_t limit) {
  return text == nullptr || IsBadStringPtrA(text, limit) != FALSE;
}

bool IsBadReadPointer(const void* pointer, size_t size) {
  return size != 0 && (pointer == nullptr || IsBadReadPtr(pointer, size) != FALSE);
}

bool IsBadWritePointer(void* pointer, size_t size) {
  return size != 0 && (pointer == nullptr || IsBadWritePtr(pointer, size) != FALSE);
}

bool MapCodeRegion(size_t size, void** writable, void** executable) {
  const uint64_t wide = size;
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_EXECUTE_READWRITE,
                         static_cast<DWORD>(wide >> 32), static_cast<DWORD>(wide), nullptr);
  if (mapping == nullptr) return false;
  void* rw = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size);
  void* rx = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_EXECUTE, 0, 0, size);
  // The views keep the section alive.
  CloseHandle(mapping);
  if (rw != nullptr && rx != nullptr) {
    *writable = rw;
    *executable = rx;
    return true;
  }
  if (rw != nullptr) UnmapViewOfFile(rw);
  if (rx != nullptr) UnmapViewOfFile(rx);
  return false;
}

// --- Floating-point traps raised by host code ---------------------------------------------
//
// The library's own arithmetic runs with every exception masked and reads the sticky flags,
// as on every platform. Only a host function can unmask a trap; on Windows the processor's
// trap then arrives as a structured exception. A vectored handler maps it as the guard's filter
// does and abandons the host call at the fault: it rewrites the faulting thread's context so
// that, when the dispatcher continues, the thread resets its floating-point unit to the run's
// state and lands in TrapLanding, which jumps back into CallHostFunction's frame.
namespace {

// The host call in progress on one thread. `code` is written by the handler before it lands.
struct HostCall {
  void* jump[5];  // __builtin_setjmp's buffer
  volatile int code;
  HostCall* outer;
};

// Thread-local through the system's slots rather than thread_local: the handler runs for every
// exception in the process and must neither allocate nor call into the C++ run-time.
const DWORD callSlot = TlsAlloc();

HostCall* CurrentCall() {
  return callSlot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<HostCall*>(TlsGetValue(callSlot));
}

[[noreturn]] __attribute__((noinline, used)) void TrapLanding(HostCall* call) {
  __builtin_longjmp(call->jump, 1);
}

// The floating-point state the run had before the host unmasked anything: every exception
// masked, no flag set, an empty x87 register stack.
void ResetUnit(CONTEXT* context) {
  context->MxCsr = x86::SSE_DEFAULT;
  context->FltSave.MxCsr = x86::SSE_DEFAULT;
  context->FltSave.ControlWord = x86::X87_DEFAULT;
  context->FltSave.StatusWord = 0;
  context->FltSave.TagWord = 0;  // the abridged tag word: every register empty
}

LONG CALLBACK TrapHandler(EXCEPTION_POINTERS* exception) {
  const DWORD status = exception->ExceptionRecord->ExceptionCode;
  CONTEXT* context = exception->ContextRecord;
  const int code = MapFloatTrap(status, context->MxCsr, context->FltSave.StatusWord);
  if (code == 0) return EXCEPTION_CONTINUE_SEARCH;
  HostCall* call = CurrentCall();
  if (call == nullptr) return EXCEPTION_CONTINUE_SEARCH;  // not raised inside a host call
  call->code = code;
  ResetUnit(context);
  context->ContextFlags |= CONTEXT_FLOATING_POINT;
  // A fresh frame below the faulting one, aligned as at a function's entry; x64 code keeps
  // nothing below its stack pointer, and everything from here on is abandoned.
  context->Rsp = ((context->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
  context->Rcx = reinterpret_cast<DWORD64>(call);
  context->Rip = reinterpret_cast<DWORD64>(&TrapLanding);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Added at the first host call and removed when the library is unloaded.
class TrapRegistration {
 public:
  TrapRegistration() : handle_(AddVectoredExceptionHandler(0, &TrapHandler)) {}
  ~TrapRegistration() {
    if (handle_ != nullptr) RemoveVectoredExceptionHandler(handle_);
  }
  TrapRegistration(const TrapRegistration&) = delete;
  TrapRegistration& operator=(const TrapRegistration&) = delete;

 private:
  void* handle_;
};

// Puts the thread's outer call back on every way out, a C++ exception from the host included.
class CallScope {
 public:
  explicit CallScope(HostCall* call) : call_(call) { TlsSetValue(callSlot, call); }
  ~CallScope() { TlsSetValue(callSlot, call_->outer); }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  HostCall* call_;
};

}  // namespace

namespace {

// Both units number their flags alike. Invalid operation, denormal operand and division by zero
// stop an instruction before it computes; overflow and underflow come with inexact, and name the
// fault before it: so the first raised flag in this order is the fault.
int FlagCode(uint32_t raised) {
  struct FlagFault {
    uint32_t flag;
    int code;
  };
  static constexpr FlagFault FAULTS[] = {
      {0x01, ERROR_INVALID},  {0x02, ERROR_DENORMAL},  {0x04, ERROR_DIVIDE_BY_ZERO},
      {0x08, ERROR_OVERFLOW}, {0x10, ERROR_UNDERFLOW}, {0x20, ERROR_INEXACT},
  };
  for (const FlagFault& fault : FAULTS)
    if (raised & fault.flag) return fault.code;
  return 0;
}

// The fault of an SSE exception: a raised flag whose mask is clear; 0 when there is none.
int SseTrapCode(uint32_t mxcsr) { return FlagCode(mxcsr & ~(mxcsr >> 7) & x86::SSE_FLAGS); }

// The fault of an x87 exception, from its status word; a stack fault sets the stack-fault bit
// beside invalid operation.
int X87TrapCode(uint16_t status) {
  if ((status & 0x41) == 0x41) return ERROR_STACK_FAULT;
  return FlagCode(status);
}

}  // namespace

int MapFloatTrap(unsigned long status, uint32_t mxcsr, uint16_t x87Status) {
  int code = 0;
  switch (status) {
    case 0xC000008D: code = ERROR_DENORMAL; break;        // STATUS_FLOAT_DENORMAL_OPERAND
    case 0xC000008E: code = ERROR_DIVIDE_BY_ZERO; break;  // STATUS_FLOAT_DIVIDE_BY_ZERO
    case 0xC000008F: code = ERROR_INEXACT; break;         // STATUS_FLOAT_INEXACT_RESULT
    case 0xC0000090: code = ERROR_INVALID; break;         // STATUS_FLOAT_INVALID_OPERATION
    case 0xC0000091: code = ERROR_OVERFLOW; break;        // STATUS_FLOAT_OVERFLOW
    case 0xC0000092: code = ERROR_STACK_FAULT; break;     // STATUS_FLOAT_STACK_CHECK
    case 0xC0000093: code = ERROR_UNDERFLOW; break;       // STATUS_FLOAT_UNDERFLOW
    case 0xC00002B4:                                      // STATUS_FLOAT_MULTIPLE_FAULTS
    case 0xC00002B5:                                      // STATUS_FLOAT_MULTIPLE_TRAPS
      break;
    default: return 0;
  }
  // An SSE exception names its fault exactly in the MXCSR. 64-bit Windows reports one under the
  // multiple-trap statuses; Wine under a single status that can be wrong (a denormal operand
  // arrives as underflow).
  const int sse = SseTrapCode(mxcsr);
  if (sse != 0) return sse;
  return code != 0 ? code : X87TrapCode(x87Status);
}

int CallHostFunction(HostFunction function, double* arguments, double* result, long userValue,
                     int* trapCode) {
  static const TrapRegistration registration;
  HostCall call;
  call.code = 0;
  call.outer = CurrentCall();
  int answer = 0;
  {
    const CallScope scope(&call);
    if (__builtin_setjmp(call.jump) == 0) answer = function(arguments, result, userValue);
  }
  *trapCode = call.code;
  return call.code != 0 ? call.code : answer;
}

}  // namespace kalo::platform
