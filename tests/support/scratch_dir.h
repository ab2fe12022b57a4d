#pragma once

#include <filesystem>
#include <string>

namespace tarnis::test {

/// A fresh folder of the test's own under the system's temporary folder (or under `parent`), removed
/// with everything in it when the test ends. Readable and searchable by everybody, so that a child
/// process that gave up root can still reach the files the test put there.
class ScratchDir {
public:
    explicit ScratchDir(
        const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    /// The folder as the selection leaves it: UTF-8, ending with the separator.
    [[nodiscard]] std::string dirPath() const;
    /// The full path of `name` (UTF-8) in the folder.
    [[nodiscard]] std::filesystem::path file(const std::string& name) const;

private:
    std::filesystem::path path_;
};

} // namespace tarnis::test
