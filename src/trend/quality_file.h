// The side file of the trend history: one link-quality record per host and
// quarter hour, beside the trend record of the same flush. Records are
// self-contained (name, stamp, checksum) and of one fixed size, so a torn
// tail or a damaged record costs only itself, and the trend files never
// depend on this one: a missing or unusable side file reads as "no quality
// data".
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "trend/link_quality.h"

namespace tarvik {

inline constexpr std::size_t kQualityRecordSize = 704;
using TQualityRecordBytes = std::array<std::uint8_t, kQualityRecordSize>;

struct TQualityRecord {
    std::string Name;  // as the trend record stores it (TrendName)
    double Time = 0;   // the trend record's stamp
    TLinkQuality Quality;
};

// Little-endian: "TQR1", name length and 255 name bytes, stamp (double),
// cycles, lost, RTT min and max in µs (uint32), RTT sum, sum of squares and
// jitter sum in µs (double), jitter count (uint32), the 94 bucket counts
// (uint32), 12 reserved zero bytes, CRC-32 of everything before it.
// Counts above the uint32 range are stored as its maximum.
TQualityRecordBytes EncodeQualityRecord(const TQualityRecord& record);
// nullopt when the magic or the checksum does not match.
std::optional<TQualityRecord> DecodeQualityRecord(std::span<const std::uint8_t, kQualityRecordSize> bytes);

class TQualityFile {
  public:
    // Own: read-write, created when missing, locked with flock for the
    // object's life (the owner of the trend files opens it only while it
    // holds their lock). ReadShared: read only, no lock, nothing created.
    enum class TAccess { Own, ReadShared };
    TQualityFile(std::string path, TAccess access);
    ~TQualityFile();
    TQualityFile(const TQualityFile&) = delete;
    TQualityFile& operator=(const TQualityFile&) = delete;

    bool IsOpen() const { return Fd_ >= 0; }
    bool IsWritable() const { return IsOpen() && Access_ == TAccess::Own; }

    // Writes the record just past the last whole record (so a torn tail
    // is overwritten) and syncs it; false when it did not reach the disk.
    bool Append(const TQualityRecord& record);
    // Every intact record in file order; torn tails and damaged records
    // are skipped.
    std::vector<TQualityRecord> ReadAll() const;
    // The intact records stamped with a whole minute (minutes since
    // 1899-12-30), in file order, found through the in-memory index.
    std::vector<TQualityRecord> ReadMinute(std::int64_t minute) const;

  private:
    template <class F>
    void Scan(F&& each) const;
    std::optional<TQualityRecord> ReadAt(off_t offset) const;

    std::string Path_;
    TAccess Access_;
    int Fd_ = -1;
    // Offsets of the intact records by the minute of their stamp, built
    // when the file is opened and kept up by Append.
    std::map<std::int64_t, std::vector<off_t>> ByMinute_;
};

// The quality of each quarter-hour slot (index 0 is slot 1) of the day
// holding `date`, per name (matched as the trend file matches names; the
// newest record of a slot wins); nullopt where the side file has none.
using TQualityDay = std::array<std::optional<TLinkQuality>, 96>;
std::vector<TQualityDay> ReadQualityDay(const TQualityFile& file, const std::vector<std::string>& names,
                                        double date);

}  // namespace tarvik
