#pragma once

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

/// What the scripted dialog does when it is shown next.
struct DialogAnswer {
    enum class Kind { Choose, Cancel, Fail };
    Kind kind = Kind::Choose;
    std::string result; // the answer text, for Choose

    static DialogAnswer choose(std::string text) { return {Kind::Choose, std::move(text)}; }
    static DialogAnswer cancel() { return {Kind::Cancel, {}}; }
    static DialogAnswer fail() { return {Kind::Fail, {}}; }
};

/// An open-file dialog that plays back answers from a script owned by the test.
class ScriptedDialog : public OpenFileDialog {
public:
    explicit ScriptedDialog(std::deque<DialogAnswer>& script) : script_(script) {}

    std::string showOpen() override
    {
        if (script_.empty())
            throw std::logic_error("the dialog was shown more often than the test expected");
        const DialogAnswer answer = script_.front();
        script_.pop_front();
        switch (answer.kind) {
        case DialogAnswer::Kind::Cancel:
            throw DialogCancelled();
        case DialogAnswer::Kind::Fail:
            throw std::runtime_error("the dialog's answer did not fit its buffer");
        case DialogAnswer::Kind::Choose:
            break;
        }
        return answer.result;
    }

private:
    std::deque<DialogAnswer>& script_;
};

struct ShownMessage {
    QString title;
    QString text;
};

/// A message box that records what it was asked to show and returns at once.
class RecordingMessageBox : public ErrorMessageBox {
public:
    explicit RecordingMessageBox(std::vector<ShownMessage>& shown) : shown_(shown) {}
    void show(const QString& title, const QString& text) override { shown_.push_back({title, text}); }

private:
    std::vector<ShownMessage>& shown_;
};

/// Calls `seen` whenever `watched` receives an event of `type`, before the object handles it; a call
/// given to once() follows the first such event.
class EventSpy : public QObject {
public:
    EventSpy(QObject& watched, QEvent::Type type, std::function<void()> seen)
        : watched_(watched), type_(type), seen_(std::move(seen))
    {
        watched_.installEventFilter(this);
    }
    ~EventSpy() override { watched_.removeEventFilter(this); }

    void once(std::function<void()> first) { first_ = std::move(first); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == type_) {
            seen_();
            if (first_)
                std::exchange(first_, nullptr)();
        }
        return false;
    }

private:
    QObject& watched_;
    QEvent::Type type_;
    std::function<void()> seen_;
    std::function<void()> first_;
};

} // namespace tarnis::test
