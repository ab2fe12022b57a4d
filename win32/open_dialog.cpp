#include "win32/open_dialog.h"

#include "window/selection.h"
#include "window/texts.h"
#include "common/utf16.h"

#include <commdlg.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace tarnis::win32 {
namespace {

// The filters as the dialog takes them: a name and its pattern, each ended by U+0000, all files
// first, and one more U+0000 after the last.
std::wstring filterText()
{
    std::wstring filter;
    for (const std::string_view part : {texts::kAllFilesFilter, texts::kAllFilesPattern,
                                        texts::kFitFilesFilter, texts::kFitFilesPattern})
        filter += utf16(part) + L'\0';
    return filter + L'\0';
}

} // namespace

std::string Win32OpenFileDialog::showOpen()
{
    const std::wstring filter = filterText();
    std::wstring buffer(answerCharacters_, L'\0');
    OPENFILENAMEW settings{};
    settings.lStructSize = sizeof settings;
    settings.hwndOwner = owner_;
    settings.lpstrFilter = filter.c_str();
    settings.nFilterIndex = 2; // counted from 1: the .fit files
    settings.lpstrFile = buffer.data();
    settings.nMaxFile = static_cast<DWORD>(buffer.size());
    // The dialog would otherwise leave the program's current folder on the folder chosen, and a
    // card or stick the frames came from could not be ejected while the program runs.
    settings.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&settings)) {
        switch (::CommDlgExtendedError()) {
        case 0: throw DialogCancelled();
        case FNERR_BUFFERTOOSMALL: // the buffer then holds only the length it would have needed
            throw TooManyFilesChosen();
        default: throw std::runtime_error("the open-file dialog failed");
        }
    }
    // One full path, or the folder and then the names; each ends with U+0000, and an empty part
    // ends the answer.
    std::string answer;
    for (std::size_t start = 0; start < buffer.size() && buffer[start] != L'\0';) {
        const std::size_t end = std::min(buffer.find(L'\0', start), buffer.size());
        if (start > 0)
            answer += kResultSeparator;
        answer += utf8(std::wstring_view(buffer).substr(start, end - start));
        start = end + 1;
    }
    return answer;
}

} // namespace tarnis::win32
