#include "tests/support/scratch_dir.h"

#include "common/file_names.h"

#include <cstdio>
#include <random>
#include <stdexcept>
#include <system_error>

namespace tarnis::test {

ScratchDir::ScratchDir(const std::filesystem::path& parent)
{
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "tarnis-test-%012llx",
                      static_cast<unsigned long long>(random() >> 16));
        if (std::filesystem::create_directory(parent / name))
            path_ = parent / name;
    }
    if (path_.empty())
        throw std::runtime_error("cannot create a scratch folder");
    std::filesystem::permissions(path_, std::filesystem::perms(0755));
}

ScratchDir::~ScratchDir()
{
    // Tests may leave a folder without write permission behind, or on Windows a file with the
    // read-only attribute, which cannot be deleted; give them back before removing.
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (!it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::dirPath() const { return utf8FromPath(path_) + kPathSeparator; }

std::filesystem::path ScratchDir::file(const std::string& name) const
{
    return path_ / pathFromUtf8(name);
}

} // namespace tarnis::test
