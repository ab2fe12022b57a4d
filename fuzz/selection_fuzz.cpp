// Feeds any bytes at all to the parsing of the open-file dialog's answer, as if the dialog had
// returned them: U+0000 between parts, empty parts, a root folder, separators inside names, and
// UTF-8 or not. The parsing must never crash, and what it leaves must describe exactly the input;
// a name that leads into another folder must never reach the queue.

#include "common/selection_state.h"
#include "common/text.h"
#include "tests/support/memory_file_list.h"
#include "ui/selection.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
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

bool endsWithSeparator(std::string_view text)
{
    return !text.empty() && text.back() == tarnis::kPathSeparator;
}

// A folder as the run appends names to it: ending with the separator, and with only one there.
bool endsWithExactlyOneSeparator(std::string_view text)
{
    return endsWithSeparator(text) && !endsWithSeparator(text.substr(0, text.size() - 1));
}

std::string_view withoutTrailingSeparators(std::string_view text)
{
    while (endsWithSeparator(text))
        text.remove_suffix(1);
    return text;
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

    bool rejected = false;
    try {
        tarnis::parseSelection(result, fileList, selection, splitParts);
    } catch (const std::invalid_argument&) {
        rejected = true;
    }

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
    bool nameInAnotherFolder = false;
    for (std::size_t i = 1; i < splitParts.size(); ++i)
        nameInAnotherFolder = nameInAnotherFolder || tarnis::containsPathSeparator(splitParts[i]);
    if (rejected) {
        // Only a single path that names no folder, or names that lead into other folders, are
        // refused, and that changes nothing.
        check(splitParts.size() == 1 ? splitParts.front().find(tarnis::kPathSeparator) == std::string::npos
                                     : nameInAnotherFolder,
              "an answer of one folder and bare names was refused");
        check(names.empty() && selection.dirPath == "/earlier/" && selection.entryCount == 7,
              "a refused answer changed the list or the selection");
        return 0;
    }
    check(selection.entryCount >= 2, "entryCount below 2 after a completed selection");
    check(static_cast<std::size_t>(selection.entryCount) == names.size() + 1,
          "entryCount is not one more than the names queued");
    check(fileList.repaints == 0, "the parsing repainted the list");
    check(endsWithExactlyOneSeparator(selection.dirPath), "the folder does not end with exactly one separator");
    const std::string_view folder = withoutTrailingSeparators(selection.dirPath);

    if (splitParts.size() == 1) {
        // One full path: cut after its last separator, the name never holding one.
        const std::string& path = splitParts.front();
        check(names.size() == 1, "one path did not queue exactly one name");
        const std::string& name = names.front();
        check(name.find(tarnis::kPathSeparator) == std::string::npos, "the name holds a separator");
        check(path.size() > name.size() && path.ends_with(name), "the name is not the end of the path");
        check(withoutTrailingSeparators(std::string_view(path).substr(0, path.size() - name.size())) == folder,
              "the folder is not the path before the name");
    } else {
        // The folder, then the names, in the answer's order, empty ones too, none in another folder.
        check(!nameInAnotherFolder, "a name leading into another folder was queued");
        check(std::vector<std::string>(splitParts.begin() + 1, splitParts.end()) == names,
              "the names queued are not the parts after the folder, in order");
        check(withoutTrailingSeparators(splitParts.front()) == folder, "the folder is not the first part");
    }
    return 0;
}
