// The terminal: whether a stream is one, how wide it is, questions asked on
// it, and text made safe to show on it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace cli {

bool IsTerminal(int fd);
// Columns of the terminal behind standard error; 80 when it cannot tell.
int TerminalWidth();

// Shows prompt on the controlling terminal and reads one line there, without
// echo when secret. Nothing when there is no terminal, at its end, or once
// stopped() holds (Ctrl-C was pressed, before or during the read).
std::optional<std::string> AskTerminal(const std::string& prompt, bool secret,
                                       const std::function<bool()>& stopped);

// text with every control character shown as '?': names from an archive
// must not drive the terminal.
std::string Printable(const std::string& text);
// Columns text takes on a terminal: one per UTF-8 character.
size_t TextWidth(const std::string& text);
// The last columns of text that fit in width, led by "..." when cut.
std::string FitFromEnd(const std::string& text, size_t width);
// text without leading and trailing blanks (spaces and tabs).
std::string Trimmed(const std::string& text);

}  // namespace cli
