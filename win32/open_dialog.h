#pragma once

#include "window/form1_logic.h"

#include <cstddef>
#include <string>

#include <windows.h>

namespace tarnis::win32 {

/// Room for the dialog's answer, in UTF-16 units: some 16,000 names of 64 characters, a night's
/// frames many times over (2 MB, taken only while the dialog is open).
inline constexpr std::size_t kAnswerCharacters = std::size_t{1} << 20;

/// The Windows common file dialog, modal over `owner`: Explorer style, several files at a time, no
/// read-only box, the window's two filters with the .fit one chosen. Its title and the folder it
/// opens in are the system's (which remembers the folder this program chose from last). An answer
/// that does not fit `answerCharacters` throws TooManyFilesChosen: it is never taken cut short.
class Win32OpenFileDialog : public OpenFileDialog {
public:
    explicit Win32OpenFileDialog(HWND owner, std::size_t answerCharacters = kAnswerCharacters)
        : owner_(owner), answerCharacters_(answerCharacters)
    {
    }
    [[nodiscard]] std::string showOpen() override;

private:
    HWND owner_;
    std::size_t answerCharacters_;
};

} // namespace tarnis::win32
