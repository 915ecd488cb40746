#pragma once
// Finding a row of the amplifier list by a piece of its MAC suffix, IP address or name.
//
// Plain text, no patterns, without regard to case. Texts are compared as the list shows them: a
// field that is not valid UTF-8 reads byte by byte as Latin-1 (text/TextEncoding.h), the text
// searched for likewise. Case is folded for ASCII and for the letters of Latin-1.

#include "finder/Discovery.h"

#include <string>

class AmplifierMatcher {
public:
    explicit AmplifierMatcher(const std::string& text);

    // True when the MAC suffix, the IP address or the name contains the text. An empty text
    // matches nothing.
    bool Matches(const TTovrinData& record) const;
    bool Contains(const std::string& field) const;

private:
    std::string FNeedle; // folded UTF-8
    bool FNeedleAscii = true;
    // A field with bytes >= 0x80 is folded into this first; reused so that a search allocates once.
    mutable std::string FScratch;
};

// The first row after row `after` that matches text, going on from the first row once the end is
// passed and ending with row `after` itself; -1 when no row matches. With after < 0 the search
// starts at the first row.
int FindAmplifier(const AmplifierList& list, const std::string& text, int after);
