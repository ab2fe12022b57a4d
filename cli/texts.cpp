#include "cli/texts.h"

#include "cli/options.h"
#include "common/version.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tarnis::cli {

namespace {

// One language's texts. "{}" stands for what a text names; "{path}" and "{share}" for a file and
// the share of its samples that are dropouts.
struct CommandTexts {
    std::string_view help;         // up to the options, which options() lists
    std::string_view helpAfter;    // after the options
    std::string_view languageRule; // the end of the help
    std::string_view (*usage)(UsageProblem, std::string_view option);
    std::string_view hint;
    std::string_view outputError;
    std::string_view manyDropouts;
    std::string_view manyDropoutsCounted; // with --check
    std::string_view shortFile; // "{held}" and "{promised}": the image's samples there and in all
    std::string_view shortFileCounted; // with --check
    std::string (*summary)(const Summary&);
    std::string_view (*passedOver)(PassedOver); // "{}" the other file
    std::string_view noMatch;
    std::string_view watchPolling;
    std::string_view watchGone;
    std::string (*watchStatus)(std::int64_t repaired, std::int64_t failed);
};

// `text` with `slot` replaced by `value` where it stands.
std::string filledIn(std::string_view text, std::string_view slot, std::string_view value)
{
    std::string filled(text);
    const std::size_t at = filled.find(slot);
    return at == std::string::npos ? filled : filled.replace(at, slot.size(), value);
}

// A count with its thousands grouped: "130,695".
std::string grouped(std::int64_t number)
{
    // Appended digit by digit: MinGW's GCC 12 takes the inserts of the obvious loop for an
    // overlapping copy and warns.
    const std::string digits = std::to_string(number);
    const std::size_t sign = digits.front() == '-' ? 1 : 0;
    std::string text = digits.substr(0, sign);
    for (std::size_t at = sign; at < digits.size(); ++at) {
        if (at > sign && (digits.size() - at) % 3 == 0)
            text += ',';
        text += digits[at];
    }
    return text;
}

// A time as "2.3 s", or "4 min 12 s" past a minute, with the language's units.
std::string duration(std::chrono::duration<double> time, const char* minutes, const char* seconds)
{
    char text[48];
    const double total = time.count();
    if (total < 59.95)
        std::snprintf(text, sizeof text, "%.1f %s", total, seconds);
    else
        std::snprintf(text, sizeof text, "%lld %s %lld %s", static_cast<long long>(total) / 60,
                      minutes, static_cast<long long>(total) % 60, seconds);
    return text;
}

// ---- English ----

std::string_view englishUsage(UsageProblem problem, std::string_view option)
{
    switch (problem) {
    case UsageProblem::NoFile: return "no file given";
    case UsageProblem::UnknownOption: return "unknown option '{}'";
    case UsageProblem::MissingValue: return optionNamed(option)->missingEnglish;
    case UsageProblem::BadJobs:
        return "option '--jobs' takes a whole number from 1 to 256, not '{}'";
    case UsageProblem::ValueNotTaken: return "option '{}' takes no value";
    case UsageProblem::NoSuchFolder:
        return "option '--output-dir' needs an existing folder; there is no '{}'";
    case UsageProblem::NotAFolder: return "option '--output-dir' needs a folder; '{}' is not one";
    case UsageProblem::NoSuchFolderToWatch:
        return "option '--watch' needs an existing folder; there is no '{}'";
    case UsageProblem::NotAFolderToWatch: return "option '--watch' needs a folder; '{}' is not one";
    case UsageProblem::NotWithWatch: return "option '{}' does not go with '--watch'";
    case UsageProblem::FileWithWatch:
        return "'--watch' takes the frames of its folder and no FILE, such as '{}'";
    }
    return {};
}

std::string counted(std::int64_t number, const char* thing)
{
    return grouped(number) + " " + thing + (number == 1 ? "" : "s");
}

std::string englishSummary(const Summary& s)
{
    return counted(s.files, "file") + (s.checkOnly ? " checked, " : " repaired, ")
           + grouped(s.failed) + " failed; " + counted(s.repaired, "dropout")
           + (s.checkOnly ? " to repair, " : " repaired, ") + grouped(s.left)
           + (s.checkOnly ? " to leave; " : " left; ") + byteCount(s.bytes) + " in "
           + duration(s.time, "min", "s") + "\n";
}

std::string_view englishPassedOver(PassedOver kind)
{
    switch (kind) {
    case PassedOver::No: return {};
    case PassedOver::NamedAgain: return "{path}: the same file as '{}', named before; passed over";
    case PassedOver::RenewedByInput:
        return "{path}: an earlier output of '{}', which renews it; passed over";
    case PassedOver::RenewedHere: return "{path}: an earlier output of '{}'; renewed from it";
    case PassedOver::InputNotThere:
        return "{path}: the output's name of '{}', which is not there; left as it is";
    }
    return {};
}

std::string englishStatus(std::int64_t repaired, std::int64_t failed)
{
    return counted(repaired, "frame") + " repaired, " + grouped(failed) + " failed; waiting";
}

const CommandTexts kEnglish{
    "Usage: tarnis-repair [OPTION]... FILE...\n"
    "  or:  tarnis-repair [OPTION]... --watch DIR\n"
    "Repairs the dropouts (samples stored as the bytes 80 00) of 16-bit FITS images\n"
    "from the image rows above and below them, and writes each repaired copy beside\n"
    "its input, named after it with its last four characters replaced by \"_R.fit\"\n"
    "(img01.fit gives img01_R.fit). Inputs are never changed, and no file is replaced\n"
    "but this program's earlier output of the same input; an earlier output given as\n"
    "a FILE is passed over and renewed from its input. A file that fails does not\n"
    "stop the others.\n"
    "\n",
    "\n"
    "With --watch DIR it repairs the frames in DIR that have no output yet, and then\n"
    "each .fit, .fits or .fts file saved into DIR once it is complete, until Ctrl+C.\n"
    "\n"
    "Standard output gets one line for each file, its fields separated by tabs:\n"
    "  1. the input, as given\n"
    "  2. the output\n"
    "  3. the dropouts repaired\n"
    "  4. the dropouts left, for want of a neighbour to take a value from (those in\n"
    "     an image's first row; in a colour frame's first two rows)\n"
    "  5. the repair used: bayer for a colour frame (BAYERPAT names a 2x2 pattern),\n"
    "     repaired from samples of its own colour two rows up and down; mono otherwise\n"
    "Failures and warnings go to standard error, one line each. A file in which more\n"
    "than 1 % of the samples are dropouts is warned about: a frame taken without an\n"
    "offset, such as a bias, stores its true zeros alike. On a terminal, a long run\n"
    "shows its progress on standard error, and every run ends with a summary there.\n"
    "\n"
    "Exit status:\n"
    "  0  every file repaired (with --check: counted)\n"
    "  1  some file failed; the others were still repaired\n"
    "  2  the command line was wrong; nothing was done\n"
    "\n",
#ifdef _WIN32
    "The messages are in Japanese where LC_ALL, LC_MESSAGES or LANG (the first that\n"
    "is set) names a Japanese locale or, with none of them set, where Windows' display\n"
    "language is Japanese; in English otherwise.\n",
#else
    "The messages are in Japanese where LC_ALL, LC_MESSAGES or LANG (the first that\n"
    "is set) names a Japanese locale, and in English otherwise. See tarnis-repair(1).\n",
#endif
    englishUsage,
    "Try 'tarnis-repair --help' for more information.",
    "tarnis-repair: standard output: cannot write: {}",
    "{path}: warning: {share} % of the samples are dropouts; a frame taken without an offset (a bias, "
    "a simulator's frame) stores its true zeros alike, and they were repaired as dropouts",
    "{path}: warning: {share} % of the samples are dropouts; a frame taken without an offset (a bias, "
    "a simulator's frame) stores its true zeros alike, and they would be repaired as dropouts",
    "{path}: warning: the file ends before the image its header describes: it holds {held} of the "
    "image's {promised} samples, and only those were repaired",
    "{path}: warning: the file ends before the image its header describes: it holds {held} of the "
    "image's {promised} samples, and only those were counted",
    englishSummary,
    englishPassedOver,
    "{path}: no file matches",
    "tarnis-repair: {}: this file system tells of no new files; looking for them every 2 seconds",
    "tarnis-repair: {}: the folder is gone; the watch ends",
    englishStatus,
};

// ---- Japanese ----

std::string_view japaneseUsage(UsageProblem problem, std::string_view option)
{
    switch (problem) {
    case UsageProblem::NoFile: return "ファイルが指定されていません。";
    case UsageProblem::UnknownOption: return "知らないオプションです: {}";
    case UsageProblem::MissingValue: return optionNamed(option)->missingJapanese;
    case UsageProblem::BadJobs: return "--jobs には 1 から 256 までの整数を指定してください: {}";
    case UsageProblem::ValueNotTaken: return "{} には値を付けられません。";
    case UsageProblem::NoSuchFolder: return "--output-dir に指定したフォルダがありません: {}";
    case UsageProblem::NotAFolder: return "--output-dir にはフォルダを指定してください: {}";
    case UsageProblem::NoSuchFolderToWatch: return "--watch に指定したフォルダがありません: {}";
    case UsageProblem::NotAFolderToWatch: return "--watch にはフォルダを指定してください: {}";
    case UsageProblem::NotWithWatch: return "{} は --watch といっしょには使えません。";
    case UsageProblem::FileWithWatch:
        return "--watch はフォルダの画像を処理するため、ファイルは指定できません: {}";
    }
    return {};
}

std::string japaneseSummary(const Summary& s)
{
    return "ファイル " + grouped(s.files) + (s.checkOnly ? " 個を確認、失敗 " : " 個を修復、失敗 ")
           + grouped(s.failed) + " 個。"
           + (s.checkOnly ? "修復するドロップアウト " : "修復したドロップアウト ")
           + grouped(s.repaired) + " 個、" + (s.checkOnly ? "残すもの " : "残したもの ")
           + grouped(s.left) + " 個。" + byteCount(s.bytes) + "、" + duration(s.time, "分", "秒")
           + "。\n";
}

std::string_view japanesePassedOver(PassedOver kind)
{
    switch (kind) {
    case PassedOver::No: return {};
    case PassedOver::NamedAgain:
        return "{path}: 先に指定された「{}」と同じファイルです。処理を飛ばしました。";
    case PassedOver::RenewedByInput:
        return "{path}: 「{}」の以前の出力です。「{}」から作り直すため、処理を飛ばしました。";
    case PassedOver::RenewedHere:
        return "{path}: 「{}」の以前の出力です。「{}」から作り直しました。";
    case PassedOver::InputNotThere:
        return "{path}: 「{}」の出力の名前ですが、「{}」がありません。そのまま残しました。";
    }
    return {};
}

std::string japaneseStatus(std::int64_t repaired, std::int64_t failed)
{
    return "修復 " + grouped(repaired) + " 個、失敗 " + grouped(failed)
           + " 個。次の画像を待っています";
}

const CommandTexts kJapanese{
    "使い方: tarnis-repair [オプション]... ファイル...\n"
    "        tarnis-repair [オプション]... --watch DIR\n"
    "\n"
    "16 ビット FITS 画像のドロップアウト（バイト 80 00 のサンプル）を、上下の行から修復します。\n"
    "修復したものは入力と同じフォルダ（--output-dir では、そのフォルダ）に、名前の最後の 4 文字を\n"
    "「_R.fit」に替えた名前で書き出します（img01.fit → img01_R.fit）。入力は変更せず、同じ入力から\n"
    "以前に作った出力のほかは、どのファイルも上書きしません。以前の出力を指定しても修復し直さず、\n"
    "その入力から作り直します。修復できないファイルがあっても、ほかのファイルの処理は続けます。\n"
    "\n"
    "オプション:\n",
    "\n"
    "--watch DIR では、フォルダ DIR にある画像のうち出力のないものを修復し、そのあとは DIR に保存される\n"
    ".fit、.fits、.fts のファイルを、書き終わるたびに修復します。Ctrl+C で終わります。\n"
    "\n"
    "標準出力には、ファイルごとに 1 行を、タブで区切って書きます:\n"
    "  1. 入力（指定されたとおり）\n"
    "  2. 出力\n"
    "  3. 修復したドロップアウトの数\n"
    "  4. 値を取れる上下のサンプルがないため残したドロップアウトの数（最初の行、カラー画像では最初の 2 行など）\n"
    "  5. 修復の方法: カラー画像（BAYERPAT が 2×2 のベイヤー配列を示すもの）は、同じ色の 2 行上と 2 行下の\n"
    "     サンプルから修復して bayer、それ以外は mono\n"
    "失敗と警告は、標準エラー出力に 1 行ずつ書きます。サンプルの 1 % を超えるドロップアウトがある\n"
    "ファイルには警告を出します（オフセットなしで撮った画像、たとえばバイアスでは、本当の 0 も同じ形で\n"
    "記録されます）。端末では、長い処理の進み具合と、終わりのまとめを標準エラー出力に表示します。\n"
    "\n"
    "終了ステータス:\n"
    "  0  すべてのファイルを修復しました（--check では、数えました）\n"
    "  1  修復できなかったファイルがあります（ほかのファイルは修復しました）\n"
    "  2  コマンドラインに誤りがあります（何も処理していません）\n"
    "\n",
#ifdef _WIN32
    "LC_ALL、LC_MESSAGES、LANG のうち最初に設定されているものが日本語のロケールなら、また、どれも\n"
    "設定されていなければ Windows の表示言語が日本語なら日本語で、そうでなければ英語で表示します。\n",
#else
    "LC_ALL、LC_MESSAGES、LANG のうち最初に設定されているものが日本語のロケールなら日本語で、\n"
    "そうでなければ英語で表示します。詳しくは tarnis-repair(1) を見てください。\n",
#endif
    japaneseUsage,
    "詳しくは「tarnis-repair --help」を見てください。",
    "tarnis-repair: 標準出力に書き込めませんでした。{}",
    "{path}: 警告: サンプルの {share} % がドロップアウトです。オフセットなしで撮った画像（バイアスや、"
    "シミュレーターの画像など）では本当の 0 も同じ形で記録されるため、ドロップアウトとして修復しました。",
    "{path}: 警告: サンプルの {share} % がドロップアウトです。オフセットなしで撮った画像（バイアスや、"
    "シミュレーターの画像など）では本当の 0 も同じ形で記録されるため、ドロップアウトとして修復されます。",
    "{path}: 警告: ファイルがヘッダーの示す画像より短く、画像の {promised} サンプルのうち {held} サンプル"
    "しかありません。あるサンプルだけを修復しました。",
    "{path}: 警告: ファイルがヘッダーの示す画像より短く、画像の {promised} サンプルのうち {held} サンプル"
    "しかありません。あるサンプルだけを数えました。",
    japaneseSummary,
    japanesePassedOver,
    "{path}: 一致するファイルがありません。",
    "tarnis-repair: {}: このファイルシステムは新しいファイルを知らせないため、2 秒ごとに見に行きます。",
    "tarnis-repair: {}: フォルダがなくなったため、見張りを終えます。",
    japaneseStatus,
};

const CommandTexts& textsOf(Language language)
{
    switch (language) {
    case Language::Japanese: return kJapanese;
    case Language::English: return kEnglish;
    }
    return kEnglish;
}

} // namespace

