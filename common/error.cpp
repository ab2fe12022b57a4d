#include "common/error.h"

#include <cerrno>
#include <cstring>

namespace tarnis {

Error fileError(FileAction action, std::string_view path, std::string_view cause)
{
    std::string text = action == FileAction::Read ? "ファイルを読み込めませんでした。\n"
                                                  : "ファイルを書き込めませんでした。\n";
    text += path;
    text += '\n';
    text += cause;
    return Error(text);
}

Error fileError(FileAction action, std::string_view path, int errorNumber)
{
    return fileError(action, path, describeErrorNumber(errorNumber));
}

std::string describeErrorNumber(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR:
        return "ファイルが見つかりません。";
    case EISDIR:
        return "ファイルではなくフォルダです。";
    case EACCES:
    case EPERM:
        return "アクセスする権限がありません。";
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return "ディスクの空き容量が足りません。";
    case EFBIG:
        return "ファイルの大きさが上限を超えます。";
    case EROFS:
        return "読み取り専用の場所には書き込めません。";
    case ENAMETOOLONG:
        return "ファイル名またはパスが長すぎます。";
    case ENOMEM:
        return "メモリが足りません。";
    case EIO:
        return "ディスクの読み書きでエラーが起きました。";
    case EMFILE:
    case ENFILE:
        return "開いているファイルが多すぎます。";
    case EBUSY:
    case ETXTBSY:
        return "ファイルがほかのプログラムで使われています。";
    default:
        return std::string("予期しないエラーが起きました（") + std::strerror(errorNumber) + "）。";
    }
}

} // namespace tarnis
