// Feeds any bytes at all to the parsing of the open-file dialog's answer, as if the dialog had
// returned them. The parsing must never crash; it must refuse an answer that names no folder or a
// name in another folder, changing nothing, and otherwise keep every part and queue exactly the
// names, after a folder that ends with one separator.

#include "common/text.h"
#include "tests/support/memory_file_list.h"
#include "ui/selection.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "selection_fuzz: %s\n", what);
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string answer(reinterpret_cast<const char*>(data), size);
    tarnis::test::MemoryFileList list;
    tarnis::SelectionState selection{"/earlier/", 7};
    std::vector<std::string> parts{"earlier"};
    bool refused = false;
    try {
        tarnis::parseSelection(answer, list, selection, parts);
    } catch (const std::invalid_argument&) {
        refused = true;
    }

    std::string joined = parts.empty() ? "?" : parts.front();
    bool nameInAnotherFolder = false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        joined += '\0' + parts[i];
        nameInAnotherFolder = nameInAnotherFolder || tarnis::containsPathSeparator(parts[i]);
    }
    check(joined == answer, "the parts joined again are not the answer");
    const bool single = parts.size() == 1;
    if (refused) {
        check(single ? answer.find(tarnis::kPathSeparator) == std::string::npos : nameInAnotherFolder,
              "an answer of one folder and bare names was refused");
        check(list.entries.empty() && selection.dirPath == "/earlier/" && selection.entryCount == 7,
              "a refused answer changed the list or the selection");
        return 0;
    }
    const std::string& folder = selection.dirPath;
    check(folder.ends_with(tarnis::kPathSeparator) && (folder.size() == 1 || !tarnis::isPathSeparator(folder[folder.size() - 2])),
          "the folder does not end with exactly one separator");
    check(static_cast<std::size_t>(selection.entryCount) == list.entries.size() + 1, "the count is not one more than the names");
    if (single) {
        check(list.entries.size() == 1 && !tarnis::containsPathSeparator(list.entries[0]) && answer.ends_with(list.entries[0]),
              "one path did not queue the name at its end");
    } else {
        check(std::vector<std::string>(parts.begin() + 1, parts.end()) == list.entries && !nameInAnotherFolder,
              "the names queued are not the parts after the folder, in order");
    }
    return 0;
}
