#pragma once

#include "common/file_list.h"

#include <string>
#include <vector>

namespace tarnis::test {

/// The file list without a window: entries in a vector, repaints counted.
class MemoryFileList : public FileList {
public:
    MemoryFileList() = default;
    explicit MemoryFileList(std::vector<std::string> entries) : entries(std::move(entries)) {}

    void clear() override { entries.clear(); }
    void append(const std::string& entry) override { entries.push_back(entry); }
    [[nodiscard]] std::string entry0() const override
    {
        return entries.empty() ? std::string() : entries.front();
    }
    [[nodiscard]] std::vector<std::string> allEntries() const override { return entries; }
    void removeEntry0() override
    {
        if (!entries.empty())
            entries.erase(entries.begin());
    }
    void repaint() override { ++repaints; }

    std::vector<std::string> entries;
    int repaints = 0;
};

} // namespace tarnis::test
