// Feeds any bytes at all to the parsing of the open-file dialog's answer, as if the dialog had
// returned them: U+0000 between parts, empty parts, a root folder, separators inside names, and
// UTF-8 or not. The parsing must never crash, and what it leaves must describe exactly the input.

#include "common/selection_state.h"
#include "common/text.h"
#include "tests/support/memory_file_list.h"
#include "ui/selection.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "selection_fuzz: %s\n", what);
    __builtin_trap();
}

void check(bool holds, const char* what)
{
    if (!holds)
        fail(what);
}

bool endsWithSeparator(const std::string& text)
{
    return !text.empty() && text.back() == tarnis::kPathSeparator;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view result(reinterpret_cast<const char*>(data), size);

    // What an earlier selection would have left: the parts must be replaced, not added to. The list
    // starts empty, as the window empties it before showing the dialog.
    tarnis::test::MemoryFileList fileList;
    tarnis::SelectionState selection{"/earlier/", 7};
    std::vector<std::string> splitParts{"earlier", ""};

    tarnis::parseSelection(result, fileList, selection, splitParts);

    check(!splitParts.empty(), "no parts at all");
    std::string joined = splitParts.front();
    for (std::size_t i = 1; i < splitParts.size(); ++i) {
        joined += tarnis::kResultSeparator;
        joined += splitParts[i];
    }
    check(joined == result, "the parts joined again differ from the answer");
    for (const std::string& part : splitParts)
        check(part.find(tarnis::kResultSeparator) == std::string::npos, "a part holds a separator");

    const std::vector<std::string>& names = fileList.entries;
    check(selection.entryCount >= 2, "entryCount below 2 after a completed selection");
    check(static_cast<std::size_t>(selection.entryCount) == names.size() + 1,
          "entryCount is not one more than the names queued");
    check(fileList.repaints == 0, "the parsing repainted the list");

    if (splitParts.size() == 1) {
        // One full path: cut after its last separator, the name never holding one.
        const std::string& path = splitParts.front();
        check(names.size() == 1, "one path did not queue exactly one name");
        check(selection.dirPath + names.front() == path, "folder and name do not make the path again");
        check(names.front().find(tarnis::kPathSeparator) == std::string::npos, "the name holds a separator");
        const bool hasSeparator = path.find(tarnis::kPathSeparator) != std::string::npos;
        check(hasSeparator == endsWithSeparator(selection.dirPath),
              "the folder of a path with a separator does not end with one");
        check(hasSeparator || selection.dirPath.empty(), "a path without a separator got a folder");
    } else {
        // The folder, then the names, in the answer's order, empty ones too.
        check(std::vector<std::string>(splitParts.begin() + 1, splitParts.end()) == names,
              "the names queued are not the parts after the folder, in order");
        check(endsWithSeparator(selection.dirPath), "the folder does not end with the separator");
        const std::string& folder = splitParts.front();
        const std::string expected = endsWithSeparator(folder) ? folder : folder + tarnis::kPathSeparator;
        check(selection.dirPath == expected, "the folder is not the first part with one separator added");
    }
    return 0;
}
