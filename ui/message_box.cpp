#include "ui/message_box.h"

#include "ui/texts.h"

#include <QMessageBox>

namespace tarnis {

void QtErrorMessageBox::show(std::string_view title, std::string_view text)
{
    QMessageBox::critical(parent_, qtText(title), qtText(text));
}

} // namespace tarnis
