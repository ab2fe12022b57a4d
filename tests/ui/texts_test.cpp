// Every text the user reads, written out as the user reads it, held against what the program shows:
// the window's fixed texts as its widgets show them, and every description of a failure. Other
// tests tell failures apart by their cause; the wording is checked here, once.
#include "common/cause.h"
#include "common/texts.h"
#include "tests/ui/fakes.h"
#include "ui/form1.h"
#include "ui/open_dialog.h"

#include <QFileDialog>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace tarnis {
namespace {

TEST(Texts, the_window_reads_as_written)
{
    std::deque<test::DialogAnswer> script;
    std::vector<test::ShownMessage> messages;
    Form1 form(std::make_unique<test::ScriptedDialog>(script),
               std::make_unique<test::RecordingMessageBox>(messages));
    const auto caption = [&](const char* button) {
        return form.findChild<QPushButton*>(QLatin1String(button))->text();
    };
    QFileDialog dialog;
    configureOpenDialog(dialog);
    form.runBatch(); // without a selection, the completion message alone
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.running(); }));

    EXPECT_EQ(form.windowTitle(), "Tarnis Ver3.0");
    EXPECT_EQ(caption("Command1"), "ﾌｧｲﾙ選択");
    EXPECT_EQ(caption("Command2"), "実行・保存");
    EXPECT_EQ(caption("Command3"), "終了");
    EXPECT_EQ(form.findChild<QListWidget*>()->item(0)->text(),
              "選択されたﾌｧｲﾙの処理を終了しました");
    EXPECT_EQ(dialog.nameFilters(),
              (QStringList{"すべてのファイル (*.*)", "fit ファイル (*.fit)"}));
}

