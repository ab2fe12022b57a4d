#pragma once

#include <QPushButton>

namespace tarnis {

/// A push button that Enter presses whenever it has the focus, as buttons do on the platform this
/// tool comes from, while it is never the window's default button (no default frame, and Enter
/// elsewhere in the window presses nothing). Space presses it as it does any button.
///
/// Qt passes Return and keypad Enter on to the window unless the button is a default or an
/// auto-default one, and either of those would draw the default frame and make Enter in other
/// widgets press it.
class CommandButton : public QPushButton {
    Q_OBJECT

public:
    CommandButton(const QString& caption, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace tarnis
