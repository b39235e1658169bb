// The trend history: a data file of checksummed 288-byte records shared by
// all resources, an index file of (time stamp, offset) entries, and the
// in-memory index that finds the records of a quarter hour.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "trend/quality_file.h"
#include "trend/trend_record.h"

namespace tarvik {

inline constexpr std::size_t kTrendHeaderSize = 12;
inline constexpr std::size_t kTrendRecordSize = 288;
// Where a record's fields lie: the name from 0, then 6-byte reals for read,
// write and ping, the 8-byte time stamp and the checksum.
namespace trend_layout {
inline constexpr std::size_t kReadOffset = 256;
inline constexpr std::size_t kWriteOffset = 262;
inline constexpr std::size_t kPingOffset = 268;
inline constexpr std::size_t kTimeOffset = 276;
inline constexpr std::size_t kChecksumOffset = 284;
}  // namespace trend_layout
inline constexpr std::size_t kTrendIndexEntrySize = 12;
inline constexpr std::size_t kTrendNameMax = 255;
inline constexpr int kTrendSlotsPerDay = 96;

using TTrendRecordBytes = std::array<std::uint8_t, kTrendRecordSize>;

// What the window tells the user once when the history has reached the
// 2 GiB the index can address, naming the two files to archive.
std::string TrendFullText(std::string_view dataPath, std::string_view indexPath);

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
    // Own: open read-write under the lock, as the measuring program does.
    // ReadShared: read only, without a lock and without creating anything,
    // beside a program that owns the files (its records reach the data file
    // before the index names them, so what the index names is whole).
    enum class TAccess { Own, ReadShared };
    TTrendFile(std::string dataPath, std::string indexPath, const IClock& clock,
               TAccess access = TAccess::Own);
    ~TTrendFile() override;
    TTrendFile(const TTrendFile&) = delete;
    TTrendFile& operator=(const TTrendFile&) = delete;

    bool IsOpen() const { return Data_.Valid() && Index_.Valid(); }
    bool IsWritable() const { return IsOpen() && Writable_; }

    // The steps of WriteRecord in their order. A fault hook that returns true
    // makes that step fail as the system would; a failed DataWrite first
    // writes half the record, as a full disk does.
    enum class TWriteStep { DataWrite, DataSync, IndexWrite };
    using TFaultHook = std::function<bool(TWriteStep)>;
    void SetFaultHook(TFaultHook hook) { Fault_ = std::move(hook); }

    // The data file has reached the 2 GiB that the index's signed 32-bit
    // offsets can name, so no further record is written. The handler runs
    // once, inside the first WriteRecord that is refused for it; it must not
    // block (the writer is waited for by a measuring thread).
    bool IsFull() const { return Full_; }
    void SetFullHandler(std::function<void()> handler) { OnFull_ = std::move(handler); }

    // Opening found an index that did not match the data and rebuilt it
    // from the data's records (written back when the files are writable).
    bool IndexRebuilt() const { return Rebuilt_; }

    // Appends the record with its own stamp, or stamped with the current
    // minute when its Time is 0. The record goes at
    // the real end of the data file and reaches the disk before its index
    // entry, so the index never names a record that is not there.
    void WriteRecord(const TTrendRecord& record) override;

    // The link-quality side file beside the trend files. Opened only while
    // this object holds the trend files' lock (it is locked too); a side
    // file that cannot be opened or written leaves quality data off and
    // the trend files untouched.
    void AttachQualityFile(const std::string& path);
    bool HasQualityFile() const { return Quality_ && Quality_->IsWritable(); }
    // Appends the quality record of a host stamped as WriteRecord stamps
    // the trend record.
    void WriteQuality(const TTrendRecord& record, const TLinkQuality& quality) override;
    // The quality of each name's quarter hours of the day holding `date`;
    // all unknown without a side file.
    std::vector<TQualityDay> ReadQualityDay(const std::vector<std::string>& names, double date) const;

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
    void CutTornTail();
    bool LoadIndex();
    void AddSlot(std::int64_t minute, std::int32_t offset, bool& sorted);
    void SortSlots(bool sorted);
    bool RunsMatchTheirRecords() const;
    void RebuildIndex();
    bool ReplaceIndexFile(const std::vector<std::uint8_t>& entries);
    bool Fails(TWriteStep step) const { return Fault_ && Fault_(step); }
    void AddToIndex(std::int64_t minute, std::int32_t offset);
    bool Find(const std::string& name, std::int64_t minute, TTrendRecord& out) const;
    bool ScanRun(const std::string& name, std::int64_t minute, off_t pos, TTrendRecord& out) const;

    std::string DataPath_;
    std::string IndexPath_;
    const IClock& Clock_;
    TFd Data_;
    TFd Index_;
    bool Writable_ = false;
    TAccess Access_ = TAccess::Own;
    // Where the next record and index entry go: just past the last whole
    // record and entry, so that bytes a failed write left behind are
    // overwritten instead of shifting what follows.
    off_t DataEnd_ = 0;
    off_t IndexEnd_ = 0;
    bool Full_ = false;
    bool Rebuilt_ = false;
    std::function<void()> OnFull_;
    TFaultHook Fault_;
    // Sorted by minute, one slot per distinct stamp, no cap: about 35000
    // stamps a year whatever the number of resources.
    std::vector<TStampSlot> Slots_;
    std::unique_ptr<TQualityFile> Quality_;

  public:
    // ---- for readers that fetch the records of many stamps at once ----
    // Data file bytes [Offset, End) that a lookup scans first for a stamp;
    // the scan goes on past End while the records keep the stamp's minute.
    struct TRecordRun {
        std::int64_t Offset;
        std::int64_t End;
    };
    // The runs a ReadRecord of `stamp` scans, in its order (the stamp is
    // rounded to the minute as ReadRecord rounds it); none when history is off.
    std::vector<TRecordRun> RunsAt(double stamp) const;
    // Up to `size` bytes of the data file from `offset`; returns the count read.
    std::size_t ReadDataAt(std::uint8_t* buf, std::size_t size, std::int64_t offset) const;
};

// The whole minute a stamp names as lookups compare it (minutes since
// 1899-12-30); false for a value that is no plausible stamp.
bool TrendStampMinute(double stamp, std::int64_t& minute);

}  // namespace tarvik
