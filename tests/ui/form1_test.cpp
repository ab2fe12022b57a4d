#include "ui/form1.h"

#include "common/error.h"
#include "engine/batch.h"
#include "engine/repair.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"
#include "tests/ui/fakes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using test::Bytes;
using test::DialogAnswer;
using test::ScratchDir;
using test::ShownMessage;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::string kDone = "選択されたﾌｧｲﾙの処理を終了しました";

std::vector<std::string> entriesOf(const QListWidget& list)
{
    std::vector<std::string> entries;
    for (int i = 0; i < list.count(); ++i)
        entries.push_back(list.item(i)->text().toStdString());
    return entries;
}

// The lines of text in a picture of the list: bands of pixel rows that differ from its background.
int linesOfText(const QImage& image)
{
    const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
    int lines = 0;
    bool inLine = false;
    for (int y = 0; y < image.height(); ++y) {
        bool marked = false;
        for (int x = 0; x < image.width() && !marked; ++x)
            marked = image.pixel(x, y) != background;
        lines += marked && !inLine ? 1 : 0;
        inLine = marked;
    }
    return lines;
}

// The lines of text that the list's last paint left on the screen: the pixels, not the model.
int linesOnScreen(QListWidget& list)
{
    const QRect area(list.viewport()->mapTo(list.window(), QPoint(0, 0)), list.viewport()->size());
    return linesOfText(list.screen()->grabWindow(list.window()->winId(), area.x(), area.y(), area.width(), area.height()).toImage());
}

// What the list held each time it was painted, and the lines of text on the screen each time an
// entry was about to leave it (a paint itself first clears what it paints over).
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QListWidget& list) : list_(list)
    {
        list_.viewport()->installEventFilter(this);
        QObject::connect(list_.model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
                         [this] { linesOnRemoving.push_back(linesOnScreen(list_)); });
    }
    ~PaintRecorder() override { list_.viewport()->removeEventFilter(this); }

    std::vector<std::vector<std::string>> entries;
    std::vector<int> linesOnRemoving;
    std::function<void()> onFirstPaint;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        entries.push_back(entriesOf(list_));
        if (entries.size() == 1 && onFirstPaint)
            onFirstPaint();
        return false;
    }

private:
    QListWidget& list_;
};

// Helpers are public so that the cases of a table can drive the window through them.
class Window : public ::testing::Test {
public:
    Window()
        : form(std::make_unique<test::ScriptedDialog>(dialogScript),
               std::make_unique<test::RecordingMessageBox>(messages))
    {
    }

    void TearDown() override { EXPECT_THAT(dialogScript, IsEmpty()) << "the dialog was shown fewer times than scripted"; }

    template <typename T>
    T& child(const char* name)
    {
        T* widget = form.findChild<T*>(QLatin1String(name));
        if (widget == nullptr)
            throw std::logic_error(std::string("no widget named ") + name);
        return *widget;
    }
    QPushButton& button(const char* name) { return child<QPushButton>(name); }
    QListWidget& list() { return child<QListWidget>("List1"); }
    std::vector<std::string> entries() { return entriesOf(list()); }

