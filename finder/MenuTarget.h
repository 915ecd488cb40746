#pragma once
// Which amplifier an operation chosen from the context menu acts on: the one whose row was
// current when the menu opened. Replies go on arriving while the menu is open and a new amplifier
// takes the selection, so the target is remembered by its MAC suffix and found again when the
// operation starts.

#include "finder/Discovery.h"

#include <optional>
#include <string>

class TMenuTarget {
public:
    enum class Outcome {
        NoRow, // no row was current (or no menu is open): the operation acts on the selection
        Found, // the record holds the target's latest reply
        Vanished, // the target left the list before the operation started
    };

    // The menu opens on the list's selected row, or on none.
    void Aim(const AmplifierList& list);
    // The menu closed; operations started from now on act on the selection again.
    void Release();
    bool Aimed() const { return FAimed; }

    // What the operation acts on now. Without an open menu: the selected row (Found) or none
    // (NoRow). With one: the row aimed at, wherever it is now.
    Outcome Resolve(const AmplifierList& list, TTovrinData& record) const;
    // The record as it was when the menu opened (to name a vanished target).
    const TTovrinData& AimedRecord() const { return FRecord; }

private:
    bool FAimed = false;
    std::optional<std::string> FKey;
    TTovrinData FRecord;
};

// How an amplifier is named to the user where a row is not in view: "MAC suffix IP address name",
// the row's columns in order, blanks left out for empty fields.
std::string AmplifierLabel(const TTovrinData& record);
