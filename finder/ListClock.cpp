#include "finder/ListClock.h"

uint32_t TListClock::Now(uint32_t real)
{
    // Never before a time already handed out: a row stamped then would look ages old.
    const uint32_t now = real - FOffset;
    if (!FRead || static_cast<int32_t>(now - FLastNow) > 0)
        FLastNow = now;
    FRead = true;
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
        Now(real);
    }
    return late;
}