Language languageOfLocale(std::string_view locale)
{
    const bool japanese = locale.starts_with("ja")
                          && (locale.size() == 2 || locale[2] == '_' || locale[2] == '.'
                              || locale[2] == '@');
    return japanese ? Language::Japanese : Language::English;
}

std::optional<Language> languageOfEnvironment()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return languageOfLocale(value);
    }
    return std::nullopt;
}

std::string oneLine(std::string_view name)
{
    std::string written;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
#ifndef _WIN32
        if (c == '\\') {
            written += "\\\\";
            continue;
        }
#endif
        if (byte >= 0x20 && byte != 0x7F) {
            written += c;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            written += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
        } else {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", byte);
            written += octal;
        }
    }
    return written;
}

std::string helpText(Language language)
{
    const CommandTexts& texts = textsOf(language);
    std::string help(texts.help);
    for (const Option& option : options()) {
        // "  -j, --jobs=N          ", or "      --watch=DIR       " where there is no short name
        std::string names = option.shortName != '\0' ? std::string("  -") + option.shortName + ", "
                                                     : std::string(6, ' ');
        names.append("--").append(option.longName);
        if (option.takesValue())
            names.append("=").append(option.value);
        names.resize(std::max<std::size_t>(names.size() + 2, 24), ' ');
        help.append(names).append(option.help(language)).append("\n");
    }
    return help.append(texts.helpAfter).append(texts.languageRule);
}

