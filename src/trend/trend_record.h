// One quarter-hour trend record in memory: what a measuring thread
// accumulates and hands to the trend writer, and what readers get back.
#pragma once

#include <cstdint>
#include <string>

#include "trend/link_quality.h"

namespace tarvik {

struct TTrendRecord {
    std::string Name;  // resource address; stored upper-cased, at most 255 bytes
    double Read = 0;   // average read speed, KBps (a running sum while accumulating)
    double Write = 0;  // average write speed, KBps
    double Ping = 0;   // average ping speed, KBps
    double Time = 0;   // time stamp, days since 1899-12-30, whole minutes
    std::uint32_t Checksum = 0;
};

// Receives a finished record on the window thread (the trend file).
class ITrendWriter {
public:
    virtual ~ITrendWriter() = default;
    virtual void WriteRecord(const TTrendRecord& record) = 0;
    // A host's link quality over the same quarter hour, written right after
    // its trend record; writers without a side file drop it.
    virtual void WriteQuality(const TTrendRecord& record, const TLinkQuality& quality) {
        (void)record;
        (void)quality;
    }
};

}  // namespace tarvik
