#pragma once
// A disk that fills up: a small tmpfs at a folder, in this process's own mount namespace (which it
// keeps), unmounted when the object goes.

#include <string>

class SmallDisk {
public:
    // size as tmpfs takes it ("64k").
    SmallDisk(const std::string& at, const std::string& size);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // Why it could not be mounted (a test skips then); empty when it is.
    const std::string& Refused() const { return FRefused; }

private:
    std::string FAt;
    std::string FRefused;
};