    void showAndActivate()
    {
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    // A click as the user makes it: pressed and released over the button.
    void click(const char* name)
    {
        QTest::mouseClick(&button(name), Qt::LeftButton);
    }

    // Chooses files through the scripted dialog, as one answer: the folder then the names.
    void choose(const std::string& folder, const std::vector<std::string>& names)
    {
        std::string answer = folder;
        for (const std::string& name : names)
            answer += '\0' + name;
        dialogScript.push_back(DialogAnswer::choose(answer));
        click("Command1");
    }

    // The tooltip that the pointer resting on an entry of the list shows, or "" for none.
    std::string toolTipAt(int row)
    {
        QToolTip::hideText(); // one already shown hides after a delay
        EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
        const QPoint at(10, list().visualItemRect(list().item(row)).center().y());
        QHelpEvent rest(QEvent::ToolTip, at, list().viewport()->mapToGlobal(at));
        QApplication::sendEvent(list().viewport(), &rest);
        return QToolTip::isVisible() ? QToolTip::text().toStdString() : "";
    }

    std::deque<DialogAnswer> dialogScript;
    std::vector<ShownMessage> messages;
    Form1 form;
};

// -- The window as it opens ---------------------------------------------------------------------

TEST_F(Window, has_its_caption_and_client_area_and_nothing_but_its_controls)
{
    showAndActivate();

    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tarnis Ver3.0"));
    EXPECT_EQ(form.objectName(), QStringLiteral("Form1"));
    EXPECT_EQ(form.size(), QSize(245, 378));
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(form.layout(), nullptr);
    EXPECT_THAT(form.findChildren<QMenuBar*>(), IsEmpty());
    EXPECT_THAT(form.findChildren<QStatusBar*>(), IsEmpty());
    EXPECT_EQ(form.findChildren<QPushButton*>().size(), 3);
}

TEST_F(Window, starts_empty_and_a_run_without_a_selection_only_appends_the_completion_message)
{
    EXPECT_THAT(entries(), IsEmpty());
    EXPECT_EQ(form.selection().dirPath, "");
    EXPECT_EQ(form.selection().entryCount, 0);

    click("Command2");

    EXPECT_THAT(entries(), ElementsAre(kDone));
    EXPECT_THAT(messages, IsEmpty());
}

TEST_F(Window, focus_starts_on_Command1_and_tab_goes_to_Command2_List1_Command3)
{
    showAndActivate();
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    std::vector<QString> order{QApplication::focusWidget()->objectName()};

    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget()->objectName());
    }

    EXPECT_THAT(order, ElementsAre("Command1", "Command2", "List1", "Command3", "Command1"));
}

struct ControlCase {
    const char* name;
    QString caption; // empty for the list box
    QRect geometry;
};

class Control : public Window, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(Control, sits_where_it_belongs_and_stays_there_when_the_window_is_resized)
{
    const ControlCase& c = GetParam();
    showAndActivate();
    QWidget& widget = child<QWidget>(c.name);

    EXPECT_EQ(widget.geometry(), c.geometry);
    if (auto* pushButton = qobject_cast<QPushButton*>(&widget)) {
        EXPECT_EQ(pushButton->text(), c.caption) << "exactly, with no access key";
        EXPECT_FALSE(pushButton->isDefault());
        EXPECT_FALSE(pushButton->autoDefault()) << "Enter would press it from anywhere";
    } else {
        auto* listBox = qobject_cast<QListWidget*>(&widget);
        ASSERT_NE(listBox, nullptr);
        EXPECT_EQ(listBox->selectionMode(), QAbstractItemView::SingleSelection);
        EXPECT_FALSE(listBox->isSortingEnabled());
    }

    form.resize(600, 700);
    QApplication::processEvents();
    EXPECT_EQ(widget.geometry(), c.geometry);
}

