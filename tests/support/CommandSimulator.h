#pragma once
// One simulated amplifier that serves only its command port, on 127.0.0.1 at a free port; nothing
// is broadcast. change may adjust the amplifier (faults, replies), and changeOptions the
// simulator's options (e.g. OnEvent), before the simulator is made.

#include "tools/ampsim/Ampsim.h"

#include <functional>
#include <memory>

std::unique_ptr<ampsim::Simulator> LoopbackCommandSimulator(
    const std::function<void(ampsim::Amplifier&)>& change = {},
    const std::function<void(ampsim::Options&)>& changeOptions = {});
