#pragma once

// The window's seams as the tests fill them: a dialog that plays back a script, a message box that
// records, and a spy on a widget's events.

#include "ui/message_box.h"
#include "ui/open_dialog.h"

#include <QEvent>
#include <QObject>

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarnis::test {

/// What the scripted dialog does when it is shown: answers, or throws as a cancel or a failure does.
using DialogAnswer = std::function<std::string()>;

inline DialogAnswer choose(std::string answer)
{
    return [answer] { return answer; };
}
inline const DialogAnswer kCancel = []() -> std::string { throw DialogCancelled(); };
inline const DialogAnswer kFail = []() -> std::string { throw std::runtime_error("the dialog's answer did not fit its buffer"); };

class ScriptedDialog : public OpenFileDialog {
public:
    explicit ScriptedDialog(std::deque<DialogAnswer>& script) : script_(script) {}
    std::string showOpen() override
    {
        if (script_.empty())
            throw std::logic_error("the dialog was shown more often than the test expected");
        const DialogAnswer answer = std::move(script_.front());
        script_.pop_front();
        return answer();
    }

private:
    std::deque<DialogAnswer>& script_;
};

struct ShownMessage {
    QString title;
    QString text;
};

class RecordingMessageBox : public ErrorMessageBox {
public:
    explicit RecordingMessageBox(std::vector<ShownMessage>& shown) : shown_(shown) {}
    void show(const QString& title, const QString& text) override { shown_.push_back({title, text}); }

private:
    std::vector<ShownMessage>& shown_;
};

/// Calls `seen` whenever `watched` receives an event of `type`, before the object handles it.
class EventSpy : public QObject {
public:
    EventSpy(QObject& watched, QEvent::Type type, std::function<void()> seen) : watched_(watched), type_(type), seen_(std::move(seen))
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
