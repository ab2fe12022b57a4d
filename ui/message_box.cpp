#include "ui/message_box.h"

#include <QMessageBox>

namespace tarnis {

void QtErrorMessageBox::show(const QString& title, const QString& text)
{
    QMessageBox::critical(parent_, title, text);
}

} // namespace tarnis
