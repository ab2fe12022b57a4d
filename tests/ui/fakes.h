#pragma once

// A spy on a widget's events; the dialog and the message box as the tests fill them are in
// tests/window/fakes.h, shared with the native window's tests.

#include "tests/window/fakes.h"

#include <QEvent>
#include <QObject>

#include <functional>
#include <utility>

namespace tarnis::test {

/// Calls `seen` whenever `watched` receives an event of `type`, before the object handles it.
class EventSpy : public QObject {
public:
    EventSpy(QObject& watched, QEvent::Type type, std::function<void()> seen)
        : watched_(watched), type_(type), seen_(std::move(seen))
    {
        watched_.installEventFilter(this);
    }
    ~EventSpy() override { watched_.removeEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == type_)
            seen_();
        return false;
    }

private:
    QObject& watched_;
    QEvent::Type type_;
    std::function<void()> seen_;
};

} // namespace tarnis::test
