#pragma once
// A sample of the shared project drive: production year folders, the firmware work folder and
// the firmware archives, filled with folders named like real project and serial numbers.

#include <string>

namespace sampledrive {

// Makes about count folders below root (made when missing; it must be empty otherwise): most in
// Produktion/2013, Produktion/2014 and Firmware/Work, some in the archives and older years, plus
// a few files that a search must skip. The same seed gives the same names. false with a message
// in error when something cannot be made.
bool MakeSampleDrive(const std::string& root, int count, unsigned seed, std::string& error);

} // namespace sampledrive
