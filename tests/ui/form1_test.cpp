// The window as the user drives it, with a scripted dialog and a message box that records.
#include "ui/form1.h"

#include "common/error.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/scratch_dir.h"
#include "tests/ui/fakes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace tarnis {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Entries = std::vector<std::string>;

const std::string kDone = "選択されたﾌｧｲﾙの処理を終了しました";

// The lines of text that the list's last paint left on the screen, from the pixels, not the model:
// bands of pixel rows that differ from the background.
int linesOnScreen(QListWidget& list)
{
    const QRect area(list.viewport()->mapTo(list.window(), QPoint(0, 0)), list.viewport()->size());
    const QImage image = list.screen()
                             ->grabWindow(list.window()->winId(), area.x(), area.y(), area.width(),
                                          area.height())
                             .toImage();
    int lines = 0;
    bool inLine = false;
    for (int y = 0; y < image.height(); ++y) {
        bool marked = false;
        for (int x = 0; x < image.width() && !marked; ++x)
            marked = image.pixel(x, y) != image.pixel(image.width() - 1, image.height() - 1);
        lines += marked && !inLine ? 1 : 0;
        inLine = marked;
    }
    return lines;
}

// Helpers are public so that the cases of a table can drive the window through them.
class Window : public ::testing::Test {
public:
    Window()
        : form(std::make_unique<test::ScriptedDialog>(script),
               std::make_unique<test::RecordingMessageBox>(messages))
    {
    }
    void TearDown() override
    {
        EXPECT_THAT(script, IsEmpty()) << "the dialog was shown fewer times than scripted";
    }

    QWidget& child(const char* name)
    {
        QWidget* widget = form.findChild<QWidget*>(QLatin1String(name));
        return widget != nullptr ? *widget
                                 : throw std::logic_error(std::string("no widget named ") + name);
    }
    QPushButton& button(const char* name) { return static_cast<QPushButton&>(child(name)); }
    QListWidget& list() { return static_cast<QListWidget&>(child("List1")); }
    Entries entries()
    {
        Entries all;
        for (int i = 0; i < list().count(); ++i)
            all.push_back(list().item(i)->text().toStdString());
        return all;
    }

    // Lets the window serve its events until its run has ended.
    void waitForRun()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.running(); }, 60000));
    }
    void showAndActivate()
    {
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    // A click as the user makes it: pressed and released over the button.
    void click(const char* name) { QTest::mouseClick(&button(name), Qt::LeftButton); }
    // Chooses files through the scripted dialog, as one answer: the folder then the names.
    void choose(const std::string& folder, const Entries& names)
    {
        std::string answer = folder;
        for (const std::string& name : names)
            answer += '\0' + name;
        script.push_back(test::choose(answer));
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

    std::deque<test::DialogAnswer> script;
    std::vector<test::ShownMessage> messages;
    Form1 form;
};

TEST_F(Window, has_its_controls_where_they_belong_whatever_its_size_and_nothing_else)
{
    showAndActivate();
    EXPECT_EQ(form.size(), QSize(245, 378));
    form.resize(600, 700); // resizing moves nothing
    QApplication::processEvents();

    const std::vector<std::pair<const char*, QRect>> controls = {{"Command1", {8, 8, 65, 25}},
                                                                 {"Command2", {80, 8, 65, 25}},
                                                                 {"Command3", {160, 8, 73, 25}},
                                                                 {"List1", {8, 40, 225, 328}}};
    for (const auto& [name, geometry] : controls)
        EXPECT_EQ(child(name).geometry(), geometry) << name;
    for (const QPushButton* b : form.findChildren<QPushButton*>())
        EXPECT_FALSE(b->isDefault() || b->autoDefault()) << "no button is the window's default";
    EXPECT_EQ(form.findChildren<QPushButton*>().size(), 3);
    EXPECT_EQ(list().selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(list().isSortingEnabled());
    EXPECT_THAT(entries(), IsEmpty());
}

TEST_F(Window, focus_starts_on_Command1_and_tab_goes_to_Command2_List1_Command3)
{
    showAndActivate();
    std::vector<QString> order{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget()->objectName());
    }
    EXPECT_THAT(order, ElementsAre("Command1", "Command2", "List1", "Command3", "Command1"));
}

TEST_F(Window, list_entries_keep_their_order_and_show_whole_as_tooltips_where_they_do_not_fit)
{
    const std::string longName = "Light_M42_300.0s_Bin1_gain100_20261206-221503_-10.0C_0001.fit";
    showAndActivate();
    choose("/data", {"c.fit", "a.fit", longName, "B.fit"});

    EXPECT_THAT(entries(), ElementsAre("c.fit", "a.fit", longName, "B.fit"));
    EXPECT_EQ(toolTipAt(2), longName);
    EXPECT_EQ(toolTipAt(0), "");
}

// Dragged from a file manager and dropped on the list, which leaves drops to the window: queued as
// a choice in the dialog is; files of two folders are refused with a message, the list kept.
TEST_F(Window, files_dropped_on_the_list_are_queued_as_if_chosen)
{
    showAndActivate();
    EXPECT_TRUE(form.acceptDrops() && !list().acceptDrops() && !list().viewport()->acceptDrops());
    const QPoint onTheList = list().mapTo(&form, list().rect().center());
    for (const auto& [files, expected] : std::vector<std::pair<QStringList, Entries>>{
             {{"/data/b.fit", "/data/a.fit"}, {"b.fit", "a.fit"}},
             {{"/data/a.fit", "/other/b.fit"}, {"b.fit", "a.fit"}}}) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& file : files)
            urls.append(QUrl::fromLocalFile(file));
        data.setUrls(urls);
        QDragEnterEvent enter(onTheList, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&form, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(onTheList, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&form, &drop);
        EXPECT_EQ(entries(), expected);
    }
    EXPECT_EQ(form.selection().dirPath, "/data/");
    EXPECT_EQ(messages.size(), 1u) << "files of two folders are refused with a message";
}

