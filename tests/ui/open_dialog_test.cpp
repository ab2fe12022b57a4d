#include "ui/open_dialog.h"

#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"
#include "ui/qt_translations.h"
#include "ui/selection.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using test::ScratchDir;
using ::testing::ElementsAre;
using namespace std::string_literals;

// -- The dialog's answer in the selection's form ------------------------------------------------

struct AnswerCase {
    std::string label;
    QStringList chosen;
    std::string result; // empty: refused, since no one folder holds every file
};

class Answer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(Answer, names_the_folder_and_the_files_so_that_together_they_give_each_path)
{
    const AnswerCase& c = GetParam();
    if (c.result.empty()) {
        EXPECT_THROW((void)resultText(c.chosen), std::invalid_argument);
        return;
    }

    const std::string result = resultText(c.chosen);

    EXPECT_EQ(result, c.result);
    // Whatever form it takes, the selection must make each chosen path of it again.
    test::MemoryFileList list;
    SelectionState selection;
    std::vector<std::string> parts;
    parseSelection(result, list, selection, parts);
    ASSERT_EQ(list.entries.size(), static_cast<std::size_t>(c.chosen.size()));
    for (std::size_t i = 0; i < list.entries.size(); ++i)
        EXPECT_EQ(selection.dirPath + list.entries[i], c.chosen[static_cast<qsizetype>(i)].toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    OpenDialog, Answer,
    ::testing::Values(
        AnswerCase{"one_file", {"/data/a.fit"}, "/data/a.fit"},
        AnswerCase{"several_files_in_the_dialogs_order", {"/data/b.fit", "/data/a.fit", "/data/c"}, "/data\0b.fit\0a.fit\0c"s},
        AnswerCase{"japanese_names", {"/星/画像 1.fit", "/星/ｵﾘｵﾝ.fit"}, "/星\0画像 1.fit\0ｵﾘｵﾝ.fit"s},
        AnswerCase{"typed_paths_from_two_folders", {"/data/a.fit", "/data/y/b.fit"}, ""},
        AnswerCase{"a_folder_whose_name_starts_like_another", {"/data/ab/a.fit", "/data/abc/b.fit"}, ""}),
    [](const auto& info) { return info.param.label; });

// -- Qt's file dialog as the selection configures it ---------------------------------------------

// The names the dialog's file view lists in the folder it shows.
std::set<std::string> listedNames(QFileDialog& dialog)
{
    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    std::set<std::string> names;
    if (view == nullptr || view->model() == nullptr)
        return names;
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row)
        names.insert(view->model()->index(row, 0, root).data().toString().toStdString());
    return names;
}

// Waits for the file view, which is filled from a background thread, to list `expected`.
::testing::AssertionResult lists(QFileDialog& dialog, const std::set<std::string>& expected)
{
    if (QTest::qWaitFor([&] { return listedNames(dialog) == expected; }, 10000))
        return ::testing::AssertionSuccess();
    std::string listed;
    for (const std::string& name : listedNames(dialog))
        listed += " " + name;
    return ::testing::AssertionFailure() << "the dialog lists:" << listed;
}

class RealDialog : public ::testing::Test {
protected:
    RealDialog()
    {
        for (const char* name : {"a.fit", "IMG.FIT", "noext", "b.txt"})
            test::writeFile(scratch.file(name), test::Bytes(4, 1));
        std::filesystem::create_directory(scratch.file("sub"));
    }

    ScratchDir scratch;
};

TEST_F(RealDialog, lists_fit_files_in_any_case_and_under_all_files_every_file_in_japanese)
{
    // As main() loads them for a Japanese user (LANG=ja_JP.UTF-8).
    const auto translations = installQtTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
    ASSERT_NE(translations, nullptr) << "Qt's translations (qt6-translations-l10n) are missing";
    QFileDialog dialog;
    configureOpenDialog(dialog);
    dialog.setDirectory(QString::fromStdString(scratch.dirPath()));
    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("fit ファイル (*.fit)"));
    EXPECT_TRUE(lists(dialog, {"a.fit", "IMG.FIT", "sub"}));
    QStringList texts{dialog.windowTitle()};
    for (QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons())
        texts.append(button->text());
    for (const char* label : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
        texts.append(dialog.findChild<QLabel*>(QLatin1String(label))->text());
    EXPECT_EQ(texts, (QStringList{"開く", "開く(&O)", "キャンセル", "アドレス:", "ファイル名(&N):", "ファイルの種類:"}));

    // The user picks the other filter in the dialog's filter box, and then back again.
    auto* filterBox = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(filterBox, nullptr);
    QTest::keyClick(filterBox, Qt::Key_Up);
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("すべてのファイル (*.*)"));
    EXPECT_TRUE(lists(dialog, {"a.fit", "IMG.FIT", "noext", "b.txt", "sub"}));

    QTest::keyClick(filterBox, Qt::Key_Down);
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("fit ファイル (*.fit)"));
    EXPECT_TRUE(lists(dialog, {"a.fit", "IMG.FIT", "sub"}));

    dialog.reject();
}