INSTANTIATE_TEST_SUITE_P(Form1, Control,
                         ::testing::Values(ControlCase{"Command1", QStringLiteral("ﾌｧｲﾙ選択"), {8, 8, 65, 25}},
                                           ControlCase{"Command2", QStringLiteral("実行・保存"), {80, 8, 65, 25}},
                                           ControlCase{"Command3", QStringLiteral("終了"), {160, 8, 73, 25}},
                                           ControlCase{"List1", {}, {8, 40, 225, 328}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Window, list_entries_keep_their_order_and_show_whole_as_tooltips_where_they_do_not_fit)
{
    const std::string longName = "Light_M42_300.0s_Bin1_gain100_20261206-221503_-10.0C_0001.fit";
    showAndActivate();
    choose("/data", {"c.fit", "a.fit", longName, "B.fit"});

    EXPECT_THAT(entries(), ElementsAre("c.fit", "a.fit", longName, "B.fit"));
    EXPECT_EQ(toolTipAt(2), longName);
    EXPECT_EQ(toolTipAt(0), "");
}

// -- Keys ---------------------------------------------------------------------------------------

struct KeyCase {
    std::string label;
    const char* focus;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::vector<std::string> entriesAfter; // after choosing /data/a.fit, which does not exist
    std::size_t messagesAfter;
};

class Key : public Window, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(Key, presses_the_focused_button_and_nothing_else)
{
    const KeyCase& c = GetParam();
    showAndActivate();
    choose("/data", {"a.fit"});
    list().setCurrentRow(0);
    child<QWidget>(c.focus).setFocus();
    if (c.focus == std::string("Command1"))
        dialogScript.push_back(DialogAnswer::cancel()); // TearDown checks that it was shown

    // Through the window, as the window system delivers it: to whichever widget has the focus.
    QTest::keyClick(form.windowHandle(), c.key, c.modifiers);

    EXPECT_EQ(entries(), c.entriesAfter);
    EXPECT_EQ(messages.size(), c.messagesAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Form1, Key,
    ::testing::Values(KeyCase{"Return_on_Command1", "Command1", Qt::Key_Return, Qt::NoModifier, {}, 0},
                      KeyCase{"keypad_Enter_on_Command1", "Command1", Qt::Key_Enter, Qt::KeypadModifier, {}, 0},
                      KeyCase{"Space_on_Command1", "Command1", Qt::Key_Space, Qt::NoModifier, {}, 0},
                      KeyCase{"Return_on_Command2", "Command2", Qt::Key_Return, Qt::NoModifier, {"a.fit"}, 1},
                      KeyCase{"Return_on_List1", "List1", Qt::Key_Return, Qt::NoModifier, {"a.fit"}, 0}),
    [](const auto& info) { return info.param.label; });

// -- Selection ----------------------------------------------------------------------------------

struct SelectionCase {
    std::string label;
    std::vector<DialogAnswer> answers; // one click of Command1 each
    std::string dirPath;
    std::int32_t entryCount;
    std::vector<std::string> entries;
    std::vector<std::string> splitParts;
};

class Selection : public Window, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, sets_the_folder_the_count_and_the_list_from_the_dialogs_answer)
{
    const SelectionCase& c = GetParam();
    for (const DialogAnswer& answer : c.answers) {
        dialogScript.push_back(answer);
        click("Command1");
    }

    EXPECT_EQ(form.selection().dirPath, c.dirPath);
    EXPECT_EQ(form.selection().entryCount, c.entryCount);
    EXPECT_EQ(entries(), c.entries);
    EXPECT_EQ(form.splitParts(), c.splitParts);
    EXPECT_THAT(messages, IsEmpty()) << "a selection never shows a message";
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Form1, Selection,
    ::testing::Values(
        SelectionCase{"one_file", {DialogAnswer::choose("/data/a.fit")}, "/data/", 2, {"a.fit"}, {"/data/a.fit"}},
        SelectionCase{"three_files",
                      {DialogAnswer::choose("/data\0a.fit\0b.fit\0c.fit"s)},
                      "/data/",
                      4,
                      {"a.fit", "b.fit", "c.fit"},
                      {"/data", "a.fit", "b.fit", "c.fit"}},
        SelectionCase{"one_file_in_the_root", {DialogAnswer::choose("/a.fit")}, "/", 2, {"a.fit"}, {"/a.fit"}},
        SelectionCase{"several_files_in_the_root",
                      {DialogAnswer::choose("/\0a.fit\0b.fit"s)},
                      "/",
                      3,
                      {"a.fit", "b.fit"},
                      {"/", "a.fit", "b.fit"}},
        SelectionCase{"folder_given_with_its_separator",
                      {DialogAnswer::choose("/data/\0a.fit\0b.fit"s)},
                      "/data/",
                      3,
                      {"a.fit", "b.fit"},
                      {"/data/", "a.fit", "b.fit"}},
        SelectionCase{"one_path_with_a_doubled_separator_gives_a_folder_ending_with_one",
                      {DialogAnswer::choose("/data//a.fit")}, "/data/", 2, {"a.fit"}, {"/data//a.fit"}},
        SelectionCase{"a_folder_of_separators_is_the_root",
                      {DialogAnswer::choose("//\0a.fit"s)}, "/", 2, {"a.fit"}, {"//", "a.fit"}},
        SelectionCase{"an_answer_without_a_folder_ends_it_silently_like_a_cancel",
                      {DialogAnswer::choose("/data/a.fit"), DialogAnswer::choose("a.fit")},
                      "/data/",
                      2,
                      {},
                      {"a.fit"}},
        SelectionCase{"names_without_a_dot_or_with_another_extension_unchecked",
                      {DialogAnswer::choose("/データ/星雲 M42\0noext\0notes.txt\0IMG01.FIT"s)},
                      "/データ/星雲 M42/",
                      4,
                      {"noext", "notes.txt", "IMG01.FIT"},
                      {"/データ/星雲 M42", "noext", "notes.txt", "IMG01.FIT"}},
        SelectionCase{"empty_parts_are_kept",
                      {DialogAnswer::choose("/data\0\0a.fit\0"s)},
                      "/data/",
                      4,
                      {"", "a.fit", ""},
                      {"/data", "", "a.fit", ""}},
        SelectionCase{"a_new_selection_replaces_the_previous_one",
                      {DialogAnswer::choose("/one\0a.fit\0b.fit\0c.fit"s), DialogAnswer::choose("/two/d.fit")},
                      "/two/",
                      2,
                      {"d.fit"},
                      {"/two/d.fit"}},
        SelectionCase{"cancel_before_any_selection", {DialogAnswer::cancel()}, "", 0, {}, {}},
        SelectionCase{"cancel_empties_the_list_and_keeps_the_previous_folder_and_count",
                      {DialogAnswer::choose("/data\0a.fit\0b.fit"s), DialogAnswer::cancel()},
                      "/data/",
                      3,
                      {},
                      {"/data", "a.fit", "b.fit"}},
        SelectionCase{"any_other_failure_of_the_dialog_ends_it_as_silently",
                      {DialogAnswer::choose("/data/a.fit"), DialogAnswer::fail()},
                      "/data/",
                      2,
                      {},
                      {"/data/a.fit"}}),
    [](const auto& info) { return info.param.label; });

// -- Runs ---------------------------------------------------------------------------------------

class Run : public Window {
public:
    void put(const std::string& name, const Bytes& bytes) const { test::writeFile(scratch.file(name), bytes); }
    Bytes read(const std::string& name) const { return test::readFile(scratch.file(name)); }
    std::string folder() const { return scratch.dirPath().substr(0, scratch.dirPath().size() - 1); }

    ScratchDir scratch;
};

TEST_F(Run, repairs_the_chosen_files_and_shows_the_queue_shrinking_while_it_runs)
{
    const Bytes first = test::imageWithDropouts(3, {2880 + 12160 + 100, 2880 + 2 * 12160 + 6080}, 1);
    const Bytes second = test::imageWithDropouts(3, {2880 + 12160 + 4000}, 2);
    put("a.fit", first);
    put("星雲.FIT", second);
    showAndActivate();
    choose(folder(), {"a.fit", "星雲.FIT"});
    PaintRecorder painted(list());
    // A second click, arriving while the run works: it is served once the run has ended, as a
    // second run, which finds the completion message where a file name should be.
    std::vector<std::vector<std::string>> clickedWith;
    QObject::connect(&button("Command2"), &QPushButton::pressed, [&] { clickedWith.push_back(entries()); });
    painted.onFirstPaint = [&] {
        QPushButton& target = button("Command2");
        const QPointF centre = target.rect().center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(&target, new QMouseEvent(type, centre, target.mapToGlobal(centre), Qt::LeftButton,
                                                                 type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                                 Qt::NoModifier));
    };

    click("Command2");

    // Painted at the start of each file, while the click was still being handled, with the
    // entries' text on the screen: two lines at the first file, one at the second.
    EXPECT_EQ(painted.entries, (std::vector<std::vector<std::string>>{{"a.fit", "星雲.FIT"}, {"星雲.FIT"}}));
    EXPECT_EQ(painted.linesOnRemoving, (std::vector<int>{2, 1}));
    EXPECT_EQ(form.runValues().fileName, "星雲.FIT");
    EXPECT_THAT(entries(), ElementsAre(kDone));
    EXPECT_THAT(messages, IsEmpty());
    QApplication::processEvents();
    EXPECT_EQ(clickedWith, (std::vector<std::vector<std::string>>{{"a.fit", "星雲.FIT"}, {kDone}}));
    EXPECT_EQ(messages.size(), 1u);
    Bytes expectedFirst = first;
    repairDropouts(expectedFirst, static_cast<std::int64_t>(expectedFirst.size()));
    EXPECT_NE(expectedFirst, first);
    EXPECT_EQ(read("a_R.fit"), expectedFirst);
    EXPECT_EQ(read("星雲_R.fit").size(), second.size());
    EXPECT_EQ(read("a.fit"), first);
    EXPECT_EQ(form.selection().entryCount, 3) << "a run leaves the selection as it was";
}

struct FailureCase {
    std::string label;
    std::function<void(Run&)> prepare; // selects and runs up to the failing click
    std::vector<std::string> causeAndPath; // in the message, with the scratch folder in front of the path
    std::vector<std::string> entriesAfter;
};

class FailingRun : public Run, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailingRun, is_reported_in_a_message_box_and_the_window_carries_on)
{
    const FailureCase& c = GetParam();
    c.prepare(*this);
    messages.clear();

    click("Command2");

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, QStringLiteral("Tarnis Ver3.0"));
    const std::string text = messages[0].text.toStdString();
    EXPECT_THAT(text, HasSubstr(c.causeAndPath[0]));
    EXPECT_THAT(text, HasSubstr(scratch.dirPath() + c.causeAndPath[1]));
    EXPECT_EQ(entries(), c.entriesAfter) << "the list as the failure left it";
    EXPECT_FALSE(form.fileSlot().isOpen());

    // The window still works: a new selection runs to its end.
    put("next.fit", test::imageWithDropouts(2, {2880 + 12160}));
    choose(folder(), {"next.fit"});
    EXPECT_THAT(entries(), ElementsAre("next.fit"));
    click("Command2");
    EXPECT_THAT(entries(), ElementsAre(kDone));
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(scratch.file("next_R.fit")));
}

