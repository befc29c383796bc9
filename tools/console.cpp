#include "tools/console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif
#ifdef KALO_HAVE_EDITLINE
#include <histedit.h>
#endif

namespace kalo::cli {

#if defined(_WIN32)
bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }
void UseBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }
#else
bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }
void UseBinaryMode(std::FILE* /*stream*/) {}
#endif

std::string HistoryPath(const char* fileName) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return "";
  std::string path = home;
  if (path.back() != '/') path += '/';
  return path + fileName;
}

namespace {

volatile std::sig_atomic_t interrupted = 0;

#if defined(_WIN32)
void CatchInterrupts() {}
#else
extern "C" void NoteInterrupt(int /*signal*/) { interrupted = 1; }

// Without SA_RESTART, so that Ctrl-C ends the read() that waits for the line, which then comes
// back as cancelled; the terminal driver has already dropped what was typed.
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = NoteInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}
#endif

LineStatus ReadPlain(std::string& line) {
  line.clear();
  char chunk[256];
  for (;;) {
    if (std::fgets(chunk, sizeof chunk, stdin) == nullptr) {
      if (std::ferror(stdin) && interrupted) {
        std::clearerr(stdin);
        return LineStatus::CANCELLED;
      }
      return line.empty() ? LineStatus::END : LineStatus::LINE;
    }
    line += chunk;
    if (line.back() == '\n') {
      line.pop_back();
      return LineStatus::LINE;
    }
  }
}

}  // namespace

#ifdef KALO_HAVE_EDITLINE

struct LineReader::Editor {
  EditLine* line = nullptr;
  History* history = nullptr;
  HistEvent event{};
  std::string historyPath;
  const char* prompt = "";

  ~Editor() {
    if (line != nullptr) el_end(line);
    if (history != nullptr) history_end(history);
  }

  static char* Prompt(EditLine* line) {
    void* self = nullptr;
    el_get(line, EL_CLIENTDATA, &self);
    return const_cast<char*>(static_cast<Editor*>(self)->prompt);
  }

  bool Open(const std::string& path) {
    line = el_init("kalo", stdin, stdout, stderr);
    history = history_init();
    if (line == nullptr || history == nullptr) return false;
    historyPath = path;
    ::history(history, &event, H_SETSIZE, 1000);
    ::history(history, &event, H_SETUNIQUE, 1);
    if (!historyPath.empty()) ::history(history, &event, H_LOAD, historyPath.c_str());
    el_set(line, EL_CLIENTDATA, this);
    el_set(line, EL_PROMPT, &Editor::Prompt);
    el_set(line, EL_EDITOR, "emacs");
    el_set(line, EL_HIST, ::history, history);
    el_source(line, nullptr);  // the user's ~/.editrc, as other programs with this editor read it
    return true;
  }

  // Each line goes to the file at once, so that a session that is killed keeps its history.
  LineStatus Read(const char* text, std::string& out) {
    prompt = text;
    int count = 0;
    const char* typed = el_gets(line, &count);
    if (typed == nullptr || count <= 0) {
      if (!interrupted) return LineStatus::END;
      el_reset(line);
      return LineStatus::CANCELLED;
    }
    out.assign(typed, static_cast<size_t>(count));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    if (out.find_first_not_of(" \t") != std::string::npos) {
      ::history(history, &event, H_ENTER, out.c_str());
      if (!historyPath.empty()) ::history(history, &event, H_SAVE, historyPath.c_str());
    }
    return LineStatus::LINE;
  }
};

#else

struct LineReader::Editor {
  bool Open(const std::string& /*path*/) { return false; }
  LineStatus Read(const char* /*prompt*/, std::string& /*line*/) { return LineStatus::END; }
};

#endif

LineReader::LineReader(bool interactiveInput, const std::string& historyPath)
    : interactive(interactiveInput) {
  if (!interactive) return;
  CatchInterrupts();
  editor = std::make_unique<Editor>();
  if (!editor->Open(historyPath)) editor.reset();
}

LineReader::~LineReader() = default;

LineStatus LineReader::Read(const char* prompt, std::string& line) {
  interrupted = 0;
  if (editor != nullptr) return editor->Read(prompt, line);
  if (interactive) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
  }
  return ReadPlain(line);
}

}  // namespace kalo::cli
