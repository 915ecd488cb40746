#include "support/TempTree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TempTree::TempTree(const std::string& prefix)
{
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) != nullptr)
        FRoot = pattern;
}

TempTree::~TempTree()
{
    if (FRoot.empty())
        return;
    std::error_code ignored;
    // Folders a test made unreadable must be opened again to be removed.
    for (auto it
         = fs::recursive_directory_iterator(FRoot, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(FRoot, ignored);
}

std::string TempTree::Path(const std::string& relative) const
{
    return FRoot + "/" + relative;
}

void TempTree::FoldersWithoutDigits(std::initializer_list<std::string> folders, int count) const
{
    for (int i = 0; i < count; ++i) {
        std::string name = "bulk-";
        for (const char digit : std::to_string(i))
            name += static_cast<char>('a' + (digit - '0'));
        for (const std::string& folder : folders)
            fs::create_directories(fs::path(Path(folder)) / name);
    }
}

std::string TempTree::Folder(const std::string& relative) const
{
    const std::string path = Path(relative);
    fs::create_directories(path);
    return path;
}

std::string TempTree::File(const std::string& relative, const std::string& bytes) const
{
    const std::string path = Path(relative);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string TempTree::Link(const std::string& relative, const std::string& target) const
{
    const std::string path = Path(relative);
    fs::create_directories(fs::path(path).parent_path());
    fs::create_symlink(target, path);
    return path;
}
