#pragma once
// The amplifier list's index from a MAC suffix to its row, looked up for every reply.
//
// A suffix is at most twelve characters, so up to fifteen bytes are packed into two words that
// hash and compare in a few instructions, in one flat table without a node per entry. Longer
// texts (never read from a reply) go to an ordinary map beside it.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class MacIndex {
public:
    // The row of key, or -1.
    long Find(const std::string& key) const;
    // key must not be in the index yet.
    void Insert(const std::string& key, size_t row);
    void Clear();
    size_t Size() const { return FSize; }

private:
    struct Packed {
        uint64_t low;
        uint64_t high;
        bool operator==(const Packed&) const = default;
    };
    struct Slot {
        Packed key;
        uint32_t row; // Empty when unused
    };
    static constexpr uint32_t Empty = UINT32_MAX;

    static Packed Pack(const std::string& key);
    size_t Home(const Packed& key) const;
    void Grow();

    std::vector<Slot> FSlots;
    std::unordered_map<std::string, size_t> FLong;
    size_t FSize = 0;
};
