#pragma once

#include "common/texts.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tarnis::cli {

/// Where the command writes, and what it knows of where that is. Texts are UTF-8.
class Console {
public:
    virtual ~Console() = default;
    /// Returns 0, or the C library's error number (errno) when the text could not be written.
    virtual int writeOut(std::string_view text) = 0;
    virtual void writeError(std::string_view text) = 0;
    /// Whether standard error is a terminal a person watches, rather than a file, a pipe or a log.
    [[nodiscard]] virtual bool errorIsTerminal() const = 0;
    [[nodiscard]] virtual std::chrono::steady_clock::time_point now() const
    {
        return std::chrono::steady_clock::now();
    }
};

/// A line on standard error that is written over in place, as a terminal shows progress, and
/// erased before any other text is written there.
class StatusLine {
public:
    explicit StatusLine(Console& console) : console_(console) {}

    /// Writes `line` over the one shown, blanking what is left of a longer one.
    void show(std::string line)
    {
        const std::size_t width = line.size();
        line.resize(std::max(width, width_), ' ');
        console_.writeError("\r" + line + "\r");
        width_ = width;
    }

    void erase()
    {
        if (width_ == 0)
            return;
        std::string blank(width_ + 2, ' ');
        blank.front() = blank.back() = '\r';
        console_.writeError(blank);
        width_ = 0;
    }

    [[nodiscard]] bool shown() const { return width_ > 0; }

private:
    Console& console_;
    std::size_t width_ = 0;
};

/// The process's own standard output and standard error. On Windows a console gets the text as
/// UTF-16, so that Japanese shows whatever the console's code page; files and pipes get UTF-8.
[[nodiscard]] std::unique_ptr<Console> processConsole();

/// The language the user reads: what LC_ALL, LC_MESSAGES or LANG says (the first that is set), and
/// where none is, English on POSIX systems, where that is the "C" locale's, and the language of
/// the user's interface on Windows, whose own programs leave these variables unset (MSYS2, Cygwin
/// and Git's shell set them to the user's choice).
[[nodiscard]] Language userLanguage();

/// How many more files the process could open at once, counted up to `atMost`: its limit of open
/// files less those open already (POSIX). Windows has no such limit.
[[nodiscard]] std::size_t spareFileDescriptors(std::size_t atMost);

} // namespace tarnis::cli
