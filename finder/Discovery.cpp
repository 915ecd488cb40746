#include "finder/Discovery.h"

#include "platform/LocalInterfaces.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

// The white space of the C locale, as scanf skips it; fixed so that a locale set by the window
// toolkit cannot change how replies are read.
bool IsReplySpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

class ReplyReader {
public:
    ReplyReader(const char* begin, const char* end)
        : FPos(begin)
        , FEnd(end)
    {
    }

    // "%Ns": skips white space, then takes up to width non-blank characters; fails on none.
    bool Word(size_t width, std::string& out)
    {
        SkipSpace();
        const char* start = FPos;
        while (FPos != FEnd && !IsReplySpace(*FPos) && static_cast<size_t>(FPos - start) < width)
            ++FPos;
        if (FPos == start)
            return false;
        out.assign(start, FPos);
        return true;
    }

    // " %c": skips white space, then takes one character.
    bool Char(char& out)
    {
        SkipSpace();
        if (FPos == FEnd)
            return false;
        out = *FPos++;
        return true;
    }

private:
    void SkipSpace()
    {
        while (FPos != FEnd && IsReplySpace(*FPos))
            ++FPos;
    }

    const char* FPos;
    const char* FEnd;
};

const char* TextEnd(const char* data, size_t length)
{
    size_t n = 0;
    while (n < length && data[n] != '\0')
        ++n;
    return data + n;
}

} // namespace

bool ParseTovrinReply(const char* data, size_t length, TTovrinData& record)
{
    if (data == nullptr)
        return false;
    ReplyReader reader(data, TextEnd(data, length));
    TTovrinData parsed;
    char flag = 0;
    if (!reader.Word(12, parsed.Mac) || !reader.Char(flag) || !reader.Word(15, parsed.IP)
        || !reader.Word(15, parsed.NetMask) || !reader.Word(15, parsed.Gateway)
        || !reader.Word(63, parsed.Name))
        return false;
    parsed.Flag = flag == '1';
    parsed.MacKey = parsed.Mac;
    parsed.LastSeen = record.LastSeen;
    record = std::move(parsed);
    return true;
}

bool ParseTovrinReply(const char* text, TTovrinData& record)
{
    return ParseTovrinReply(text, static_cast<size_t>(-1), record);
}

void AmplifierList::UpdateAmplifier(
    const TTovrinData& record, uint32_t now, std::chrono::system_clock::time_point seen)
{
    if (const long found = FIndex.Find(record.MacKey); found >= 0) {
        FSeen[static_cast<size_t>(found)].Last = seen;
        TTovrinData& row = FRows[static_cast<size_t>(found)];
        const bool shownTextChanged = row.IP != record.IP || row.Name != record.Name;
        row = record;
        row.LastSeen = now;
        if (shownTextChanged && FObserver != nullptr)
            FObserver->RowChanged(static_cast<int>(found));
        return;
    }
    if (Count() >= FMaxRows) {
        ++FCounts.refused;
        return;
    }
    FIndex.Insert(record.MacKey, FRows.size());
    ++FCounts.added;
    if (FCountReturns && FRemovedKeys.erase(record.MacKey) > 0)
        ++FCounts.returned;
    FRows.push_back(record);
    FRows.back().LastSeen = now;
    FSeen.push_back({ seen, seen });
    const int row = Count() - 1;
    FSelected = row;
    if (FObserver != nullptr) {
        FObserver->RowAppended(row);
        FObserver->SelectionChanged(row);
    }
}

int AmplifierList::RemoveStale(uint32_t maxAge, uint32_t now)
{
    std::vector<int> removed;
    for (size_t i = 0; i < FRows.size(); ++i) {
        // Unsigned difference: the age stays right when the tick counter wraps between the two.
        if (static_cast<uint32_t>(now - FRows[i].LastSeen) > maxAge)
            removed.push_back(static_cast<int>(i));
    }
    if (removed.empty())
        return 0;

    const int oldSelected = FSelected;
    int newSelected = oldSelected;
    size_t kept = 0;
    size_t next = 0;
    for (size_t i = 0; i < FRows.size(); ++i) {
        if (next < removed.size() && static_cast<size_t>(removed[next]) == i) {
            if (FCountReturns)
                FRemovedKeys.insert(FRows[i].MacKey);
            if (static_cast<int>(i) == oldSelected)
                newSelected = -1;
            ++next;
            continue;
        }
        if (static_cast<int>(i) == oldSelected)
            newSelected = static_cast<int>(kept);
        if (kept != i) {
            FRows[kept] = std::move(FRows[i]);
            FSeen[kept] = FSeen[i];
        }
        ++kept;
    }
    FRows.resize(kept);
    FSeen.resize(kept);
    // Expiry is rare beside lookups: the index is built again rather than kept up per move.
    FIndex.Clear();
    for (size_t i = 0; i < FRows.size(); ++i)
        FIndex.Insert(FRows[i].MacKey, i);
    FSelected = newSelected;
    FCounts.removed += removed.size();

    if (FObserver != nullptr) {
        FObserver->RowsRemoved(removed);
        if (oldSelected >= 0 && newSelected < 0)
            FObserver->SelectionChanged(-1);
    }
    return static_cast<int>(removed.size());
}

int AmplifierList::Find(const std::string& macKey) const
{
    return static_cast<int>(FIndex.Find(macKey));
}

void AmplifierList::Select(int row)
{
    FSelected = row >= 0 && row < Count() ? row : -1;
}

bool AmplifierList::GetSelected(TTovrinData& record) const
{
    if (FSelected < 0)
        return false;
    record = FRows[static_cast<size_t>(FSelected)];
    return true;
}

std::vector<std::string> OwnDatagramPeers(const std::string& localAddress, int port)
{
    std::vector<std::string> peers;
    const std::string suffix = ":" + std::to_string(port);
    if (!localAddress.empty()) {
        peers.push_back(localAddress + suffix);
        return peers;
    }
    for (const auto& entry : platform::UpInterfaceAddresses()) {
        char text[INET_ADDRSTRLEN] = {};
        in_addr address { entry.address };
        if (inet_ntop(AF_INET, &address, text, sizeof text) != nullptr)
            peers.push_back(text + suffix);
    }
    return peers;
}

bool IsOwnDatagram(const std::vector<std::string>& ownPeers, const std::string& peer)
{
    return std::find(ownPeers.begin(), ownPeers.end(), peer) != ownPeers.end();
}
