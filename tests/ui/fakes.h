#pragma once

#include "ui/message_box.h"
#include "ui/open_dialog.h"

#include <deque>
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

} // namespace tarnis::test
