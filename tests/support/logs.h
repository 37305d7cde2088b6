// Small register logs written by tests.
#pragma once

#include <string>

inline const std::string kTextHeader = "MOVA-TXT\n";
inline const std::string kBinaryHeader = "MOVA-BIN\n";

// The banners, as each program prints them first.
inline const std::string kZarnikBanner = "Zarnik - PSG register log player\n";
inline const std::string kTubrelBanner =
    "Tubrel - text to binary PSG register log converter\n";
