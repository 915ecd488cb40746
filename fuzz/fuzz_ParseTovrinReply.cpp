// Reads arbitrary datagrams as discovery replies and checks them against the C library's sscanf
// with the same conversion, which defines the format.
#include "finder/Discovery.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TTovrinData record;
    const bool parsed = ParseTovrinReply(text.data(), text.size(), record);

    char mac[13] = {}, ip[16] = {}, mask[16] = {}, gateway[16] = {}, name[64] = {};
    char flag = 0;
    const int fields
        = std::sscanf(text.c_str(), "%12s %c %15s %15s %15s %63s", mac, &flag, ip, mask, gateway, name);
    if (parsed != (fields == 6))
        std::abort();
    if (parsed
        && (record.Mac != mac || record.MacKey != mac || record.Flag != (flag == '1') || record.IP != ip
            || record.NetMask != mask || record.Gateway != gateway || record.Name != name))
        std::abort();

    // The list must take any parsed reply, twice, and let it age out again.
    if (parsed) {
        AmplifierList list;
        list.UpdateAmplifier(record, 0xFFFFFFF0u);
        list.UpdateAmplifier(record, 0x10u);
        if (list.Count() != 1 || list.RemoveStale(MaxSilenceMs, 0x10u + MaxSilenceMs + 1) != 1)
            std::abort();
    }
    return 0;
}
