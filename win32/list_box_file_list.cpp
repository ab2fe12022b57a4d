#include "win32/list_box_file_list.h"

#include "win32/wide.h"

namespace tarnis::win32 {

void ListBoxFileList::clear()
{
    ::SendMessageW(listBox_, LB_RESETCONTENT, 0, 0);
}

void ListBoxFileList::append(const std::string& entry)
{
    // The list is not sorted: LB_ADDSTRING appends.
    ::SendMessageW(listBox_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(entry).c_str()));
}

std::string ListBoxFileList::entry(int index) const
{
    const LRESULT length = ::SendMessageW(listBox_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = ::SendMessageW(listBox_, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == LB_ERR ? 0 : static_cast<std::size_t>(got));
    return utf8(text);
}

std::string ListBoxFileList::entry0() const
{
    return entry(0);
}

std::vector<std::string> ListBoxFileList::allEntries() const
{
    std::vector<std::string> all;
    const auto count = static_cast<int>(::SendMessageW(listBox_, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        all.push_back(entry(i));
    return all;
}

void ListBoxFileList::removeEntry0()
{
    ::SendMessageW(listBox_, LB_DELETESTRING, 0, 0);
}

void ListBoxFileList::repaint()
{
    ::InvalidateRect(listBox_, nullptr, TRUE);
    ::UpdateWindow(listBox_);
}

} // namespace tarnis::win32
