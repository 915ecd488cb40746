#pragma once
// Follows one amplifier after its settings datagram was sent, to tell the user whether the change
// took effect. Window-free: the window feeds it the discovery replies and its timer ticks, with the
// millisecond tick count of the moment, and shows the texts it returns.

#include <cstdint>
#include <optional>
#include <string>

struct TAmplifierSettings {
    std::string IP;
    std::string NetMask;
    std::string Gateway;
    bool operator==(const TAmplifierSettings&) const = default;
};

class TSettingsWatch {
public:
    static constexpr uint32_t DefaultLimitMs = 60000;
    // Silence long enough to count as the amplifier's reboot: several missed hellos (500 ms each).
    static constexpr uint32_t RebootSilenceMs = 1500;

    // Starts watching macKey (replacing any earlier watch). before: what it reported before the
    // send. For DHCP, requested is ignored. Returns the waiting notice.
    std::string Start(const std::string& macKey, bool dhcp, const TAmplifierSettings& requested,
        const TAmplifierSettings& before, uint32_t now, uint32_t limitMs = DefaultLimitMs);
    // A discovery reply. Returns the final notice when it shows that the change took effect.
    std::optional<std::string> Reply(
        const std::string& macKey, const TAmplifierSettings& reported, uint32_t now);
    // A timer tick. Returns the final notice when the limit has passed without confirmation.
    std::optional<std::string> Tick(uint32_t now);

    bool Active() const { return active; }
    const std::string& MacKey() const { return watchedMac; }

private:
    bool Confirms(const TAmplifierSettings& reported, uint32_t now) const;
    std::string Describe(const TAmplifierSettings& settings) const;

    bool active = false;
    bool dhcp = false;
    std::string watchedMac;
    TAmplifierSettings requested;
    TAmplifierSettings before;
    TAmplifierSettings lastReported;
    bool repliedSinceSend = false;
    uint32_t sentAt = 0;
    uint32_t lastReplyAt = 0; // the send counts as the last sign of life before the reboot
    uint32_t limitMs = DefaultLimitMs;
};
