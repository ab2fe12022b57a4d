#include "cli/texts.h"

namespace tarnis::cli {

std::string helpText()
{
    return "使い方: tarnis-repair [オプション] ファイル...\n"
           "\n"
           "16 ビット FITS 画像のドロップアウト（0x80 0x00 のサンプル）を、上下の行から修復します。\n"
           "カラー画像（BAYERPAT が 2×2 のベイヤー配列を示すもの）は、同じ色の 2 行上と 2 行下のサンプルから\n"
           "修復します。\n"
           "修復したものは入力と同じフォルダに、名前の最後の 4 文字を「_R.fit」に替えた名前で書き出します\n"
           "（img01.fit → img01_R.fit）。入力は変更せず、コマンドラインで指定したファイルを上書きすることも\n"
           "ありません。修復できないファイルがあっても、ほかのファイルの処理は続けます。\n"
           "\n"
           "オプション:\n"
           "  -c, --check     ドロップアウトを数えるだけで、何も書き出しません\n"
           "  -j, --jobs N    N 個のファイルを同時に処理します（既定は 1）\n"
           "  -q, --quiet     エラーのほかは何も表示しません\n"
           "  -h, --help      この説明を表示します\n"
           "  -V, --version   版を表示します\n"
           "\n"
           "標準出力には、ファイルごとに 1 行を、タブで区切って書きます:\n"
           "  入力  出力  修復したドロップアウトの数  残したドロップアウトの数  修復の方法\n"
           "残すのは、値を取れる上下のサンプルがないドロップアウトです（最初の行、カラー画像では最初の\n"
           "2 行など）。修復の方法は、カラー画像では bayer、それ以外では mono と書きます。\n"
           "修復できなかったファイルは、その理由を標準エラー出力に書きます。端末では、長い処理の\n"
           "進み具合も標準エラー出力に表示します。\n"
           "\n"
           "終了ステータス:\n"
           "  0  すべてのファイルを修復しました（--check では、数えました）\n"
           "  1  修復できなかったファイルがあります\n"
           "  2  コマンドラインに誤りがあります（何も処理していません）\n";
}

std::string versionText()
{
    return std::string("tarnis-repair ") + TARNIS_VERSION + "\n";
}

std::string usageErrorText(UsageProblem problem, std::string_view argument)
{
    std::string text = "tarnis-repair: ";
    switch (problem) {
    case UsageProblem::NoFile:
        text += "ファイルが指定されていません。";
        break;
    case UsageProblem::UnknownOption:
        text += "知らないオプションです: ";
        text += argument;
        break;
    case UsageProblem::MissingJobs:
        text += "--jobs の後に、同時に処理するファイルの数を指定してください。";
        break;
    case UsageProblem::BadJobs:
        text += "--jobs には 1 から 256 までの整数を指定してください: ";
        text += argument;
        break;
    }
    return text + "\n詳しくは「tarnis-repair --help」を見てください。\n";
}

} // namespace tarnis::cli
