#include "finder/MacIndex.h"

#include <cstring>

namespace {

constexpr size_t PackedBytes = 15;

} // namespace

MacIndex::Packed MacIndex::Pack(const std::string& key)
{
    Packed packed { 0, 0 };
    unsigned char bytes[16] = {};
    std::memcpy(bytes, key.data(), key.size());
    // The length keeps "A" apart from "A\0".
    bytes[15] = static_cast<unsigned char>(key.size());
    std::memcpy(&packed.low, bytes, 8);
    std::memcpy(&packed.high, bytes + 8, 8);
    return packed;
}

size_t MacIndex::Home(const Packed& key) const
{
    // Multiplicative mixing: the characters of MAC suffixes differ mostly in their last bytes.
    uint64_t h = key.low * 0x9E3779B97F4A7C15ull ^ key.high * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 29;
    return static_cast<size_t>(h) & (FSlots.size() - 1);
}

long MacIndex::Find(const std::string& key) const
{
    if (key.size() > PackedBytes) {
        const auto found = FLong.find(key);
        return found == FLong.end() ? -1 : static_cast<long>(found->second);
    }
    if (FSize == 0)
        return -1;
    const Packed packed = Pack(key);
    const size_t mask = FSlots.size() - 1;
    for (size_t i = Home(packed);; i = (i + 1) & mask) {
        const Slot& slot = FSlots[i];
        if (slot.row == Empty)
            return -1;
        if (slot.key == packed)
            return static_cast<long>(slot.row);
    }
}

void MacIndex::Insert(const std::string& key, size_t row)
{
    if (key.size() > PackedBytes) {
        FLong.emplace(key, row);
        return;
    }
    // At most half full, so that probes stay short and an empty slot always ends them.
    if ((FSize + 1) * 2 > FSlots.size())
        Grow();
    const Packed packed = Pack(key);
    const size_t mask = FSlots.size() - 1;
    size_t i = Home(packed);
    while (FSlots[i].row != Empty)
        i = (i + 1) & mask;
    FSlots[i] = { packed, static_cast<uint32_t>(row) };
    ++FSize;
}

void MacIndex::Clear()
{
    for (Slot& slot : FSlots)
        slot.row = Empty;
    FSize = 0;
    FLong.clear();
}

void MacIndex::Grow()
{
    std::vector<Slot> old = std::move(FSlots);
    FSlots.assign(old.empty() ? 64 : old.size() * 2, Slot { { 0, 0 }, Empty });
    FSize = 0;
    const size_t mask = FSlots.size() - 1;
    for (const Slot& slot : old) {
        if (slot.row == Empty)
            continue;
        size_t i = Home(slot.key);
        while (FSlots[i].row != Empty)
            i = (i + 1) & mask;
        FSlots[i] = slot;
        ++FSize;
    }
}
