#include "cli/options.h"

namespace tarnis::cli {

namespace {

// Adding an option is adding its row here, acting on it in the parser (command.cpp), and its
// lines in the manual pages and the completion, which tests/cli/check_manual.sh holds to this
// table.
// A table reads best one option to a line.
// clang-format off
constexpr Option kOptions[] = {
    {OptionId::Check, 'c', "check", "", "count the dropouts and write nothing", "ドロップアウトを数えるだけで、何も書き出しません", "", ""},
    {OptionId::Jobs, 'j', "jobs", "N", "repair N files at a time (1 to 256; 1 unless given)", "N 個のファイルを同時に処理します（1 から 256 まで、既定は 1）",
     "option '--jobs' needs the number of files to repair at a time", "--jobs の後に、同時に処理するファイルの数を指定してください。"},
    {OptionId::OutputDir, 'o', "output-dir", "DIR", "write every output into the folder DIR instead", "出力をすべて、入力の横ではなくフォルダ DIR に書き出します",
     "option '--output-dir' needs a folder", "--output-dir の後に、出力先のフォルダを指定してください。"},
    {OptionId::Quiet, 'q', "quiet", "", "print nothing but failures and warnings", "失敗と警告のほかは何も表示しません", "", ""},
    {OptionId::Watch, '\0', "watch", "DIR", "repair each frame saved into DIR, until stopped", "フォルダ DIR に保存される画像を、止めるまで次々に修復します",
     "option '--watch' needs the folder to watch", "--watch の後に、見張るフォルダを指定してください。"},
    {OptionId::Bytewise, '\0', "bytewise", "", "rebuild dropouts byte by byte, as versions up to 3.0 did, only to make their files again", "3.0 までの版と同じくバイトごとに修復します（以前のファイルを作り直すときだけ）", "", ""},
    {OptionId::Help, 'h', "help", "", "show this help and exit", "この説明を表示します", "", ""},
    {OptionId::Version, 'V', "version", "", "show the version and exit", "版を表示します", "", ""},
};
// clang-format on

} // namespace

std::span<const Option> options() { return kOptions; }

const Option* optionNamed(std::string_view longName)
{
    for (const Option& option : kOptions) {
        if (option.longName == longName)
            return &option;
    }
    return nullptr;
}

} // namespace tarnis::cli