INSTANTIATE_TEST_SUITE_P(
    Form1, FailingRun,
    ::testing::Values(
        FailureCase{"missing_file",
                    [](Run& f) {
                        f.put("a.fit", test::imageWithDropouts(2, {}));
                        f.choose(f.folder(), {"a.fit", "gone.fit", "c.fit"});
                    },
                    {"見つかりません", "gone.fit"},
                    {"gone.fit", "c.fit"}},
        FailureCase{"second_run_after_one_selection",
                    [](Run& f) {
                        f.put("a.fit", test::imageWithDropouts(2, {}));
                        f.choose(f.folder(), {"a.fit"});
                        f.click("Command2");
                    },
                    {"見つかりません", kDone},
                    {kDone}},
        FailureCase{"run_after_a_cancelled_selection",
                    [](Run& f) {
                        f.put("a.fit", test::imageWithDropouts(2, {}));
                        f.choose(f.folder(), {"a.fit"});
                        f.dialogScript.push_back(DialogAnswer::cancel());
                        f.click("Command1");
                    },
                    {"フォルダ", ""},
                    {}}),
    [](const auto& info) { return info.param.label; });

// -- Exit ---------------------------------------------------------------------------------------

struct ExitCase {
    std::string label;
    std::function<void(Form1&)> close;
};

class Exit : public Window, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(Exit, closes_file_slot_1_and_the_window_and_ends_the_event_loop_with_status_0)
{
    ScratchDir scratch;
    test::writeFile(scratch.file("open.fit"), Bytes(10, 1));
    form.fileSlot().openForReading(scratch.file("open.fit").string());
    showAndActivate();
    // Should the window fail to end the loop, this ends it with another status instead of hanging.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    giveUp.start(20000);
    QTimer::singleShot(0, &form, [this] { GetParam().close(form); });

    const int status = QCoreApplication::exec();

    EXPECT_EQ(status, 0);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.fileSlot().isOpen());
    EXPECT_THAT(messages, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Form1, Exit,
    ::testing::Values(ExitCase{"Command3",
                               [](Form1& form) {
                                   QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command3")),
                                                     Qt::LeftButton);
                               }},
                      ExitCase{"close_box",
                               [](Form1& form) {
                                   // What the window system sends when the close box is clicked.
                                   QCloseEvent event;
                                   QApplication::sendEvent(form.windowHandle(), &event);
                               }}),
    [](const auto& info) { return info.param.label; });

} // namespace
} // namespace tarnis
