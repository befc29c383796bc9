// The few operating-system questions the tool asks: is a standard stream a terminal, and (on
// systems that translate line ends) reading and writing bytes unchanged; and the calculator's
// line input, edited with history where the line editor is built in.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kalo::cli {

bool IsTerminal(std::FILE* stream);
void UseBinaryMode(std::FILE* stream);

enum class LineStatus { LINE, CANCELLED, END };

// Reads standard input line by line. Interactive, it prompts, edits with the arrow keys and keeps
// a history in `historyPath` (when built with the line editor), and Ctrl-C cancels the line being
// typed (CANCELLED) instead of ending the program. Otherwise it reads plain lines.
class LineReader {
 public:
  LineReader(bool interactive, const std::string& historyPath);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  LineStatus Read(const char* prompt, std::string& line);

 private:
  struct Editor;
  std::unique_ptr<Editor> editor;  // null when reading plain lines
  bool interactive;
};

// The history file in the user's home folder, or empty when there is no home.
std::string HistoryPath(const char* fileName);

}  // namespace kalo::cli
