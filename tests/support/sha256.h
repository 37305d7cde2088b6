// SHA-256, to compare whole renders against reference digests.
#pragma once

#include <string>

// Lower-case hex digest of bytes.
std::string sha256_hex(const std::string& bytes);
