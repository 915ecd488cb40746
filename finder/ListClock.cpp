#include "finder/ListClock.h"

uint32_t TListClock::Now(uint32_t real)
{
    FLastNow = real - FOffset;
    return FLastNow;
}

bool TListClock::Tick(uint32_t real)
{
    const bool late = FTicked && real - FLastTick > LateTickMs;
    FLastTick = real;
    FTicked = true;
    if (late) {
        // The list's time stands where it was last read: replies still waiting are stamped from
        // there, and no row has aged by the stall.
        FOffset = real - FLastNow;
    } else {
        FLastNow = real - FOffset;
    }
    return late;
}
