#pragma once

#include "window/form1_logic.h"

class QWidget;

namespace tarnis {

/// Qt's message box with the error icon and an OK button, modal over `parent`.
class QtErrorMessageBox : public ErrorMessageBox {
public:
    explicit QtErrorMessageBox(QWidget* parent) : parent_(parent) {}
    void show(std::string_view title, std::string_view text) override;

private:
    QWidget* parent_;
};

} // namespace tarnis
