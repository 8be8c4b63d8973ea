#include "cli/Console.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

bool IsContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The controlling terminal, open for one question.
class Terminal {
public:
    Terminal() : fd_(open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
    ~Terminal()
    {
        if (echoOff_)
            tcsetattr(fd_, TCSAFLUSH, &saved_);
        if (fd_ >= 0)
            close(fd_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool Open() const { return fd_ >= 0; }
    void Write(const std::string& text) const
    {
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = write(fd_, text.data() + done, text.size() - done);
            if (n <= 0)
                return;
            done += size_t(n);
        }
    }
    void EchoOff()
    {
        if (tcgetattr(fd_, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        echoOff_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    // One line without its end; nothing at the end of input or once stopped.
    // A signal handler only sets a flag, and the signal may come just before
    // a read would start, so the wait checks the flag between short polls.
    std::optional<std::string> ReadLine(const std::function<bool()>& stopped) const
    {
        std::string line;
        for (;;) {
            if (stopped())
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char c;
            const ssize_t n = read(fd_, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return line.empty() ? std::nullopt : std::optional(line);
            if (c == '\n')
                return line;
            line += c;
        }
    }

private:
    int fd_;
    termios saved_{};
    bool echoOff_ = false;
};

}  // namespace

bool IsTerminal(int fd)
{
    return isatty(fd) == 1;
}

int TerminalWidth()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::optional<std::string> AskTerminal(const std::string& prompt, bool secret,
                                       const std::function<bool()>& stopped)
{
    Terminal terminal;
    if (!terminal.Open())
        return std::nullopt;
    // Echo goes off first: switching it flushes input, which must not take
    // an answer typed as soon as the prompt showed.
    if (secret)
        terminal.EchoOff();
    terminal.Write(prompt);
    std::optional<std::string> answer = terminal.ReadLine(stopped);
    if (secret || !answer)
        terminal.Write("\n");  // the user's Enter was not echoed, or never came
    if (answer && !answer->empty() && answer->back() == '\r')
        answer->pop_back();
    return answer;
}

std::string Printable(const std::string& text)
{
    std::string shown = text;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return shown;
}

size_t TextWidth(const std::string& text)
{
    size_t width = 0;
    for (char c : text)
        width += IsContinuationByte(c) ? 0 : 1;
    return width;
}

std::string FitFromEnd(const std::string& text, size_t width)
{
    if (TextWidth(text) <= width)
        return text;
    if (width <= 3)
        return std::string(width, '.');
    // Keep the last width - 3 characters, starting at a character boundary.
    size_t keep = 0;
    size_t start = text.size();
    while (start > 0 && keep < width - 3) {
        --start;
        if (!IsContinuationByte(text[start]))
            ++keep;
    }
    return "..." + text.substr(start);
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace cli
