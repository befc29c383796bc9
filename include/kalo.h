/* kalo: compile a one-line assignment equation once, evaluate it many times.
 *
 * Plain C; compiles as C and as C++. Every text the library hands back is copied into a buffer
 * that belongs to the caller and must hold at least 512 bytes.
 */
#ifndef KALO_H
#define KALO_H

#if defined(_WIN32)
#if defined(KALO_BUILDING_LIBRARY)
#define KALO_API __declspec(dllexport)
#elif defined(KALO_STATIC)
#define KALO_API
#else
#define KALO_API __declspec(dllimport)
#endif
#else
#define KALO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Unit of the angles taken and returned by the trigonometric and hyperbolic functions.
 * Any other value stored with KaloSetAngularUnits acts as radians. */
typedef enum KAL_ANGULAR_UNITS {
  KAL_DEGREES = 0,
  KAL_RADIANS = 1,
  KAL_GRADS = 2,
  /* Not units: make the enumeration a signed int wide, so that any int value can be stored. */
  KAL_ANGULAR_UNITS_FORCE_INT_MIN = -0x7FFFFFFF - 1,
  KAL_ANGULAR_UNITS_FORCE_INT = 0x7FFFFFFF
} KAL_ANGULAR_UNITS;

/* The C run-time's math error record; accepted by KaloGetEvalError and never touched. */
struct _exception;

/* A host function. `arguments` holds the call's arguments, first argument first; `result`
 * already holds the first argument. Return 0 on success; any other value ends the evaluation
 * and becomes the code that KaloGetEvalError returns. */
typedef int (*KaloHostFunction)(double* arguments, double* result, long userValue);

/* Called once per built-in function by KaloEnumFunctions; return 0 to stop. */
typedef int (*KaloEnumCallback)(char const* name, int parameterCount, char const* description,
                                long userValue);

/* Receives the text of an internal-error report. */
typedef void (*KaloInternalErrorHandler)(const char* text, long userValue);

/* Compiles `equation` (such as "Z = 2*sin(X) + Y/3") over the whitespace-separated variable
 * names in `variables`. Returns a handle, or null with *errorCode set to 1 (the variable list
 * or the library failed) or 4 (blank arguments or a compile error) and the reason in
 * errorText. Either pointer may be null. Nothing is written on success. */
KALO_API void* KaloParseExpression(char const* equation, char const* variables, int* errorCode,
                                   char* errorText);

/* Releases a handle. A null or dead handle is ignored. */
KALO_API void KaloDestroyExpression(void* handle);

/* Evaluates with one value per declared variable, in declaration order, and on success writes
 * the result into the element of the assigned variable. Returns 1, or 0 on failure. */
KALO_API int KaloEvalExpression(void* handle, double* values);

/* Evaluates the expression for rowCount rows. columns[i] points at rowCount values of the
 * expression's i-th variable, in declaration order; the assigned variable's column receives the
 * results. Returns the number of rows evaluated: rowCount, or the index of the first row that
 * failed, which KaloGetEvalError then describes exactly as after KaloEvalExpression on that row.
 * That row's result and every later row are left untouched. A null `columns` or column with
 * rowCount > 0 gives 0 and code 104; rowCount <= 0 gives 0 and changes nothing. */
KALO_API long KaloEvalExpressionColumns(void* handle, double* const* columns, long rowCount);

/* Returns the code of the last evaluation (0 when it succeeded) and, when `text` is not null,
 * its text, such as "MATH ERROR:  Divide(1,0)\r\nDivide by 0 error". */
KALO_API int KaloGetEvalError(void* handle, char* text, struct _exception* unused);

/* Sets the angular unit of one expression and returns the unit it had before. */
KALO_API KAL_ANGULAR_UNITS KaloSetAngularUnits(void* handle, KAL_ANGULAR_UNITS units);

/* Registers (or replaces, ignoring letter case) a host function taking 0 to 100 arguments.
 * A null name with a null callback removes every registration. Returns 1, or 0 on failure. */
KALO_API int KaloRegisterFunction(char const* name, int parameterCount, KaloHostFunction callback,
                                  long userValue);

/* Calls `callback` for each of the 32 built-in functions until it returns 0. Returns 32 for a
 * null callback, otherwise the callback's last result. */
KALO_API int KaloEnumFunctions(KaloEnumCallback callback, long userValue);

/* Installs the handler that receives internal-error reports and returns the previous one.
   A null handler restores the default, which writes each report to standard error. */
KALO_API KaloInternalErrorHandler KaloSetInternalErrorHandler(KaloInternalErrorHandler handler,
                                                              long userValue);

#ifdef __cplusplus
}
#endif

#endif /* KALO_H */
