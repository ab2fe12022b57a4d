// The Japanese sentences of the descriptions of failures: the window's, word for word, and the
// command line's under a Japanese locale.
#include "common/sentences.h"

namespace tarnis {

namespace {

std::string_view actionSentence(FileAction action)
{
    switch (action) {
    case FileAction::Read: return "ファイルを読み込めませんでした。";
    case FileAction::Repair: return "ファイルを修復できませんでした。";
    case FileAction::Write: return "ファイルを書き込めませんでした。";
    case FileAction::Check: return "このファイルの出力は書き込めません。";
    }
    return {};
}

// One sentence per cause, one case to a line: long because the causes are many.
std::string_view causeSentence(Cause cause)
{
    switch (cause) {
    case Cause::NotFound: return "ファイルが見つかりません。";
    case Cause::IsFolder: return "ファイルではなくフォルダです。";
    case Cause::NoPermission: return "アクセスする権限がありません。";
    case Cause::DiskFull: return "ディスクの空き容量が足りません。";
    case Cause::FileSizeLimit: return "ファイルの大きさが上限を超えます。";
    case Cause::ReadOnlyFileSystem: return "読み取り専用の場所には書き込めません。";
    case Cause::NameTooLong: return "ファイル名またはパスが長すぎます。";
    case Cause::InvalidName:
        return "ファイル名またはパスに使えない文字が含まれているか、形が正しくありません。";
    case Cause::OutOfMemory: return "メモリが足りません。";
    case Cause::DeviceError: return "ディスクの読み書きでエラーが起きました。";
    case Cause::TooManyOpenFiles: return "開いているファイルが多すぎます。";
    case Cause::InUse: return "ファイルがほかのプログラムで使われています。";
    case Cause::SymlinkLoop: return "シンボリックリンクが循環しているか、多すぎます。";
    case Cause::NoDevice:
        return "ファイルのある装置が見つかりません。ドライブが取り外されていないか確かめてください。";
    case Cause::ValueTooLarge: return "ファイルが大きすぎて、この環境では扱えません。";
    case Cause::StaleNetworkFile:
        return "ネットワーク上のファイルが無効になりました。ファイルを選び直してください。";
    case Cause::CrossDevice: return "別のドライブをまたいでファイルを移せません。";
    case Cause::TimedOut:
        return "応答がなく、時間切れになりました。ネットワークのドライブを確かめてください。";
    case Cause::NetworkUnavailable: return "ネットワークにつながりません。";
    case Cause::Unsupported: return "この場所では、その操作ができません。";
    case Cause::UnknownSystemError: return "予期しないエラーが起きました（エラー番号 {}）。";
    case Cause::SystemError: return "{text}（エラー番号 {number}）";
    case Cause::NotRegularFile: return "通常のファイルではありません（デバイスやパイプなど）。";
    case Cause::FolderInTheWay: return "同じ名前のフォルダがあるため、ファイルを作れません。";
    case Cause::WriteProtected:
        return "書き込みが禁止されているため、このファイルは置き換えません。";
    case Cause::ChangedWhileReading:
        return "読み込みの途中でファイルが変わりました。ほかのプログラムが書き込んでいないか確かめてください。";
    case Cause::SlotBusy: return "別のファイルが開いたままです。";
    case Cause::TooLargeForMemory: return "メモリが足りないため、ファイル全体を読み込めません。";
    case Cause::OddLength:
        return "画像データの長さが奇数です。ファイルが途中で切れているか、16 ビットの画像ではありません。";
    case Cause::NameTooShort:
        return "ファイル名が 4 文字より短いため、出力ファイルの名前を作れません。";
    case Cause::NameHasFolder:
        return "ファイル名にフォルダの区切りが含まれているため、出力先を決められません。";
    case Cause::OutputIsSelected:
        return "「{}」の出力ファイルの名前が、選択されたファイルと同じです。選択されたファイルは上書きしません。";
    case Cause::OutputOfAnotherInput:
        return "先に処理する「{}」の出力ファイルと同じ名前です（大文字と小文字は区別しません）。その出力は上書きしません。";
    case Cause::NotAnEarlierOutput:
        return "同じ名前のファイルがすでにあり、「{}」から作った出力ではないため、上書きしません。";
    case Cause::OutputChanged:
        return "書き込みの途中で、同じ名前のファイルがほかのプログラムに作られたか変えられたため、上書きしません。";
    case Cause::NotFits: return "FITS ファイルではありません（先頭が「{}」です）。";
    case Cause::NoEndCard:
        return "FITS ヘッダーの終わり（END）が、先頭から {} バイトの中に見つかりません。";
    case Cause::NotSixteenBit: return "16 ビット整数の画像ではありません（{}）。";
    case Cause::NotUnsignedSamples:
        return "符号なし 16 ビットの画像（BZERO = 32768、BSCALE = 1）ではないため、欠落した画素を見分けられません（{}）。";
    case Cause::BlankSamples:
        return "このファイルでは 0x8000 のサンプルは空白の画素を表す（{}）ため、欠落した画素として修復しません。";
    case Cause::NoImageRows:
        return "行のある画像ではありません（{}）。圧縮された画像には対応していません。";
    case Cause::MissingKeyword: return "FITS ヘッダーに、整数の値を持つ {} がありません。";
    case Cause::BadAxisLength: return "画像の大きさが正しくありません（{}）。";
    case Cause::ImageTooLarge: return "画像の大きさが扱える範囲を超えます（{}）。";
    }
    return {};
}

} // namespace

// The action and the cause are whole sentences, which follow each other on one line as they are.
const Sentences kJapaneseSentences{actionSentence, causeSentence, ""};

} // namespace tarnis
