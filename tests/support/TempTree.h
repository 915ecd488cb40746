#pragma once
// A temporary folder tree for tests, removed with everything in it when the object goes.

#include <initializer_list>
#include <string>

class TempTree {
public:
    explicit TempTree(const std::string& prefix = "tovrin-test");
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // The root, without a trailing "/"; empty when it could not be made.
    const std::string& Root() const { return FRoot; }
    // Root() + "/" + relative.
    std::string Path(const std::string& relative) const;

    // Makes the folder with its parents; returns its full path.
    std::string Folder(const std::string& relative) const;
    // Makes count folders inside each of folders whose names hold no digit, so that no number
    // pattern finds them: bulk that makes each read of those folders take measurable time.
    void FoldersWithoutDigits(std::initializer_list<std::string> folders, int count) const;
    // Writes a file (parents made); returns its full path.
    std::string File(const std::string& relative, const std::string& bytes = {}) const;
    // A symbolic link at relative pointing to target (as given).
    std::string Link(const std::string& relative, const std::string& target) const;

private:
    std::string FRoot;
};
