#pragma once
// The time by which the amplifier list ages its rows. While the window thread is held up (a long
// handler, a heavily loaded machine), replies wait in the socket; rows must not expire only
// because their replies have not been handled yet. So a hello tick that comes much later than the
// timer's interval does not age the list: the time the window thread stood still is left out.

#include <cstdint>

class TListClock {
public:
    // A tick this long after the previous one means the window thread stood still meanwhile.
    static constexpr uint32_t LateTickMs = 1000;

    // The list's time for the real tick count now; never goes back.
    uint32_t Now(uint32_t real);
    // At each hello tick, before the expiry. True when the tick came late: the expiry is skipped
    // at this tick and the stall is left out of the list's time.
    bool Tick(uint32_t real);

private:
    uint32_t FOffset = 0;
    uint32_t FLastNow = 0;
    uint32_t FLastTick = 0;
    bool FTicked = false;
    bool FRead = false;
};
