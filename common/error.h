#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnis {

/// The one kind of failure that Tarnis reports to its user. Its description is Japanese, like the
/// window's texts, and names the file and the cause; the window shows it as it stands.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The cause given when a file's length changes between measuring it and reading it to its end.
inline constexpr std::string_view kFileChangedWhileReading =
    "読み込みの途中でファイルの長さが変わりました。ほかのプログラムが書き込んでいないか確かめてください。";

/// What was being done to a file when it failed: the first line of a file error's description.
enum class FileAction { Read, Write };

/// A description in three lines: what could not be done, the full path, and why.
[[nodiscard]] Error fileError(FileAction action, std::string_view path, std::string_view cause);

/// As above, with the cause taken from an operating-system error number.
[[nodiscard]] Error fileError(FileAction action, std::string_view path, int errorNumber);

/// The cause of an operating-system error number as a Japanese sentence.
[[nodiscard]] std::string describeErrorNumber(int errorNumber);

} // namespace tarnis
