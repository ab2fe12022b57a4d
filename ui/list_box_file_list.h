#pragma once

#include "common/file_list.h"

class QListWidget;

namespace tarnis {

/// The file list on the window's list box: what the user sees is the run's queue itself.
class ListBoxFileList : public FileList {
public:
    explicit ListBoxFileList(QListWidget& listBox) : listBox_(listBox) {}

    void clear() override;
    void append(const std::string& entry) override;
    [[nodiscard]] std::string entry0() const override;
    [[nodiscard]] std::vector<std::string> allEntries() const override;
    void removeEntry0() override;
    /// Lays the entries out and paints them at once: a run keeps the user-interface thread busy,
    /// so a repaint left to the event loop would only show once the run is over.
    void repaint() override;

private:
    QListWidget& listBox_;
};

} // namespace tarnis
