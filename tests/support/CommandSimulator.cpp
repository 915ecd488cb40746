#include "support/CommandSimulator.h"

std::unique_ptr<ampsim::Simulator> LoopbackCommandSimulator(
    const std::function<void(ampsim::Amplifier&)>& change,
    const std::function<void(ampsim::Options&)>& changeOptions)
{
    ampsim::Options options;
    options.Discovery = false;
    options.CommandAddress = "127.0.0.1";
    options.CommandPort = 0;
    if (changeOptions)
        changeOptions(options);
    auto amps = ampsim::MakeAmplifiers(1, "127.0.0.1");
    if (change)
        change(amps[0]);
    return std::make_unique<ampsim::Simulator>(options, amps);
}