// -- The real dialog behind the selection, shown modally ----------------------------------------

// Runs `act` on the modal file dialog once it shows. A dialog that never shows leaves the test to
// fail on its own; a dialog that `act` fails to close is rejected, so no test waits on it.
class ModalDialogDriver : public QObject {
public:
    explicit ModalDialogDriver(std::function<void(QFileDialog&)> act) : act_(std::move(act))
    {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, this, &ModalDialogDriver::poll);
        poll_.start();
    }

    bool acted = false;

private:
    void poll()
    {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible())
            return;
        poll_.stop();
        acted = true;
        act_(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    }

    std::function<void(QFileDialog&)> act_;
    QTimer poll_;
};

struct ModalCase {
    std::string label;
    QString typed;                          // what the user types as the file name; empty: cancel
    std::optional<std::vector<std::string>> chosen; // names the answer carries; none: cancelled
};

class ModalDialog : public RealDialog, public ::testing::WithParamInterface<ModalCase> {};

TEST_P(ModalDialog, answers_with_the_chosen_files_or_raises_the_cancel)
{
    const ModalCase& c = GetParam();
    const QString folder = QString::fromStdString(scratch.dirPath());
    ModalDialogDriver driver([&](QFileDialog& dialog) {
        dialog.setDirectory(folder);
        if (c.typed.isEmpty()) {
            dialog.reject();
            return;
        }
        auto* nameEdit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(nameEdit, nullptr);
        nameEdit->setText(c.typed);
        QTest::keyClick(nameEdit, Qt::Key_Return); // what the user does to open them
    });
    QtOpenFileDialog openDialog(nullptr);

    std::optional<std::string> answer;
    try {
        answer = openDialog.showOpen();
    } catch (const DialogCancelled&) {
    }

    EXPECT_TRUE(driver.acted);
    if (!c.chosen) {
        EXPECT_FALSE(answer) << "a cancel must raise DialogCancelled";
        return;
    }
    ASSERT_TRUE(answer);
    test::MemoryFileList list;
    SelectionState selection;
    std::vector<std::string> parts;
    parseSelection(*answer, list, selection, parts);
    EXPECT_EQ(selection.dirPath, scratch.dirPath());
    EXPECT_EQ(std::multiset<std::string>(list.entries.begin(), list.entries.end()),
              std::multiset<std::string>(c.chosen->begin(), c.chosen->end()));
}

INSTANTIATE_TEST_SUITE_P(
    OpenDialog, ModalDialog,
    ::testing::Values(ModalCase{"one_file", QStringLiteral("IMG.FIT"), std::vector<std::string>{"IMG.FIT"}},
                      ModalCase{"several_files", QStringLiteral("\"a.fit\" \"noext\" \"IMG.FIT\""),
                                std::vector<std::string>{"a.fit", "noext", "IMG.FIT"}},
                      ModalCase{"cancel", QString(), std::nullopt}),
    [](const auto& info) { return info.param.label; });

// Each QtOpenFileDialog is a session's: the first dialog opens in home, or in Pictures once there is
// one, and the next one where the files typed in full from another folder were.
TEST_F(RealDialog, opens_in_pictures_or_home_at_first_and_then_in_the_folder_of_the_files_chosen_last)
{
    const std::filesystem::path home = scratch.file("home"); // Pictures is found through HOME too
    std::filesystem::create_directory(home);
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", home.c_str());
    test::writeFile(scratch.file("sub/far.fit"), test::Bytes(4, 1));
    QStringList shownIn;
    const auto note = [&](QFileDialog& dialog) { shownIn.append(dialog.directory().absolutePath()); };

    ModalDialogDriver inHome(note);
    EXPECT_THROW((void)QtOpenFileDialog(nullptr).showOpen(), DialogCancelled);
    std::filesystem::create_directory(home / "Pictures");
    QtOpenFileDialog session(nullptr);
    ModalDialogDriver typeFarFile([&](QFileDialog& dialog) {
        note(dialog);
        auto* nameEdit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        nameEdit->setText(QString::fromStdString(scratch.dirPath() + "sub/far.fit"));
        QTest::keyClick(nameEdit, Qt::Key_Return);
    });
    EXPECT_NO_THROW((void)session.showOpen());
    ModalDialogDriver next(note);
    EXPECT_THROW((void)session.showOpen(), DialogCancelled);
    qputenv("HOME", realHome);

    const QString folder = QString::fromStdString(scratch.dirPath());
    EXPECT_EQ(shownIn, (QStringList{folder + "home", folder + "home/Pictures", folder + "sub"}));
}

} // namespace
} // namespace tarnis
