// Small register logs written by tests.
#pragma once

#include <string>

#include "common/version.h"

inline const std::string kTextHeader = "MOVA-TXT\n";
inline const std::string kBinaryHeader = "MOVA-BIN\n";

// The banners, as each program prints them first, with the release's version.
inline const std::string kZarnikBanner =
    std::string("Zarnik ") + kVersion + " - PSG register log player\n";
inline const std::string kTubrelBanner =
    std::string("Tubrel ") + kVersion + " - text to binary PSG register log converter\n";
