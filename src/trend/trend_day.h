// One day of history for many resources at once: what the trend chart and
// the export show. The records of a quarter hour lie one after the other in
// the data file, so the whole day is fetched with a few large reads instead
// of one read per slot and resource.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "trend/trend_file.h"

namespace tarvik {

using TTrendDay = std::array<TTrendDaySlot, kTrendSlotsPerDay>;  // index 0 is slot 1

// The 96 slots of the day holding `date` for every name, in the order of
// `names`. Each slot holds exactly what ReadRecord finds for that name at
// the slot's stamp: the first record of the stamp's minute with the name
// (compared without regard to case) and a good checksum.
std::vector<TTrendDay> ReadTrendDay(const TTrendFile& file, std::span<const std::string> names,
                                    double date);

}  // namespace tarvik
