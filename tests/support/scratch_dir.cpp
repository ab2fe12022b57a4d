#include "tests/support/scratch_dir.h"

#include "common/text.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace tarnis::test {

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnis-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch folder");
    path_ = buffer.data();
    std::filesystem::permissions(path_, std::filesystem::perms(0755));
}

ScratchDir::~ScratchDir()
{
    // Tests may leave a folder without write permission behind; give it back before removing.
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::dirPath() const
{
    return utf8FromPath(path_) + kPathSeparator;
}

std::filesystem::path ScratchDir::file(const std::string& name) const
{
    return path_ / pathFromUtf8(name);
}

} // namespace tarnis::test
