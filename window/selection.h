#pragma once

#include "common/file_list.h"
#include "common/selection_state.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarnis {

// Standard C++ only, so that both windows share it and it is exercised without a window system.

/// Separates the folder from the names, and the names from each other, in the open-file dialog's
/// answer when several files were chosen.
inline constexpr char kResultSeparator = '\0';

/// Raised where the chosen files lie in more than one folder, which no selection can hold: every
/// output goes beside its input, and the selection has one folder.
class FilesOfSeveralFolders : public std::invalid_argument {
public:
    FilesOfSeveralFolders() : std::invalid_argument("the chosen files lie in more than one folder")
    {
    }
};

/// Turns the open-file dialog's answer into the next run's queue.
///
/// `result` is either one file's full path, or the folder followed by the chosen names, all joined
/// by kResultSeparator. It is cut at every separator (every part is kept, empty ones too); the bare
/// names are appended to `fileList` in the answer's order, and `selection`
/// gets the folder, ending with exactly the one separator a name is appended to, and one more than
/// the number of names. Neither an extension nor the files' existence is checked: the run reports
/// whatever it cannot read. The list is expected to have been emptied before the dialog was shown.
/// A single path without any separator names no folder (std::invalid_argument), and a name with a
/// separator in it lies in another folder (FilesOfSeveralFolders): either throws, leaving the list
/// and `selection` as they were.
void parseSelection(std::string_view result, FileList& fileList, SelectionState& selection);

/// The answer that the dialog gives for the files at `fullPaths`, in this order: the one path, or
/// their folder followed by their names. Files of several folders cannot form one answer, since
/// every output goes beside its input: that throws FilesOfSeveralFolders, and no file at all
/// std::invalid_argument.
[[nodiscard]] std::string answerFor(const std::vector<std::string>& fullPaths);

/// `paths` as given on a command line, each made full against `currentFolder` where it is
/// relative, with "." and ".." resolved and the platform's separators.
[[nodiscard]] std::vector<std::string> fullPaths(const std::vector<std::string>& paths,
                                                 const std::string& currentFolder);

} // namespace tarnis