std::string versionText() { return std::string("tarnis-repair ") + TARNIS_VERSION + "\n"; }

std::string usageErrorText(UsageProblem problem, std::string_view argument, Language language)
{
    const CommandTexts& texts = textsOf(language);
    return "tarnis-repair: " + filledIn(texts.usage(problem, argument), "{}", oneLine(argument))
           + "\n" + std::string(texts.hint) + "\n";
}

std::string failureText(const Error& error, Language language)
{
    return "tarnis-repair: "
           + describeOnOneLine(error.action(), oneLine(error.path()), error.cause(),
                               oneLine(error.detail()), language)
           + "\n";
}

std::string outputErrorText(int errorNumber, Language language)
{
    const Error error = systemError(FileAction::Write, {}, errorNumber);
    return filledIn(textsOf(language).outputError, "{}",
                    describeCause(error.cause(), error.detail(), language))
           + "\n";
}

std::string manyDropoutsText(const std::string& path, std::int64_t dropouts, std::int64_t samples,
                             bool checkOnly, Language language)
{
    const CommandTexts& texts = textsOf(language);
    const double percent = 100.0 * static_cast<double>(dropouts) / static_cast<double>(samples);
    char share[32];
    std::snprintf(share, sizeof share, percent < 10 ? "%.2f" : "%.1f", percent);
    return "tarnis-repair: "
           + filledIn(filledIn(checkOnly ? texts.manyDropoutsCounted : texts.manyDropouts,
                               "{share}", share),
                      "{path}", oneLine(path))
           + "\n";
}