struct KeyCase {
    std::string label;
    const char* focus;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    Entries entriesAfter; // after choosing /data/a.fit, which does not exist
    std::size_t messagesAfter;
};

class Key : public Window, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(Key, presses_the_focused_button_and_nothing_else)
{
    const KeyCase& c = GetParam();
    showAndActivate();
    choose("/data", {"a.fit"});
    list().setCurrentRow(0);
    child(c.focus).setFocus();
    if (c.focus == std::string("Command1"))
        script.push_back(test::kCancel); // TearDown checks that it was shown

    // Through the window, as the window system delivers it: to whichever widget has the focus.
    QTest::keyClick(form.windowHandle(), c.key, c.modifiers);
    waitForRun();

    EXPECT_EQ(entries(), c.entriesAfter);
    EXPECT_EQ(std::make_pair(form.selection().dirPath, form.selection().entryCount),
              std::make_pair(std::string("/data/"), 2))
        << "a cancelled selection keeps the folder and the count";
    ASSERT_EQ(messages.size(), c.messagesAfter);
    for (const test::ShownMessage& shown :
         messages) // the failure as the engine describes it, under the window's title
        EXPECT_EQ(
            shown,
            (test::ShownMessage{
                "Tarnis Ver3.0",
                "ファイルを読み込めませんでした。\n/data/a.fit\nファイルが見つかりません。"}));
}

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Form1, Key,
                         ::testing::Values(KeyCase{"Return_on_Command1", "Command1", Qt::Key_Return, Qt::NoModifier, {}, 0},
                                           KeyCase{"keypad_Enter_on_Command1", "Command1", Qt::Key_Enter, Qt::KeypadModifier, {}, 0},
                                           KeyCase{"Space_on_Command1", "Command1", Qt::Key_Space, Qt::NoModifier, {}, 0},
                                           KeyCase{"Return_on_Command2", "Command2", Qt::Key_Return, Qt::NoModifier, {"a.fit"}, 1},
                                           KeyCase{"Return_on_List1", "List1", Qt::Key_Return, Qt::NoModifier, {"a.fit"}, 0}),
                         [](const auto& info) { return info.param.label; });
// clang-format on

class Run : public Window {
public:
    std::string folder() const { return scratch.dirPath().substr(0, scratch.dirPath().size() - 1); }
    test::ScratchDir scratch;
};

