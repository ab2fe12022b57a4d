#pragma once

#include "common/file_list.h"

#include <windows.h>

namespace tarnis::win32 {

/// The file list on the window's list box: what the user sees is the run's queue itself.
class ListBoxFileList : public FileList {
public:
    explicit ListBoxFileList(HWND listBox) : listBox_(listBox) {}

    void clear() override;
    void append(const std::string& entry) override;
    [[nodiscard]] std::string entry0() const override;
    [[nodiscard]] std::vector<std::string> allEntries() const override;
    void removeEntry0() override;
    /// Paints the list at once: a run keeps the user-interface thread from its message loop, so a
    /// paint left to the loop would only show once the run is over.
    void repaint() override;
    /// Lets the list scroll sideways as far as its widest entry in its present font: capture
    /// programs write names far wider than the list, and the list keeps its size.
    void fitWidth();

private:
    [[nodiscard]] std::string entry(int index) const;
    // Widens the list's scrolling to `text` in its present font, if that is wider.
    void widenTo(const std::wstring& text);

    HWND listBox_;
};

} // namespace tarnis::win32