std::string shortFileText(const std::string& path, std::int64_t held, std::int64_t promised,
                          bool checkOnly, Language language)
{
    const CommandTexts& texts = textsOf(language);
    return "tarnis-repair: "
           + filledIn(filledIn(filledIn(checkOnly ? texts.shortFileCounted : texts.shortFile,
                                        "{held}", grouped(held)),
                               "{promised}", grouped(promised)),
                      "{path}", oneLine(path))
           + "\n";
}

std::string passedOverText(const std::string& path, const PassedOverNote& note, Language language)
{
    std::string text = filledIn(textsOf(language).passedOver(note.kind), "{path}", oneLine(path));
    for (std::size_t at = text.find("{}"); at != std::string::npos; at = text.find("{}", at))
        text.replace(at, 2, oneLine(note.other));
    return "tarnis-repair: " + text + "\n";
}

std::string noMatchText(const std::string& pattern, Language language)
{
    return "tarnis-repair: " + filledIn(textsOf(language).noMatch, "{path}", oneLine(pattern))
           + "\n";
}

std::string summaryText(const Summary& summary, Language language)
{
    return textsOf(language).summary(summary);
}

std::string watchPollingText(const std::string& folder, Language language)
{
    return filledIn(textsOf(language).watchPolling, "{}", oneLine(folder)) + "\n";
}

std::string watchGoneText(const std::string& folder, Language language)
{
    return filledIn(textsOf(language).watchGone, "{}", oneLine(folder)) + "\n";
}

std::string watchStatusText(std::int64_t repaired, std::int64_t failed, Language language)
{
    return textsOf(language).watchStatus(repaired, failed);
}

std::string byteCount(std::int64_t bytes)
{
    char text[32];
    const double kilobytes = static_cast<double>(bytes) / 1e3;
    if (kilobytes >= 1e6)
        std::snprintf(text, sizeof text, "%.1f GB", kilobytes / 1e6);
    else if (kilobytes >= 1e3)
        std::snprintf(text, sizeof text, "%.0f MB", kilobytes / 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f kB", kilobytes);
    return text;
}

} // namespace tarnis::cli