TEST(Texts, every_description_of_a_failure_reads_as_written)
{
    const std::string path = "/data/a.fit";
    const auto shown = [](FileAction action, const std::string& path, Cause cause,
                          const std::string& detail = {}) {
        return describe(action, path, cause, detail, Language::Japanese);
    };
    EXPECT_EQ(shown(FileAction::Read, path, Cause::NotFound),
              "ファイルを読み込めませんでした。\n/data/a.fit\nファイルが見つかりません。");
    EXPECT_EQ(
        shown(FileAction::Repair, path, Cause::OddLength),
        "ファイルを修復できませんでした。\n/data/a.fit\n"
        "画像データの長さが奇数です。ファイルが途中で切れているか、16 ビットの画像ではありません。");
    EXPECT_EQ(
        shown(FileAction::Write, path, Cause::NameTooShort),
        "ファイルを書き込めませんでした。\n/data/a.fit\nファイル名が 4 文字より短いため、出力ファイルの名前を作れません。");
    EXPECT_EQ(
        shown(FileAction::Check, path, Cause::OutputIsSelected, "a.fi"),
        "このファイルの出力は書き込めません。\n/data/a.fit\n"
        "「a.fi」の出力ファイルの名前が、選択されたファイルと同じです。選択されたファイルは上書きしません。");
    // The third line of each, the sentence of its cause with the detail it names.
    // clang-format off
    const std::vector<std::tuple<Cause, std::string, std::string>> sentences = {
        {Cause::NotFound, "", "ファイルが見つかりません。"},
        {Cause::IsFolder, "", "ファイルではなくフォルダです。"},
        {Cause::NoPermission, "", "アクセスする権限がありません。"},
        {Cause::DiskFull, "", "ディスクの空き容量が足りません。"},
        {Cause::FileSizeLimit, "", "ファイルの大きさが上限を超えます。"},
        {Cause::ReadOnlyFileSystem, "", "読み取り専用の場所には書き込めません。"},
        {Cause::NameTooLong, "", "ファイル名またはパスが長すぎます。"},
        {Cause::InvalidName, "", "ファイル名またはパスに使えない文字が含まれているか、形が正しくありません。"},
        {Cause::OutOfMemory, "", "メモリが足りません。"},
        {Cause::DeviceError, "", "ディスクの読み書きでエラーが起きました。"},
        {Cause::TooManyOpenFiles, "", "開いているファイルが多すぎます。"},
        {Cause::InUse, "", "ファイルがほかのプログラムで使われています。"},
        {Cause::SymlinkLoop, "", "シンボリックリンクが循環しているか、多すぎます。"},
        {Cause::NoDevice, "", "ファイルのある装置が見つかりません。ドライブが取り外されていないか確かめてください。"},
        {Cause::ValueTooLarge, "", "ファイルが大きすぎて、この環境では扱えません。"},
        {Cause::StaleNetworkFile, "", "ネットワーク上のファイルが無効になりました。ファイルを選び直してください。"},
        {Cause::CrossDevice, "", "別のドライブをまたいでファイルを移せません。"},
        {Cause::TimedOut, "", "応答がなく、時間切れになりました。ネットワークのドライブを確かめてください。"},
        {Cause::NetworkUnavailable, "", "ネットワークにつながりません。"},
        {Cause::Unsupported, "", "この場所では、その操作ができません。"},
        {Cause::UnknownSystemError, "40", "予期しないエラーが起きました（エラー番号 40）。"},
        {Cause::SystemError, systemErrorDetail("ハンドルが無効です。", 6), "ハンドルが無効です。（エラー番号 6）"},
        {Cause::NotRegularFile, "", "通常のファイルではありません（デバイスやパイプなど）。"},
        {Cause::FolderInTheWay, "", "同じ名前のフォルダがあるため、ファイルを作れません。"},
        {Cause::WriteProtected, "", "書き込みが禁止されているため、このファイルは置き換えません。"},
        {Cause::ChangedWhileReading, "", "読み込みの途中でファイルが変わりました。ほかのプログラムが書き込んでいないか確かめてください。"},
        {Cause::SlotBusy, "", "別のファイルが開いたままです。"},
        {Cause::TooLargeForMemory, "", "メモリが足りないため、ファイル全体を読み込めません。"},
        {Cause::OddLength, "", "画像データの長さが奇数です。ファイルが途中で切れているか、16 ビットの画像ではありません。"},
        {Cause::NameTooShort, "", "ファイル名が 4 文字より短いため、出力ファイルの名前を作れません。"},
        {Cause::NameHasFolder, "", "ファイル名にフォルダの区切りが含まれているため、出力先を決められません。"},
        {Cause::OutputIsSelected, "M31.fit",
         "「M31.fit」の出力ファイルの名前が、選択されたファイルと同じです。選択されたファイルは上書きしません。"},
        {Cause::OutputOfAnotherInput, "dark_0001",
         "先に処理する「dark_0001」の出力ファイルと同じ名前です（大文字と小文字は区別しません）。その出力は上書きしません。"},
        {Cause::NotAnEarlierOutput, "M31.fit", "同じ名前のファイルがすでにあり、「M31.fit」から作った出力ではないため、上書きしません。"},
        {Cause::OutputChanged, "", "書き込みの途中で、同じ名前のファイルがほかのプログラムに作られたか変えられたため、上書きしません。"},
        {Cause::NotFits, "89 50 4E 47", "FITS ファイルではありません（先頭が「89 50 4E 47」です）。"},
        {Cause::NoEndCard, "15040", "FITS ヘッダーの終わり（END）が、先頭から 15040 バイトの中に見つかりません。"},
        {Cause::NotSixteenBit, "BITPIX = -32", "16 ビット整数の画像ではありません（BITPIX = -32）。"},
        {Cause::NotUnsignedSamples, "BZERO = 0",
         "符号なし 16 ビットの画像（BZERO = 32768、BSCALE = 1）ではないため、欠落した画素を見分けられません（BZERO = 0）。"},
        {Cause::BlankSamples, "BLANK = -32768",
         "このファイルでは 0x8000 のサンプルは空白の画素を表す（BLANK = -32768）ため、欠落した画素として修復しません。"},
        {Cause::NoImageRows, "NAXIS = 0", "行のある画像ではありません（NAXIS = 0）。圧縮された画像には対応していません。"},
        {Cause::MissingKeyword, "NAXIS2", "FITS ヘッダーに、整数の値を持つ NAXIS2 がありません。"},
        {Cause::BadAxisLength, "NAXIS2 = 0", "画像の大きさが正しくありません（NAXIS2 = 0）。"},
        {Cause::ImageTooLarge, "9 x 9", "画像の大きさが扱える範囲を超えます（9 x 9）。"},
    }; // clang-format on

    std::map<Cause, std::string> written;
    for (const auto& [cause, detail, sentence] : sentences) {
        EXPECT_EQ(shown(FileAction::Read, path, cause, detail),
                  "ファイルを読み込めませんでした。\n/data/a.fit\n" + sentence);
        written[cause] = detail;
    }
    // Every cause, however many there are: each one written out above, and each one's English
    // sentence its own (the English wording itself is tarnis-repair's tests' to check).
    std::map<std::string, Cause> english;
    int count = 0;
    for (; !causeName(Cause(count)).empty(); ++count) {
        const Cause cause = Cause(count);
        EXPECT_TRUE(written.contains(cause))
            << "no Japanese sentence written out for " << causeName(cause);
        const std::string sentence = describeCause(cause, written[cause], Language::English);
        const auto [other, added] = english.emplace(sentence, cause);
        EXPECT_TRUE(added && !sentence.empty())
            << causeName(cause) << " reads as " << causeName(other->second) << ": " << sentence;
    }
    EXPECT_EQ(count, static_cast<int>(written.size()));
}

} // namespace
} // namespace tarnis
