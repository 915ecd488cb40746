#pragma once
// SHA-256 over bytes given piece by piece.

#include <cstddef>
#include <memory>
#include <string>

class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    // False when no SHA-256 is available; then Add does nothing and HexDigest is empty.
    bool Usable() const { return FUsable; }
    void Add(const void* data, size_t length);
    // Lower-case hexadecimal digest of everything added; once only, empty when not usable.
    std::string HexDigest();

private:
    struct TContext;
    std::unique_ptr<TContext> FContext;
    bool FUsable = false;
};
