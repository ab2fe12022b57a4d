#include "win32/list_box_file_list.h"

#include "common/utf16.h"

namespace tarnis::win32 {

void ListBoxFileList::clear()
{
    ::SendMessageW(listBox_, LB_RESETCONTENT, 0, 0);
    ::SendMessageW(listBox_, LB_SETHORIZONTALEXTENT, 0, 0);
}

void ListBoxFileList::append(const std::string& entry)
{
    const std::wstring text = utf16(entry);
    // The list is not sorted: LB_ADDSTRING appends.
    ::SendMessageW(listBox_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    widenTo(text);
}

void ListBoxFileList::widenTo(const std::wstring& text)
{
    const HDC context = ::GetDC(listBox_);
    const HGDIOBJ previous = ::SelectObject(
        context, reinterpret_cast<HGDIOBJ>(::SendMessageW(listBox_, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(context, previous);
    ::ReleaseDC(listBox_, context);
    const LONG margin = size.cy / 2; // the space the list leaves before an entry, and some after
    if (size.cx + margin > ::SendMessageW(listBox_, LB_GETHORIZONTALEXTENT, 0, 0))
        ::SendMessageW(listBox_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(size.cx + margin), 0);
}

void ListBoxFileList::fitWidth()
{
    ::SendMessageW(listBox_, LB_SETHORIZONTALEXTENT, 0, 0);
    for (const std::string& text : allEntries())
        widenTo(utf16(text));
}

std::string ListBoxFileList::entry(int index) const
{
    const LRESULT length = ::SendMessageW(listBox_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = ::SendMessageW(listBox_, LB_GETTEXT, static_cast<WPARAM>(index),
                                       reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == LB_ERR ? 0 : static_cast<std::size_t>(got));
    return utf8(text);
}

std::string ListBoxFileList::entry0() const { return entry(0); }

std::vector<std::string> ListBoxFileList::allEntries() const
{
    std::vector<std::string> all;
    const auto count = static_cast<int>(::SendMessageW(listBox_, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        all.push_back(entry(i));
    return all;
}

void ListBoxFileList::removeEntry0() { ::SendMessageW(listBox_, LB_DELETESTRING, 0, 0); }

void ListBoxFileList::repaint()
{
    ::InvalidateRect(listBox_, nullptr, TRUE);
    ::UpdateWindow(listBox_);
}

} // namespace tarnis::win32
