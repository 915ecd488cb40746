#pragma once
// The discovery reply format and the amplifier list behind the main window's list view.
//
// Window-free: the list keeps the records and tells an observer what changed, so a view mirrors it
// without scanning. The current tick is always passed in, so callers (and tests) own the clock.

#include "finder/MacIndex.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

// One discovered amplifier, copied by value.
struct TTovrinData {
    std::string Mac;
    std::string Name;
    bool Flag = false;
    std::string IP;
    std::string NetMask;
    std::string Gateway;
    std::string MacKey;
    uint32_t LastSeen = 0;
};

// The discovery hello, sent as one datagram without terminator.
inline constexpr const char* DiscoveryHello = "0 1 A";
inline constexpr int DiscoveryPort = 8001;
inline constexpr uint32_t HelloIntervalMs = 500;
inline constexpr uint32_t MaxSilenceMs = 2000;

// Reads the six fields of a reply the way "%12s %c %15s %15s %15s %63s" does: white space runs
// separate fields, each text field stops at its width even inside a longer run, and anything after
// the sixth field is ignored. Fills every field but LastSeen and returns true only when all six
// were read; on false the record is left as it was.
bool ParseTovrinReply(const char* text, TTovrinData& record);
// The same for a received buffer that may lack a terminator: reads up to length bytes or up to
// the first zero byte, whichever comes first.
bool ParseTovrinReply(const char* data, size_t length, TTovrinData& record);

// The peer texts the program's own broadcasts come back from on a channel bound to localAddress
// and port: that address, or every local one when the channel is bound to any address. A settings
// datagram has six fields and would read as a reply: datagrams from these peers are not replies.
std::vector<std::string> OwnDatagramPeers(const std::string& localAddress, int port);
bool IsOwnDatagram(const std::vector<std::string>& ownPeers, const std::string& peer);

// The live list of amplifiers: one row per MacKey, in the order they were first heard, plus the
// single selected row.
class AmplifierList {
public:
    // Told after each change. Row indices are those before the change for removals, after it
    // otherwise.
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void RowAppended(int row) = 0;
        // Only when the shown texts (IP or name) changed.
        virtual void RowChanged(int row) = 0;
        // Ascending indices, all removed in one pass.
        virtual void RowsRemoved(const std::vector<int>& rows) = 0;
        // The list chose another selected row by itself (a new row, or the selected row expired).
        virtual void SelectionChanged(int row) = 0;
    };

    void SetObserver(Observer* observer) { FObserver = observer; }

    // Wall-clock times of a row's first and latest reply, for records kept beyond the run (the
    // tick in LastSeen only orders replies within it).
    struct SeenTimes {
        std::chrono::system_clock::time_point First;
        std::chrono::system_clock::time_point Last;
    };

    // What happened to the list so far. A row that comes back is a new row for a MAC suffix whose
    // row had been removed before: with every amplifier answering, a row that flickered.
    struct Counts {
        uint64_t added = 0;
        uint64_t removed = 0;
        uint64_t returned = 0;
        uint64_t refused = 0; // replies of amplifiers left out while the list held MaxRows() rows
    };
    const Counts& Tally() const { return FCounts; }
    // Counting returns keeps every removed MAC suffix: off unless asked for.
    void CountReturns(bool on) { FCountReturns = on; }

    // Any sender can make up MAC suffixes, so the list is bounded: a /16 network's worth of rows.
    static constexpr int DefaultMaxRows = 65536;
    int MaxRows() const { return FMaxRows; }
    void SetMaxRows(int rows) { FMaxRows = rows; }

    // Refreshes the row of record.MacKey, or appends a row and selects it. A refresh brings the
    // whole record up to date, so later operations act on the latest reply. A new MAC suffix while
    // the list holds MaxRows() rows is left out and counted as refused.
    void UpdateAmplifier(const TTovrinData& record, uint32_t now,
        std::chrono::system_clock::time_point seen = std::chrono::system_clock::now());
    // Removes every row whose last reply is more than maxAge ms before now, computed as an age so
    // that it holds across the wrap of the tick counter. Returns how many rows were removed.
    int RemoveStale(uint32_t maxAge, uint32_t now);

    int Count() const { return static_cast<int>(FRows.size()); }
    const TTovrinData& Row(int row) const { return FRows[static_cast<size_t>(row)]; }
    const SeenTimes& Seen(int row) const { return FSeen[static_cast<size_t>(row)]; }
    // Index of the row with that MacKey, or -1.
    int Find(const std::string& macKey) const;

    int SelectedRow() const { return FSelected; }
    // The view reports the user's choice here; an index out of range means no selection.
    void Select(int row);
    // Copies the selected row's record; false (record untouched) when nothing is selected.
    bool GetSelected(TTovrinData& record) const;

private:
    std::vector<TTovrinData> FRows;
    std::vector<SeenTimes> FSeen; // beside FRows, row for row
    MacIndex FIndex;
    Counts FCounts;
    bool FCountReturns = false;
    int FMaxRows = DefaultMaxRows;
    std::unordered_set<std::string> FRemovedKeys;
    int FSelected = -1;
    Observer* FObserver = nullptr;
};

// The settings datagram for the amplifier with MAC suffix mac: "<mac> 5 1" for DHCP, else
// "<mac> 5 0 <ip> <netmask> <gateway>". The texts go out as given.
std::string BuildSettingsDatagram(const std::string& mac, bool dhcp, const std::string& ip,
    const std::string& netmask, const std::string& gateway);
