#include "tools/console.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kalo::cli {

#if defined(_WIN32)
bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }
void UseBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }
#else
bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }
void UseBinaryMode(std::FILE* /*stream*/) {}
#endif

}  // namespace kalo::cli
