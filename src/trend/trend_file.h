// The trend history: a data file of checksummed 288-byte records shared by
// all resources, an index file of (time stamp, offset) entries, and the
// in-memory index that finds the records of a quarter hour.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "trend/trend_record.h"

namespace tarvik {

inline constexpr std::size_t kTrendHeaderSize = 12;
inline constexpr std::size_t kTrendRecordSize = 288;
inline constexpr std::size_t kTrendIndexEntrySize = 12;
inline constexpr std::size_t kTrendNameMax = 255;
inline constexpr int kTrendSlotsPerDay = 96;

using TTrendRecordBytes = std::array<std::uint8_t, kTrendRecordSize>;

// Checksum of a byte string: the low half sums byte * (position mod 256),
// positions counted from 1, modulo 65536; the high half xors the bytes.
std::uint32_t TrendChecksum(std::span<const std::uint8_t> bytes);

// The name as stored and compared: cut to 255 bytes (at a UTF-8 character
// boundary), then a-z and every byte of 224 or more decreased by 32.
std::string TrendName(std::string_view name);

// The stamp of a record written at local time `now`: the whole minute, truncated.
double TrendStamp(const TLocalTime& now);
// A wanted stamp as the reader looks it up: rounded to the nearest minute.
double RoundTrendStamp(double stamp);
// The stamp of quarter-hour slot p (1..96) of the day holding `date`;
// slot 96 is midnight at the end of the day.
double TrendSlotStamp(double date, int slot);

// The stored bytes of a record: the name normalised by TrendName, bytes after
// it zero, reserved bytes zero, and the checksum computed over bytes 0..283
// (record.Checksum is not used).
TTrendRecordBytes EncodeTrendRecord(const TTrendRecord& record);
// Copies every field, the stored checksum included, without judging it.
TTrendRecord DecodeTrendRecord(std::span<const std::uint8_t, kTrendRecordSize> bytes);
// Whether the stored checksum matches bytes 0..283.
bool TrendRecordIntact(std::span<const std::uint8_t, kTrendRecordSize> bytes);

std::array<std::uint8_t, kTrendIndexEntrySize> EncodeTrendIndexEntry(double stamp,
                                                                     std::int32_t offset);

// One quarter hour of a day as the readers show it.
struct TTrendDaySlot {
    bool Found = false;
    double Read = 0;
    double Write = 0;
    double Ping = 0;
};

// Both files are opened read-write and locked with flock for the object's
// whole life, so a second Tarvik on the same directory finds them locked and
// runs without history instead of writing between our records. A file that
// is missing is created (never truncated); a file held by someone else, or
// one that can neither be opened nor created, leaves history off: reads
// find nothing and writes do nothing. Files readable but not writable give
// a read-only history. All calls come from one thread.
class TTrendFile final : public ITrendWriter {
  public:
    TTrendFile(std::string dataPath, std::string indexPath, const IClock& clock);
    ~TTrendFile() override;
    TTrendFile(const TTrendFile&) = delete;
    TTrendFile& operator=(const TTrendFile&) = delete;

    bool IsOpen() const { return Data_.Valid() && Index_.Valid(); }
    bool IsWritable() const { return IsOpen() && Writable_; }

    // Appends the record with its own stamp, or stamped with the current
    // minute when its Time is 0. The record goes at
    // the real end of the data file and reaches the disk before its index
    // entry, so the index never names a record that is not there.
    void WriteRecord(const TTrendRecord& record) override;

    // The caller fills Name and the wanted Time. The name is normalised and
    // the time rounded to the minute in place; on success the whole stored
    // record is copied in and the result is true, otherwise the three
    // averages are 0 and the result is false.
    bool ReadRecord(TTrendRecord& record) const;

    // The 96 slots of the day holding `date` for one resource (index 0 is
    // slot 1), each looked up as ReadRecord does.
    std::array<TTrendDaySlot, kTrendSlotsPerDay> ReadDay(std::string_view name, double date) const;

    // Distinct time stamps held by the in-memory index, and its heap size.
    std::size_t IndexedStamps() const { return Slots_.size(); }
    std::size_t IndexMemoryBytes() const { return Slots_.capacity() * sizeof(TStampSlot); }

  private:
    class TFd {
      public:
        TFd() = default;
        explicit TFd(int fd) : Fd_(fd) {}
        ~TFd();
        TFd(TFd&& other) noexcept : Fd_(other.Release()) {}
        TFd& operator=(TFd&& other) noexcept;
        TFd(const TFd&) = delete;
        TFd& operator=(const TFd&) = delete;
        int Get() const { return Fd_; }
        bool Valid() const { return Fd_ >= 0; }
        int Release() {
            const int fd = Fd_;
            Fd_ = -1;
            return fd;
        }

      private:
        int Fd_ = -1;
    };

    // A run of records of one minute (minutes since 1899-12-30) that follow
    // each other in the data file: its first offset and the offset just past
    // its last record. A minute normally has one run; a torn record between
    // two records of the same minute starts a second one.
    struct TStampSlot {
        std::int64_t Minute;
        std::int32_t Offset;
        std::int32_t RunEnd;
    };

    void Open();
    void LoadIndex();
    void AddToIndex(std::int64_t minute, std::int32_t offset);
    bool Find(const std::string& name, std::int64_t minute, TTrendRecord& out) const;
    bool ScanRun(const std::string& name, std::int64_t minute, off_t pos, TTrendRecord& out) const;

    std::string DataPath_;
    std::string IndexPath_;
    const IClock& Clock_;
    TFd Data_;
    TFd Index_;
    bool Writable_ = false;
    // Sorted by minute, one slot per distinct stamp, no cap: about 35000
    // stamps a year whatever the number of resources.
    std::vector<TStampSlot> Slots_;
};

}  // namespace tarvik
