// Every text the user reads, written out as the user reads it, held against what the program shows:
// the window's fixed texts as its widgets show them, and every description of a failure. Other
// tests tell failures apart by their cause; the wording is checked here, once.
#include "common/error.h"
#include "tests/ui/fakes.h"
#include "ui/form1.h"
#include "ui/open_dialog.h"

#include <QFileDialog>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tarnis {
namespace {

// A window of its own for each text, with a dialog and a message box that never show.
QString windowText(const std::function<QString(Form1&)>& read)
{
    std::deque<test::DialogAnswer> script;
    std::vector<test::ShownMessage> messages;
    Form1 form(std::make_unique<test::ScriptedDialog>(script), std::make_unique<test::RecordingMessageBox>(messages));
    return read(form);
}

QString caption(Form1& form, const char* button)
{
    return form.findChild<QPushButton*>(QLatin1String(button))->text();
}

QString filter(int index)
{
    QFileDialog dialog;
    configureOpenDialog(dialog);
    return dialog.nameFilters().value(index);
}

std::string described(FileAction action, Cause cause, const std::string& detail = {})
{
    return Error(action, "/data/a.fit", cause, detail).what();
}

struct TextCase {
    std::string label;
    std::function<std::string()> shown;
    std::string expected;
};

void PrintTo(const TextCase& c, std::ostream* out)
{
    *out << c.label;
}

class Text : public ::testing::TestWithParam<TextCase> {};

TEST_P(Text, reads_as_written)
{
    EXPECT_EQ(GetParam().shown(), GetParam().expected);
}

const std::string kRead = "ファイルを読み込めませんでした。\n/data/a.fit\n";

TextCase cause(const std::string& label, Cause cause, const std::string& detail, const std::string& sentence)
{
    return {label, [=] { return described(FileAction::Read, cause, detail); }, kRead + sentence};
}

TextCase window(const std::string& label, const std::function<QString(Form1&)>& read, const std::string& expected)
{
    return {label, [=] { return windowText(read).toStdString(); }, expected};
}

INSTANTIATE_TEST_SUITE_P(
    Everything, Text,
    ::testing::Values(
        window("window_title", [](Form1& f) { return f.windowTitle(); }, "Tarnis Ver3.0"),
        window("select_button", [](Form1& f) { return caption(f, "Command1"); }, "ﾌｧｲﾙ選択"),
        window("run_button", [](Form1& f) { return caption(f, "Command2"); }, "実行・保存"),
        window("exit_button", [](Form1& f) { return caption(f, "Command3"); }, "終了"),
        window("completion_message",
               [](Form1& f) {
                   f.runBatch();
                   return f.findChild<QListWidget*>()->item(0)->text();
               },
               "選択されたﾌｧｲﾙの処理を終了しました"),
        TextCase{"all_files_filter", [] { return filter(0).toStdString(); }, "すべてのファイル (*.*)"},
        TextCase{"fit_files_filter", [] { return filter(1).toStdString(); }, "fit ファイル (*.fit)"},
        TextCase{"repair_failed", [] { return described(FileAction::Repair, Cause::OddLength); },
                 "ファイルを修復できませんでした。\n/data/a.fit\n"
                 "画像データの長さが奇数です。ファイルが途中で切れているか、16 ビットの画像ではありません。"},
        TextCase{"write_failed", [] { return described(FileAction::Write, Cause::NameTooShort); },
                 "ファイルを書き込めませんでした。\n/data/a.fit\n"
                 "ファイル名が 4 文字より短いため、出力ファイルの名前を作れません。"},
        cause("not_found", Cause::NotFound, "", "ファイルが見つかりません。"),
        cause("is_folder", Cause::IsFolder, "", "ファイルではなくフォルダです。"),
        cause("no_permission", Cause::NoPermission, "", "アクセスする権限がありません。"),
        cause("disk_full", Cause::DiskFull, "", "ディスクの空き容量が足りません。"),
        cause("file_size_limit", Cause::FileSizeLimit, "", "ファイルの大きさが上限を超えます。"),
        cause("read_only_file_system", Cause::ReadOnlyFileSystem, "", "読み取り専用の場所には書き込めません。"),
        cause("name_too_long", Cause::NameTooLong, "", "ファイル名またはパスが長すぎます。"),
        cause("out_of_memory", Cause::OutOfMemory, "", "メモリが足りません。"),
        cause("device_error", Cause::DeviceError, "", "ディスクの読み書きでエラーが起きました。"),
        cause("too_many_open_files", Cause::TooManyOpenFiles, "", "開いているファイルが多すぎます。"),
        cause("in_use", Cause::InUse, "", "ファイルがほかのプログラムで使われています。"),
        cause("symlink_loop", Cause::SymlinkLoop, "", "シンボリックリンクが循環しているか、多すぎます。"),
        cause("no_device", Cause::NoDevice, "",
              "ファイルのある装置が見つかりません。ドライブが取り外されていないか確かめてください。"),
        cause("value_too_large", Cause::ValueTooLarge, "", "ファイルが大きすぎて、この環境では扱えません。"),
        cause("stale_network_file", Cause::StaleNetworkFile, "",
              "ネットワーク上のファイルが無効になりました。ファイルを選び直してください。"),
        cause("cross_device", Cause::CrossDevice, "", "別のドライブをまたいでファイルを移せません。"),
        cause("timed_out", Cause::TimedOut, "", "応答がなく、時間切れになりました。ネットワークのドライブを確かめてください。"),
        cause("network_unavailable", Cause::NetworkUnavailable, "", "ネットワークにつながりません。"),
        cause("unsupported", Cause::Unsupported, "", "この場所では、その操作ができません。"),
        cause("unknown_system_error", Cause::UnknownSystemError, "40", "予期しないエラーが起きました（エラー番号 40）。"),
        cause("not_regular_file", Cause::NotRegularFile, "", "通常のファイルではありません（デバイスやパイプなど）。"),
        cause("folder_in_the_way", Cause::FolderInTheWay, "", "同じ名前のフォルダがあるため、ファイルを作れません。"),
        cause("write_protected", Cause::WriteProtected, "", "書き込みが禁止されているため、このファイルは置き換えません。"),
        cause("changed_while_reading", Cause::ChangedWhileReading, "",
              "読み込みの途中でファイルが変わりました。ほかのプログラムが書き込んでいないか確かめてください。"),
        cause("slot_busy", Cause::SlotBusy, "", "別のファイルが開いたままです。"),
        cause("too_large_for_memory", Cause::TooLargeForMemory, "", "メモリが足りないため、ファイル全体を読み込めません。"),
        cause("name_has_folder", Cause::NameHasFolder, "", "ファイル名にフォルダの区切りが含まれているため、出力先を決められません。"),
        cause("output_is_selected", Cause::OutputIsSelected, "M31.fit",
              "「M31.fit」の出力ファイルの名前が、選択されたファイルと同じです。選択されたファイルは上書きしません。"),
        cause("not_fits", Cause::NotFits, "89 50 4E 47", "FITS ファイルではありません（先頭が「89 50 4E 47」です）。"),
        cause("no_end_card", Cause::NoEndCard, "15040", "FITS ヘッダーの終わり（END）が、先頭から 15040 バイトの中に見つかりません。"),
        cause("not_sixteen_bit", Cause::NotSixteenBit, "BITPIX = -32", "16 ビット整数の画像ではありません（BITPIX = -32）。"),
        cause("no_image_rows", Cause::NoImageRows, "NAXIS = 0",
              "行のある画像ではありません（NAXIS = 0）。圧縮された画像には対応していません。"),
        cause("missing_keyword", Cause::MissingKeyword, "NAXIS2", "FITS ヘッダーに、整数の値を持つ NAXIS2 がありません。"),
        cause("bad_axis_length", Cause::BadAxisLength, "NAXIS2 = 0", "画像の大きさが正しくありません（NAXIS2 = 0）。"),
        cause("image_too_large", Cause::ImageTooLarge, "9 x 9", "画像の大きさが扱える範囲を超えます（9 x 9）。")),
    [](const auto& info) { return info.param.label; });

} // namespace
} // namespace tarnis
