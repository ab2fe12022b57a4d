#pragma once

#include <QString>

class QWidget;

namespace tarnis {

/// A modal message that the user acknowledges, such as the description of a failed run.
class ErrorMessageBox {
public:
    virtual ~ErrorMessageBox() = default;
    virtual void show(const QString& title, const QString& text) = 0;
};

/// The real one: Qt's message box with the error icon and an OK button, modal over `parent`.
class QtErrorMessageBox : public ErrorMessageBox {
public:
    explicit QtErrorMessageBox(QWidget* parent) : parent_(parent) {}
    void show(const QString& title, const QString& text) override;

private:
    QWidget* parent_;
};

} // namespace tarnis
