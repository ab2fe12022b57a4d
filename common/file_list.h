#pragma once

#include <string>
#include <vector>

namespace tarnis {

/// The list of file names that is at once what the user sees and the run's work queue. The window
/// implements it on its list box; entries stay in the order they were appended.
class FileList {
public:
    virtual ~FileList() = default;

    virtual void clear() = 0;
    virtual void append(const std::string& entry) = 0;
    /// The top entry, or an empty text when the list is empty.
    [[nodiscard]] virtual std::string entry0() const = 0;
    /// Every entry, from the top.
    [[nodiscard]] virtual std::vector<std::string> allEntries() const = 0;
    /// Removes the top entry; does nothing when the list is empty.
    virtual void removeEntry0() = 0;
    /// Shows the list as it is now, even while the caller keeps the user-interface thread busy.
    virtual void repaint() = 0;
};

} // namespace tarnis
