#include "ui/list_box_file_list.h"

#include <QListWidget>

namespace tarnis {

void ListBoxFileList::clear() { listBox_.clear(); }

void ListBoxFileList::append(const std::string& entry)
{
    listBox_.addItem(QString::fromStdString(entry));
}

std::string ListBoxFileList::entry0() const
{
    const QListWidgetItem* top = listBox_.item(0);
    return top == nullptr ? std::string() : top->text().toStdString();
}

std::vector<std::string> ListBoxFileList::allEntries() const
{
    std::vector<std::string> all;
    for (int i = 0; i < listBox_.count(); ++i)
        all.push_back(listBox_.item(i)->text().toStdString());
    return all;
}

void ListBoxFileList::removeEntry0() { delete listBox_.takeItem(0); }

void ListBoxFileList::repaint()
{
    // The view only lays out its items from the event loop; do it now so that the paint shows
    // the entries as they are.
    listBox_.doItemsLayout();
    listBox_.viewport()->repaint();
}

} // namespace tarnis
