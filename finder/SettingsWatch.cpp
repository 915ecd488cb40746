#include "finder/SettingsWatch.h"

std::string TSettingsWatch::Start(const std::string& macKey, bool useDhcp, const TAmplifierSettings& wanted,
    const TAmplifierSettings& previous, uint32_t now, uint32_t limit)
{
    active = true;
    dhcp = useDhcp;
    watchedMac = macKey;
    requested = wanted;
    before = previous;
    lastReported = previous;
    repliedSinceSend = false;
    sentAt = now;
    lastReplyAt = now;
    limitMs = limit;
    return "Settings sent to " + watchedMac + "; waiting for its answer after the reboot...";
}

bool TSettingsWatch::Confirms(const TAmplifierSettings& reported, uint32_t now) const
{
    // A reply sent before the reboot can still look like the new settings when they equal the old
    // ones; only a reply after a reboot-long silence, or one showing changed settings, proves it.
    const bool rebooted = now - lastReplyAt >= RebootSilenceMs;
    const bool changed = !(reported == before);
    if (dhcp)
        return rebooted || changed;
    return reported == requested && (rebooted || changed);
}

std::optional<std::string> TSettingsWatch::Reply(
    const std::string& macKey, const TAmplifierSettings& reported, uint32_t now)
{
    if (!active || macKey != watchedMac)
        return std::nullopt;
    const bool confirmed = Confirms(reported, now);
    lastReported = reported;
    repliedSinceSend = true;
    lastReplyAt = now;
    if (!confirmed)
        return std::nullopt;
    active = false;
    if (dhcp)
        return "Change took effect: " + watchedMac + " answers again, on DHCP at " + Describe(reported) + ".";
    return "Change took effect: " + watchedMac + " answers as " + Describe(reported) + ".";
}

std::optional<std::string> TSettingsWatch::Tick(uint32_t now)
{
    if (!active || now - sentAt < limitMs)
        return std::nullopt;
    active = false;
    const std::string notConfirmed = "Change not confirmed in " + std::to_string(limitMs / 1000) + " s: ";
    if (!repliedSinceSend)
        return notConfirmed + watchedMac + " has been silent since; before: " + Describe(lastReported) + ".";
    return notConfirmed + watchedMac + " last reported " + Describe(lastReported) + ".";
}

std::string TSettingsWatch::Describe(const TAmplifierSettings& settings) const
{
    return settings.IP + " / " + settings.NetMask + " / " + settings.Gateway;
}
