#pragma once

#include "window/form1_logic.h"

#include <windows.h>

namespace tarnis::win32 {

/// The system's message box with the error icon and an OK button, modal over `owner`.
class Win32ErrorMessageBox : public ErrorMessageBox {
public:
    explicit Win32ErrorMessageBox(HWND owner) : owner_(owner) {}
    void show(std::string_view title, std::string_view text) override;

private:
    HWND owner_;
};

} // namespace tarnis::win32
