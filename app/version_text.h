// The version number as the About box shows it.
#pragma once

#include <cstdint>
#include <string>

// "%u.%u.%u.%u" of the four 16-bit parts, most significant first: the upper 32
// bits hold the first two, the lower 32 bits the last two.
std::string VersionText(uint64_t version);
