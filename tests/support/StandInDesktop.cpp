#include "support/StandInDesktop.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

StandInDesktop::StandInDesktop()
{
    std::string pattern = (fs::temp_directory_path() / "tovrin-desktop-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "cannot make a temporary folder";
    Folder = pattern;
    Bin = Folder + "/bin";
    Records = Folder + "/runs.rec";
    fs::create_directory(Bin);
    const char* path = std::getenv("PATH");
    FOldPath = path != nullptr ? path : "";
    setenv("PATH", (Bin + ":" + FOldPath).c_str(), 1);
    setenv("RECORD_FILE", Records.c_str(), 1);
    unsetenv("RECORD_EXIT");
    FOldFolder = fs::current_path().string();
    fs::current_path(Folder);
    Programs.Terminal = AddProgram("stand-in-terminal");
    Programs.Opener = AddProgram("stand-in-opener");
}

StandInDesktop::~StandInDesktop()
{
    setenv("PATH", FOldPath.c_str(), 1);
    unsetenv("RECORD_FILE");
    unsetenv("RECORD_EXIT");
    std::error_code ignored;
    fs::current_path(FOldFolder, ignored);
    fs::remove_all(Folder, ignored);
}

std::string StandInDesktop::AddProgram(const std::string& name, const std::string& target)
{
    const std::string path = Bin + "/" + name;
    fs::create_symlink(target, path);
    return path;
}

std::string StandInDesktop::CopyProgram(const std::string& name)
{
    const std::string path = Bin + "/" + name;
    fs::copy_file(RecordArgsProgram(), path);
    return path;
}

std::string StandInDesktop::TerminalOutput() const
{
    std::ifstream in(Records + ".out", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
