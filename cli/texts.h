#pragma once

#include "common/error.h"
#include "common/texts.h"
#include "engine/replace_rule.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnis::cli {

// Every text of tarnis-repair's own, in one table per language (texts.cpp); the sentences that
// describe a failed file come from common/texts.h.

/// The language that a locale's name says: Japanese for "ja" and "ja_JP.UTF-8" and the like,
/// English for "C", "POSIX", "en_GB.UTF-8" and anything else.
[[nodiscard]] Language languageOfLocale(std::string_view locale);
/// The language that LC_ALL, LC_MESSAGES or LANG says, the first of them that is set and not empty,
/// as POSIX orders them; nothing when none is.
[[nodiscard]] std::optional<Language> languageOfEnvironment();

/// A name or a path as tarnis-repair writes it: on one line whatever it holds, so a backslash and
/// every control character are written as in C ("\\", "\t", "\n", "\033"). Windows paths hold no
/// control characters, and their backslashes separate folders: they stay as they are.
[[nodiscard]] std::string oneLine(std::string_view name);

/// The answer to --help.
[[nodiscard]] std::string helpText(Language language);
/// The answer to --version.
[[nodiscard]] std::string versionText();

/// What is wrong with a command line, on one line, followed by where to read more.
/// For MissingValue, `argument` is the option's long name: its own text says what it needs.
enum class UsageProblem {
    NoFile,
    UnknownOption,
    MissingValue,
    BadJobs,
    ValueNotTaken,
    NoSuchFolder,
    NotAFolder,
    NoSuchFolderToWatch,
    NotAFolderToWatch,
    NotWithWatch,
    FileWithWatch
};
[[nodiscard]] std::string usageErrorText(UsageProblem problem, std::string_view argument,
                                         Language language);

/// A file that failed, on one line: "tarnis-repair: PATH: what could not be done: why".
[[nodiscard]] std::string failureText(const Error& error, Language language);

/// That the report could not be written to standard output, with the C library's error number.
[[nodiscard]] std::string outputErrorText(int errorNumber, Language language);

/// The warning for a file in which more than 1 % of the samples are dropouts.
[[nodiscard]] std::string manyDropoutsText(const std::string& path, std::int64_t dropouts,
                                           std::int64_t samples, bool checkOnly, Language language);

/// The warning for a file that ends before the image its header describes: it holds `held` of the
/// image's `promised` samples, and only they were repaired (or counted).
[[nodiscard]] std::string shortFileText(const std::string& path, std::int64_t held,
                                        std::int64_t promised, bool checkOnly, Language language);
/// What was done, on one line, in place of repairing the FILE `path` that the run passed over: the
/// same file named again, an earlier output renewed from its input, or left for want of it.
[[nodiscard]] std::string passedOverText(const std::string& path, const PassedOverNote& note,
                                         Language language);

/// That a wildcard pattern given as a FILE matches no file (Windows, where the program expands them).
[[nodiscard]] std::string noMatchText(const std::string& pattern, Language language);

/// What a run did, for the summary that closes it on a terminal.
struct Summary {
    bool checkOnly = false;
    std::int64_t files = 0; ///< that went through
    std::int64_t failed = 0;
    std::int64_t repaired = 0; ///< dropouts
    std::int64_t left = 0;     ///< dropouts left in a first row
    std::int64_t bytes = 0;    ///< of the files that went through
    std::chrono::duration<double> time{};
};
[[nodiscard]] std::string summaryText(const Summary& summary, Language language);

/// That the watched folder's file system tells of no new files, so that it is looked at every 2 s.
[[nodiscard]] std::string watchPollingText(const std::string& folder, Language language);
/// That the watched folder was removed, or its file system unmounted.
[[nodiscard]] std::string watchGoneText(const std::string& folder, Language language);
/// The status line of a watch on a terminal, without a line break.
[[nodiscard]] std::string watchStatusText(std::int64_t repaired, std::int64_t failed,
                                          Language language);

/// A number of bytes as people read it: "820 kB", "48 MB", "2.1 GB".
[[nodiscard]] std::string byteCount(std::int64_t bytes);

} // namespace tarnis::cli