// A run of many files goes on while the window serves its events: disabled under a wait cursor, it
// paints the queue shrinking, and a click, Return and the close box made meanwhile are dropped
// rather than served once the run has ended (as a second run, which would take the completion
// message for a file name).
TEST_F(Run,
       goes_on_with_the_window_busy_painting_its_queue_and_drops_clicks_keys_and_closing_meanwhile)
{
    Entries names{"a.fit", "星雲.FIT"};
    for (int i = 0; i < 10; ++i)
        names.push_back("light" + std::to_string(i) + ".fit");
    for (const std::string& name : names)
        test::writeFile(scratch.file(name), test::imageWithDropouts(3, {2880 + 12160 + 100}, 1));
    showAndActivate();
    choose(folder(), names);
    button("Command2").setFocus();
    std::vector<int> painted; // the entries at each paint during the run, one count for a series
    bool busyAtEachPaint = true;
    std::vector<int> linesShown;
    int presses = 0;
    QObject::connect(list().model(), &QAbstractItemModel::rowsAboutToBeRemoved,
                     [&] { linesShown.push_back(linesOnScreen(list())); });
    QObject::connect(&button("Command2"), &QPushButton::pressed, [&] { ++presses; });
    const test::EventSpy paints(*list().viewport(), QEvent::Paint, [&] {
        if (!form.running())
            return;
        if (painted.empty() || painted.back() != list().count())
            painted.push_back(list().count());
        busyAtEachPaint = busyAtEachPaint && !button("Command2").isEnabled()
                          && QApplication::overrideCursor() != nullptr
                          && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        if (painted.size() != 2 || presses != 1)
            return;
        QPushButton& target = button("Command2");
        const QPointF centre = target.rect().center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(
                &target, new QMouseEvent(
                             type, centre, target.mapToGlobal(centre), Qt::LeftButton,
                             type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {}));
        QCoreApplication::postEvent(
            &target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
        QTest::keyClick(form.windowHandle(), Qt::Key_Return);
        QCloseEvent close; // what the window system sends when the close box is clicked
        QApplication::sendEvent(form.windowHandle(), &close);
    });

    click("Command2");
    EXPECT_TRUE(form.running()) << "the click returns while the run goes on";
    waitForRun();
    QApplication::processEvents();

    std::vector<int> shrinking;
    for (int left = static_cast<int>(names.size()); left > 0; --left)
        shrinking.push_back(left);
    painted.resize(std::min(painted.size(), shrinking.size())); // the completion message follows
    EXPECT_EQ(painted, shrinking);
    EXPECT_EQ(linesShown, shrinking);
    EXPECT_TRUE(busyAtEachPaint);
    EXPECT_EQ(presses, 1);
    EXPECT_THAT(entries(), ElementsAre(kDone));
    EXPECT_THAT(messages, IsEmpty());
    for (const std::string& name : names)
        EXPECT_TRUE(
            std::filesystem::exists(scratch.file(name.substr(0, name.size() - 4) + "_R.fit")));
    EXPECT_EQ(form.selection().entryCount, 13) << "a run leaves the selection as it was";
    EXPECT_TRUE(form.isVisible() && button("Command2").isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), &button("Command2"));
}

// Command3 and the close box: both close file slot 1 and the window and end the event loop with 0.
TEST_F(Run, Command3_and_the_close_box_close_file_slot_1_and_the_window_and_end_the_program)
{
    test::writeFile(scratch.file("open.fit"), test::Bytes(10, 1));
    showAndActivate();
    for (const bool closeBox : {false, true}) {
        form.fileSlot().openForReading(scratch.file("open.fit").string());
        form.show();
        // Should the window fail to end the loop, this ends it with another status instead of hanging.
        QTimer giveUp;
        giveUp.callOnTimeout([] { QCoreApplication::exit(99); });
        giveUp.start(20000);
        QTimer::singleShot(0, &form, [&] {
            QCloseEvent event; // what the window system sends when the close box is clicked
            closeBox ? void(QApplication::sendEvent(form.windowHandle(), &event))
                     : click("Command3");
        });
        EXPECT_EQ(QCoreApplication::exec(), 0) << (closeBox ? "close box" : "Command3");
        EXPECT_FALSE(form.isVisible() || form.fileSlot().isOpen());
    }
    EXPECT_THAT(messages, IsEmpty());
}

// The program started where there is no display at all: its help and version are printed and end
// it with 0, and without them one line says why no window opens.
struct StartCase {
    std::string label;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string error;
};

void PrintTo(const StartCase& c, std::ostream* out) { *out << c.label; }

class Started : public ::testing::TestWithParam<StartCase> {};

TEST_P(Started, without_a_display_prints_its_help_or_version_or_one_line_of_failure)
{
    const StartCase& c = GetParam();
    const test::ScratchDir scratch;
    const test::ProgramResult result = test::runProgram(
        TARNIS_PROGRAM, c.arguments, scratch.path(), {}, {},
        {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "XDG_SESSION_TYPE="});
    EXPECT_EQ(result.exitStatus, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.error, c.error);
}

const std::string kHelp =
    "Usage: tarnis [OPTION]... [FILE]...\n"
    "Opens Tarnis's window, which repairs dropouts (samples stored as the bytes 80 00) in\n"
    "16-bit FITS images and writes each repaired copy beside its input as NAME_R.fit.\n"
    "The FILEs, which must lie in one folder, are queued as if chosen in the window.\n"
    "tarnis-repair does the same from the command line.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n";
const std::string kNoDisplay =
    "tarnis: cannot open the window: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)\n";

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Program, Started,
    ::testing::Values(StartCase{"help", {"--help"}, 0, kHelp, ""},
                      StartCase{"short_help_after_a_file", {"a.fit", "-h"}, 0, kHelp, ""},
                      StartCase{"version", {"--version"}, 0, "tarnis 3.0\n", ""},
                      StartCase{"short_version", {"-V"}, 0, "tarnis 3.0\n", ""},
                      StartCase{"help_after_two_dashes_is_a_file", {"--", "--help"}, 1, "", kNoDisplay},
                      StartCase{"no_arguments", {}, 1, "", kNoDisplay}),
    [](const auto& info) { return info.param.label; });
// clang-format on

} // namespace
} // namespace tarnis
