// Qt's file dialog as the selection sets it up and shows it, and its answer in the selection's form.
#include "ui/open_dialog.h"

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"
#include "ui/qt_translations.h"

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

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using namespace std::string_literals;

// Waits for the dialog's file view, filled from a background thread, to list `expected`.
::testing::AssertionResult lists(QFileDialog& dialog, const std::set<std::string>& expected)
{
    std::set<std::string> names;
    const auto listed = [&] {
        const auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
        names.clear();
        for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
            names.insert(
                view->model()->index(row, 0, view->rootIndex()).data().toString().toStdString());
        return names == expected;
    };
    if (QTest::qWaitFor(listed, 10000))
        return ::testing::AssertionSuccess();
    std::string shown;
    for (const std::string& name : names)
        shown += " " + name;
    return ::testing::AssertionFailure() << "the dialog lists:" << shown;
}

class RealDialog : public ::testing::Test {
protected:
    RealDialog()
    {
        for (const char* name : {"a.fit", "IMG.FIT", "noext", "b.txt", "sub/far.fit"}) {
            std::filesystem::create_directories(scratch.file(name).parent_path());
            test::writeFile(scratch.file(name), test::Bytes(4, 1));
        }
    }

    test::ScratchDir scratch;
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
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("fit ファイル (*.fit)"));
    EXPECT_TRUE(lists(dialog, {"a.fit", "IMG.FIT", "sub"}));
    QStringList texts{dialog.windowTitle()};
    for (QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons())
        texts.append(button->text());
    for (const char* label : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
        texts.append(dialog.findChild<QLabel*>(QLatin1String(label))->text());
    EXPECT_EQ(texts, (QStringList{"開く", "開く(&O)", "キャンセル",
                                  "アドレス:", "ファイル名(&N):", "ファイルの種類:"}));

    // The user picks the other filter in the dialog's filter box, and then back again.
    auto* filterBox = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QTest::keyClick(filterBox, Qt::Key_Up);
    EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("すべてのファイル (*.*)"));
    EXPECT_TRUE(lists(dialog, {"a.fit", "IMG.FIT", "noext", "b.txt", "sub"}));
    QTest::keyClick(filterBox, Qt::Key_Down);
    EXPECT_TRUE(lists(dialog, {"a.fit", "IMG.FIT", "sub"}));
    dialog.reject();
}

// Shows the real dialog modally, and once it shows, notes the folder it opens in and types `typed`
// as the file name (nothing: cancels). Returns its answer, or "cancelled".
std::string showAndType(QtOpenFileDialog& openDialog, const QString& typed, QStringList& shownIn)
{
    QTimer poll;
    poll.callOnTimeout([&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible())
            return;
        poll.stop();
        shownIn.append(dialog->directory().absolutePath());
        auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        nameEdit->setText(typed);
        if (!typed.isEmpty())
            QTest::keyClick(nameEdit, Qt::Key_Return); // what the user does to open them
        if (dialog->isVisible())
            dialog->reject();
    });
    poll.start(10);
    try {
        return openDialog.showOpen();
    } catch (const DialogCancelled&) {
        return "cancelled";
    }
}

// Each QtOpenFileDialog is a session's: the first dialog opens in home, or in Pictures once there is
// one, and each next one in the folder of the files chosen last, even those typed in full from
// another folder.
TEST_F(RealDialog, answers_with_the_files_chosen_and_opens_where_the_last_ones_were)
{
    const std::filesystem::path home = scratch.file("home"); // Pictures is found through HOME too
    std::filesystem::create_directory(home);
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", home.c_str());
    const QString folder = QString::fromStdString(scratch.dirPath());
    QStringList shownIn;
    QtOpenFileDialog first(nullptr);
    EXPECT_EQ(showAndType(first, {}, shownIn), "cancelled");
    std::filesystem::create_directory(home / "Pictures");
    QtOpenFileDialog session(nullptr);
    const std::string several = showAndType(
        session, "\"" + folder + "a.fit\" \"" + folder + "noext\" \"" + folder + "IMG.FIT\"",
        shownIn);
    const std::string far = showAndType(session, folder + "sub/far.fit", shownIn);
    EXPECT_EQ(showAndType(session, {}, shownIn), "cancelled");
    qputenv("HOME", realHome);

    EXPECT_EQ(several.substr(0, several.find('\0')) + "/", scratch.dirPath());
    std::multiset<std::string> parts;
    for (std::size_t start = several.find('\0'); start != std::string::npos;
         start = several.find('\0', start + 1))
        parts.insert(several.substr(start + 1, several.find('\0', start + 1) - start - 1));
    EXPECT_EQ(parts, (std::multiset<std::string>{"a.fit", "noext", "IMG.FIT"}));
    EXPECT_EQ(far, scratch.dirPath() + "sub/far.fit");
    EXPECT_EQ(shownIn, (QStringList{folder + "home", folder + "home/Pictures", folder.chopped(1),
                                    folder + "sub"}));
}

} // namespace
} // namespace tarnis
