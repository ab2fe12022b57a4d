#pragma once

// The window's seams as the tests of both windows fill them: a dialog that plays back a script, a
// message box that records, and a window that notes when it is shown busy.

#include "window/form1_logic.h"

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
inline const DialogAnswer kTooMany = []() -> std::string { throw TooManyFilesChosen(); };

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
    std::string title;
    std::string text;
    friend bool operator==(const ShownMessage&, const ShownMessage&) = default;
};

class RecordingMessageBox : public ErrorMessageBox {
public:
    explicit RecordingMessageBox(std::vector<ShownMessage>& shown) : shown_(shown) {}
    void show(std::string_view title, std::string_view text) override
    {
        shown_.push_back({std::string(title), std::string(text)});
    }

private:
    std::vector<ShownMessage>& shown_;
};

/// The window's side of a run, without a window: notes each time it is shown busy or ready. The
/// test serves the run's calls itself (Form1Logic::waitForRun), so waking up does nothing.
class RecordingRunHost : public RunHost {
public:
    void showBusy(bool isBusy) override { busy.push_back(isBusy); }
    void wakeUp() override {}

    std::vector<bool> busy;
};

} // namespace tarnis::test
