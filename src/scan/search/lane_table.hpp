// A table of 16 bytes repeated in each 16-byte lane of 64 bytes: the byte shuffles of every
// vector width look tables up within lanes, so each width loads its first 16, 32 or 64.
#pragma once

namespace vornu {

struct LaneTable {
    alignas(64) char entries[64];
};

constexpr LaneTable in_every_lane(const char (&entries)[16]) {
    LaneTable table{};
    for (int i = 0; i < 64; ++i) table.entries[i] = entries[i % 16];
    return table;
}

}  // namespace vornu
