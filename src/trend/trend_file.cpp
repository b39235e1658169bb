// Trend data and index files: record layout, checksum, locking, appending
// and the lookup of a record by resource name and minute.
#include "trend/trend_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "platform/date_time.h"
#include "trend/real48.h"

namespace tarvik {
namespace {
// Where the record after one at offset would start (saturating near 2 GiB).
std::int32_t RunEndAfter(std::int32_t offset) {
    const std::int64_t end = std::int64_t{offset} + static_cast<std::int64_t>(kTrendRecordSize);
    return static_cast<std::int32_t>(std::min<std::int64_t>(end, std::numeric_limits<std::int32_t>::max()));
}
}  // namespace

namespace {
using namespace trend_layout;
// Records read per pread while scanning the records of one minute.
constexpr std::size_t kScanChunk = 32;
// Index entries read per pread while loading.
constexpr std::size_t kLoadChunk = 4096;

void PutU32(std::uint8_t* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void PutDouble(std::uint8_t* out, double d) {
    const auto v = std::bit_cast<std::uint64_t>(d);
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint32_t GetU32(const std::uint8_t* in) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | in[i];
    }
    return v;
}

double GetDouble(const std::uint8_t* in) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | in[i];
    }
    return std::bit_cast<double>(v);
}

// Reads until `size` bytes or the end of the file; returns the bytes read.
std::size_t PreadFull(int fd, std::uint8_t* buf, std::size_t size, off_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buf + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool PwriteFull(int fd, const std::uint8_t* buf, std::size_t size, off_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, buf + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool FileSize(int fd, off_t& size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    size = st.st_size;
    return true;
}

// Stamps are compared by the minute they name, so that a stamp one rounding
// step away from ours (another writer's arithmetic) still matches. Values
// outside any plausible date are no stamp at all.
bool StampMinute(double stamp, std::int64_t& minute) {
    if (!(std::fabs(stamp) < 1e9)) {
        return false;
    }
    minute = static_cast<std::int64_t>(std::nearbyint(stamp * 1440.0));
    return true;
}

bool NameMatches(const std::uint8_t* rec, const std::string& name) {
    return rec[0] == name.size() && std::memcmp(rec + 1, name.data(), name.size()) == 0;
}
}  // namespace

std::uint32_t TrendChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::uint32_t x = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        sum = (sum + bytes[i] * ((i + 1) % 256)) & 0xFFFF;
        x ^= bytes[i];
    }
    return sum | (x << 16);
}

std::string TrendName(std::string_view name) {
    std::size_t n = name.size();
    if (n > kTrendNameMax) {
        n = kTrendNameMax;
        // Back up over continuation bytes so that no character is cut in two;
        // a UTF-8 character has at most three of them.
        while (n > kTrendNameMax - 3 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) {
            --n;
        }
    }
    std::string out(name.substr(0, n));
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || b >= 224) {
            c = static_cast<char>(b - 32);
        }
    }
    return out;
}

double TrendStamp(const TLocalTime& now) {
    const std::int64_t minutes = std::int64_t{DaysFromCivil(now.Year, now.Month, now.Day)} * 1440 +
                                 now.Hour * 60 + now.Minute;
    return static_cast<double>(minutes) / 1440.0;
}

double RoundTrendStamp(double stamp) { return std::nearbyint(stamp * 1440.0) / 1440.0; }

double TrendSlotStamp(double date, int slot) {
    return std::trunc(date) + 1.0 - (kTrendSlotsPerDay - slot) / double{kTrendSlotsPerDay};
}

TTrendRecordBytes EncodeTrendRecord(const TTrendRecord& record) {
    TTrendRecordBytes out{};
    const std::string name = TrendName(record.Name);
    out[0] = static_cast<std::uint8_t>(name.size());
    std::memcpy(out.data() + 1, name.data(), name.size());
    const TReal48 read = EncodeReal48(record.Read);
    const TReal48 write = EncodeReal48(record.Write);
    const TReal48 ping = EncodeReal48(record.Ping);
    std::copy(read.begin(), read.end(), out.begin() + kReadOffset);
    std::copy(write.begin(), write.end(), out.begin() + kWriteOffset);
    std::copy(ping.begin(), ping.end(), out.begin() + kPingOffset);
    PutDouble(out.data() + kTimeOffset, record.Time);
    PutU32(out.data() + kChecksumOffset,
           TrendChecksum(std::span<const std::uint8_t>(out.data(), kChecksumOffset)));
    return out;
}

TTrendRecord DecodeTrendRecord(std::span<const std::uint8_t, kTrendRecordSize> bytes) {
    TTrendRecord r;
    r.Name.assign(reinterpret_cast<const char*>(bytes.data() + 1), bytes[0]);
    r.Read = DecodeReal48(bytes.subspan<kReadOffset, 6>());
    r.Write = DecodeReal48(bytes.subspan<kWriteOffset, 6>());
    r.Ping = DecodeReal48(bytes.subspan<kPingOffset, 6>());
    r.Time = GetDouble(bytes.data() + kTimeOffset);
    r.Checksum = GetU32(bytes.data() + kChecksumOffset);
    return r;
}

bool TrendRecordIntact(std::span<const std::uint8_t, kTrendRecordSize> bytes) {
    return TrendChecksum(bytes.first<kChecksumOffset>()) == GetU32(bytes.data() + kChecksumOffset);
}

std::array<std::uint8_t, kTrendIndexEntrySize> EncodeTrendIndexEntry(double stamp,
                                                                     std::int32_t offset) {
    std::array<std::uint8_t, kTrendIndexEntrySize> out{};
    PutDouble(out.data(), stamp);
    PutU32(out.data() + 8, static_cast<std::uint32_t>(offset));
    return out;
}

std::string TrendFullText(std::string_view dataPath, std::string_view indexPath) {
    std::string text =
        "The trend history has reached 2 GB and records no more results; measuring goes on.\r"
        "To start a new history, close Tarvik and move these two files to an archive folder:\r";
    return text.append(dataPath).append("\r").append(indexPath);
}

TTrendFile::TFd::~TFd() {
    if (Fd_ >= 0) {
        ::close(Fd_);
    }
}

TTrendFile::TFd& TTrendFile::TFd::operator=(TFd&& other) noexcept {
    if (this != &other) {
        TFd old(std::exchange(Fd_, other.Release()));
    }
    return *this;
}

TTrendFile::TTrendFile(std::string dataPath, std::string indexPath, const IClock& clock,
                       TAccess access)
    : DataPath_(std::move(dataPath)), IndexPath_(std::move(indexPath)), Clock_(clock), Access_(access) {
    Open();
    if (!IsOpen()) {
        return;
    }
    CutTornTail();
    if (!LoadIndex() || !RunsMatchTheirRecords()) {
        RebuildIndex();
    }
}

TTrendFile::~TTrendFile() = default;

namespace {
// Opens a trend file for reading and writing (reading only when writing is
// refused) and takes an exclusive lock. A missing file is created with
// O_EXCL, so a file that exists is never truncated, whoever holds it.
// Returns -1 when the file cannot be opened, created or locked.
int OpenLocked(const std::string& path, std::size_t headerSize, bool& writable) {
    writable = true;
    bool created = false;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            created = true;
        } else if (errno == EEXIST) {
            // Someone created it between our two calls; use theirs.
            fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        }
    }
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        writable = false;
    }
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    if (created && headerSize > 0) {
        // Readers never look at the header; a failure here is completed by
        // the first write, which pads a short header with zeros.
        const std::array<std::uint8_t, kTrendHeaderSize> zeros{};
        PwriteFull(fd, zeros.data(), headerSize, 0);
    }
    return fd;
}

constexpr off_t kHeader = static_cast<off_t>(kTrendHeaderSize);
constexpr off_t kRecord = static_cast<off_t>(kTrendRecordSize);
constexpr off_t kEntry = static_cast<off_t>(kTrendIndexEntrySize);

// A record the index names: its checksum is right and its stamp is a
// minute after 1899-12-30 (a block of zeros has a right checksum too).
bool Indexable(const std::uint8_t* rec, std::int64_t& minute) {
    const double stamp = GetDouble(rec + kTimeOffset);
    return stamp > 0 && StampMinute(stamp, minute) &&
           TrendRecordIntact(
               std::span<const std::uint8_t, kTrendRecordSize>(rec, kTrendRecordSize));
}

// Where a record at `offset` lies against the grid 12 + k * 288.
off_t Phase(off_t offset) { return (offset - kHeader) % kRecord; }

// Reads the data file front to back through a large buffer.
class TDataReader {
  public:
    TDataReader(int fd, off_t size) : Fd_(fd), Size_(size), Buf_(1 << 20) {}
    // The record at pos, or nullptr when it cannot be read whole.
    const std::uint8_t* At(off_t pos) {
        if (pos < Start_ || pos + kRecord > Start_ + Len_) {
            if (pos + kRecord > Size_) {
                return nullptr;
            }
            Start_ = pos;
            Len_ = static_cast<off_t>(PreadFull(
                Fd_, Buf_.data(),
                std::min<std::size_t>(Buf_.size(), static_cast<std::size_t>(Size_ - pos)), pos));
            if (Len_ < kRecord) {
                return nullptr;
            }
        }
        return Buf_.data() + (pos - Start_);
    }

  private:
    int Fd_;
    off_t Size_;
    std::vector<std::uint8_t> Buf_;
    off_t Start_ = 0;
    off_t Len_ = 0;
};
}  // namespace

void TTrendFile::Open() {
    if (Access_ == TAccess::ReadShared) {
        TFd data(::open(DataPath_.c_str(), O_RDONLY | O_CLOEXEC));
        TFd index(::open(IndexPath_.c_str(), O_RDONLY | O_CLOEXEC));
        if (data.Valid() && index.Valid()) {
            Data_ = std::move(data);
            Index_ = std::move(index);
        }
        Writable_ = false;
        return;
    }
    bool dataWritable = false;
    bool indexWritable = false;
    TFd data(OpenLocked(DataPath_, kTrendHeaderSize, dataWritable));
    if (!data.Valid()) {
        return;
    }
    TFd index(OpenLocked(IndexPath_, 0, indexWritable));
    if (!index.Valid()) {
        return;
    }
    Data_ = std::move(data);
    Index_ = std::move(index);
    Writable_ = dataWritable && indexWritable;
}

// A crash in the middle of a write (kill -9, power loss) leaves part of a
// record, or of an entry, at the end of its file. Records are cut back to
// the end of the last whole record, so that the next one lands on the grid
// of those before it; a read-only pair is read as it is.
void TTrendFile::CutTornTail() {
    off_t size = 0;
    off_t indexSize = 0;
    if (!FileSize(Data_.Get(), size) || !FileSize(Index_.Get(), indexSize)) {
        Writable_ = false;  // without the ends, a write could land on records
        return;
    }
    DataEnd_ = size;
    IndexEnd_ = indexSize - indexSize % kEntry;
    if (!Writable_) {
        return;
    }
    [[maybe_unused]] int rc = 0;
    if (IndexEnd_ < indexSize) {
        rc = ::ftruncate(Index_.Get(), IndexEnd_);
    }
    if (size <= kHeader || Phase(size) == 0) {
        return;
    }
    // The last whole record ends within the last 288 bytes. It normally
    // ends on the grid; a file from a build that appended after a torn
    // record keeps the shifted grid its last records are on.
    off_t cut = size - Phase(size);
    const off_t from = std::max(kHeader, size - 2 * kRecord + 1);
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(size - from));
    if (PreadFull(Data_.Get(), tail.data(), tail.size(), from) == tail.size()) {
        for (off_t end = size; end - kRecord >= from && end > size - kRecord; --end) {
            std::int64_t minute = 0;
            if (Indexable(tail.data() + (end - kRecord - from), minute)) {
                cut = end;
                break;
            }
        }
    }
    if (cut < size) {
        rc = ::ftruncate(Data_.Get(), cut);
        rc = ::fdatasync(Data_.Get());
    }
    // Even if the cut was refused, the next record overwrites the torn bytes.
    DataEnd_ = cut;
}

void TTrendFile::AddSlot(std::int64_t minute, std::int32_t offset, bool& sorted) {
    if (!Slots_.empty()) {
        TStampSlot& last = Slots_.back();
        // Records of one minute follow each other: an entry that continues
        // the run only extends it.
        if (minute == last.Minute && offset >= last.Offset && offset <= last.RunEnd) {
            last.RunEnd = std::max(last.RunEnd, RunEndAfter(offset));
            return;
        }
        sorted = sorted && minute >= last.Minute;
    }
    Slots_.push_back({minute, offset, RunEndAfter(offset)});
}

void TTrendFile::SortSlots(bool sorted) {
    if (!sorted) {
        // The clock went back at some point (daylight saving, a correction):
        // order by minute, the runs of one minute in file order.
        std::stable_sort(
            Slots_.begin(), Slots_.end(),
            [](const TStampSlot& a, const TStampSlot& b) { return a.Minute < b.Minute; });
    }
    Slots_.shrink_to_fit();
}

// Loads the index and tells whether it matches the data: one entry per
// record in writing order, each inside the file and on the grid of the
// records before it, and the last record named. Checking that costs no
// read of the data except where the grid shifts (after a torn record
// written by an older build) and for the last record.
bool TTrendFile::LoadIndex() {
    Slots_.clear();
    const off_t lastRecord = DataEnd_ - kRecord;
    std::vector<std::uint8_t> buf(kLoadChunk * kTrendIndexEntrySize);
    bool matches = true;
    bool sorted = true;
    off_t previous = -1;
    off_t phase = 0;
    off_t pos = 0;
    for (;;) {
        const std::size_t n = PreadFull(Index_.Get(), buf.data(), buf.size(), pos);
        // A trailing partial entry (a torn write) is not an entry.
        for (std::size_t i = 0; i + kTrendIndexEntrySize <= n; i += kTrendIndexEntrySize) {
            std::int64_t minute = 0;
            const double stamp = GetDouble(&buf[i]);
            const auto offset = static_cast<std::int32_t>(GetU32(&buf[i + 8]));
            // Entries that cannot lead to a record are left out.
            if (!(stamp > 0) || !StampMinute(stamp, minute) || offset < kHeader ||
                offset > lastRecord) {
                matches = false;
                continue;
            }
            if (offset <= previous) {
                matches = false;
            } else if (Phase(offset) != phase) {
                // Off the grid of the records before it: right only where a
                // torn record shifted the records after it.
                std::array<std::uint8_t, kTrendRecordSize> rec{};
                std::int64_t recMinute = 0;
                if (PreadFull(Data_.Get(), rec.data(), rec.size(), offset) != rec.size() ||
                    !Indexable(rec.data(), recMinute) || recMinute != minute) {
                    matches = false;
                    continue;
                }
                phase = Phase(offset);
            }
            previous = std::max<off_t>(previous, offset);
            AddSlot(minute, offset, sorted);
        }
        if (n < buf.size()) {
            break;
        }
        pos += static_cast<off_t>(n);
    }
    SortSlots(sorted);
    // A crash between a record and its entry leaves the record after the
    // last named one unnamed; a lost index leaves them all unnamed.
    const off_t unnamed[] = {previous < 0 ? kHeader : previous + kRecord, lastRecord};
    for (const off_t at : unnamed) {
        std::array<std::uint8_t, kTrendRecordSize> rec{};
        std::int64_t minute = 0;
        if (matches && at > previous && at <= lastRecord &&
            at <= std::numeric_limits<std::int32_t>::max() &&
            PreadFull(Data_.Get(), rec.data(), rec.size(), at) == rec.size() &&
            Indexable(rec.data(), minute)) {
            matches = false;
        }
    }
    return matches;
}

// The lookup scans each minute's runs from their first record while the
// stamp stays: the first and the last record of every run must carry the
// minute their entries give. An index of another data file, or a damaged
// stamp, would otherwise hide the records of a minute.
bool TTrendFile::RunsMatchTheirRecords() const {
    struct TCheck {
        off_t Offset;
        std::int64_t Minute;
    };
    std::vector<TCheck> checks;
    checks.reserve(Slots_.size() * 2);
    for (const TStampSlot& slot : Slots_) {
        checks.push_back({slot.Offset, slot.Minute});
        // The run's records follow each other from its first; its end is
        // cut at 2 GiB, so the last record is found by whole records.
        const off_t last =
            slot.Offset + (off_t{slot.RunEnd} - 1 - slot.Offset) / kRecord * kRecord;
        if (last > slot.Offset) {
            checks.push_back({last, slot.Minute});
        }
    }
    std::sort(checks.begin(), checks.end(),
              [](const TCheck& a, const TCheck& b) { return a.Offset < b.Offset; });
    // One run's last record and the next run's first are neighbours: read
    // neighbouring stamps with one call.
    constexpr off_t kSpan = 64 * 1024;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(kSpan) + 8);
    for (std::size_t i = 0; i < checks.size();) {
        const off_t from = checks[i].Offset + kTimeOffset;
        std::size_t j = i + 1;
        while (j < checks.size() && checks[j].Offset - checks[j - 1].Offset <= 2 * kRecord &&
               checks[j].Offset + kTimeOffset - from <= kSpan) {
            ++j;
        }
        const auto size = static_cast<std::size_t>(checks[j - 1].Offset + kTimeOffset - from + 8);
        if (PreadFull(Data_.Get(), buf.data(), size, from) != size) {
            return false;
        }
        for (; i < j; ++i) {
            std::int64_t minute = 0;
            if (!StampMinute(
                    GetDouble(
                        &buf[static_cast<std::size_t>(checks[i].Offset + kTimeOffset - from)]),
                    minute) ||
                minute != checks[i].Minute) {
                return false;
            }
        }
    }
    return true;
}

// Builds the index again from the data's checksummed records and, when the
// pair is writable, replaces the index file with it atomically.
void TTrendFile::RebuildIndex() {
    Rebuilt_ = true;
    Slots_.clear();
    std::vector<std::uint8_t> entries;
    TDataReader reader(Data_.Get(), DataEnd_);
    bool sorted = true;
    off_t pos = kHeader;
    while (const std::uint8_t* rec = reader.At(pos)) {
        std::int64_t minute = 0;
        if (Indexable(rec, minute) && pos <= std::numeric_limits<std::int32_t>::max()) {
            const auto offset = static_cast<std::int32_t>(pos);
            const auto entry = EncodeTrendIndexEntry(GetDouble(rec + kTimeOffset), offset);
            entries.insert(entries.end(), entry.begin(), entry.end());
            AddSlot(minute, offset, sorted);
            pos += kRecord;
            continue;
        }
        // A damaged record, or torn bytes that an older build wrote more
        // records after: then the next record starts within 288 bytes. A
        // block of zeros is neither (its checksum is right).
        off_t next = pos + kRecord;
        const bool intact = TrendRecordIntact(
            std::span<const std::uint8_t, kTrendRecordSize>(rec, kTrendRecordSize));
        for (off_t shift = 1; !intact && shift < kRecord; ++shift) {
            const std::uint8_t* candidate = reader.At(pos + shift);
            if (candidate == nullptr) {
                break;
            }
            if (Indexable(candidate, minute)) {
                next = pos + shift;
                break;
            }
        }
        pos = next;
    }
    SortSlots(sorted);
    if (Writable_ && ReplaceIndexFile(entries)) {
        IndexEnd_ = static_cast<off_t>(entries.size());
    }
}

// Writes the entries to a temporary file beside the index, locked before it
// takes the index's name so that no other instance can hold it, synced, and
// renamed over the index. On failure the old index file stays.
bool TTrendFile::ReplaceIndexFile(const std::vector<std::uint8_t>& entries) {
    // A symbolic link (the history kept on another disk) keeps pointing at
    // the index: the file it names is replaced.
    std::string target = IndexPath_;
    struct stat link {};
    if (::lstat(IndexPath_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(IndexPath_.c_str(), nullptr),
                                                         &std::free);
        if (!real) {
            return false;
        }
        target = real.get();
    }
    std::string tmp = target + ".tmp-XXXXXX";
    TFd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        return false;
    }
    struct stat st {};
    if (::fstat(Index_.Get(), &st) == 0) {
        [[maybe_unused]] const int rc = ::fchmod(fd.Get(), st.st_mode & 07777);
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 ||
        !PwriteFull(fd.Get(), entries.data(), entries.size(), 0) || ::fsync(fd.Get()) != 0 ||
        ::rename(tmp.c_str(), target.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    const auto slash = target.rfind('/');
    const std::string dir =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    TFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Valid()) {
        [[maybe_unused]] const int rc = ::fsync(dirFd.Get());
    }
    Index_ = std::move(fd);
    return true;
}

namespace {
template <typename Slots>
auto FirstNotBefore(Slots& slots, std::int64_t minute) {
    return std::lower_bound(slots.begin(), slots.end(), minute,
                            [](const auto& slot, std::int64_t m) { return slot.Minute < m; });
}
}  // namespace

void TTrendFile::AddToIndex(std::int64_t minute, std::int32_t offset) {
    // The runs of this minute end where the next minute's begin.
    auto next = std::upper_bound(Slots_.begin(), Slots_.end(), minute,
                                 [](std::int64_t m, const TStampSlot& slot) { return m < slot.Minute; });
    for (auto it = next; it != Slots_.begin() && (it - 1)->Minute == minute; --it) {
        TStampSlot& run = *(it - 1);
        if (offset >= run.Offset && offset <= run.RunEnd) {
            run.RunEnd = std::max(run.RunEnd, RunEndAfter(offset));
            return;
        }
    }
    Slots_.insert(next, {minute, offset, RunEndAfter(offset)});
}

void TTrendFile::WriteRecord(const TTrendRecord& record) {
    if (!IsWritable()) {
        return;
    }
    TTrendRecord copy = record;
    // A measuring thread stamps the record with the minute it decided the
    // quarter hour in; only an unstamped record takes the current minute.
    if (copy.Time == 0) copy.Time = TrendStamp(Clock_.LocalNow());
    std::int64_t minute = 0;
    if (!StampMinute(copy.Time, minute)) {
        return;
    }
    const TTrendRecordBytes bytes = EncodeTrendRecord(copy);

    const off_t end = std::max(DataEnd_, kHeader);
    if (DataEnd_ < kHeader) {
        const std::array<std::uint8_t, kTrendHeaderSize> zeros{};
        if (!PwriteFull(Data_.Get(), zeros.data(), static_cast<std::size_t>(kHeader - DataEnd_),
                        DataEnd_)) {
            return;
        }
        DataEnd_ = kHeader;
    }
    // The index stores signed 32-bit offsets: past 2 GiB a record could not
    // be found again, so the history stops growing rather than writing
    // entries that point somewhere else. Measuring goes on; the owner is
    // told once.
    if (end > std::numeric_limits<std::int32_t>::max()) {
        if (!Full_) {
            Full_ = true;
            if (OnFull_) {
                OnFull_();
            }
        }
        return;
    }
    // The record reaches the disk before its index entry is written, so
    // that an entry never names a record that is not there. A record that
    // did not reach the disk is cut off again: the data stays a whole
    // number of records, and the next one goes to the same place.
    const bool written = Fails(TWriteStep::DataWrite)
                             ? (PwriteFull(Data_.Get(), bytes.data(), bytes.size() / 2, end), false)
                             : PwriteFull(Data_.Get(), bytes.data(), bytes.size(), end);
    if (!written || Fails(TWriteStep::DataSync) || ::fdatasync(Data_.Get()) != 0) {
        [[maybe_unused]] const int rc = ::ftruncate(Data_.Get(), end);
        return;
    }
    const auto offset = static_cast<std::int32_t>(end);
    const auto entry = EncodeTrendIndexEntry(copy.Time, offset);
    if (Fails(TWriteStep::IndexWrite) ||
        !PwriteFull(Index_.Get(), entry.data(), entry.size(), IndexEnd_)) {
        // Without its entry the record is withdrawn too, so that the pair
        // stays one entry per record.
        [[maybe_unused]] int rc = ::ftruncate(Index_.Get(), IndexEnd_);
        rc = ::ftruncate(Data_.Get(), end);
        return;
    }
    // The entry is in the file whether or not this reaches the disk now.
    ::fdatasync(Index_.Get());
    DataEnd_ = end + kRecord;
    IndexEnd_ += kEntry;
    AddToIndex(minute, offset);
}

bool TTrendFile::Find(const std::string& name, std::int64_t minute, TTrendRecord& out) const {
    for (auto it = FirstNotBefore(Slots_, minute); it != Slots_.end() && it->Minute == minute; ++it)
        if (ScanRun(name, minute, static_cast<off_t>(it->Offset), out)) return true;
    return false;
}

bool TTrendFile::ScanRun(const std::string& name, std::int64_t minute, off_t pos,
                         TTrendRecord& out) const {
    std::array<std::uint8_t, kScanChunk * kTrendRecordSize> buf;
    // Scan forward from the first record of the minute while the stamp
    // stays the same; a record with a bad checksum is passed over as absent.
    for (;;) {
        const std::size_t n = PreadFull(Data_.Get(), buf.data(), buf.size(), pos);
        const std::size_t records = n / kTrendRecordSize;
        for (std::size_t i = 0; i < records; ++i) {
            const std::span<const std::uint8_t, kTrendRecordSize> rec(
                buf.data() + i * kTrendRecordSize, kTrendRecordSize);
            std::int64_t recMinute = 0;
            if (!StampMinute(GetDouble(rec.data() + kTimeOffset), recMinute) ||
                recMinute != minute) {
                return false;
            }
            if (NameMatches(rec.data(), name) && TrendRecordIntact(rec)) {
                out = DecodeTrendRecord(rec);
                return true;
            }
        }
        if (records < kScanChunk) {
            return false;
        }
        pos += static_cast<off_t>(buf.size());
    }
}

bool TTrendFile::ReadRecord(TTrendRecord& record) const {
    record.Read = 0;
    record.Write = 0;
    record.Ping = 0;
    if (!IsOpen()) {
        return false;
    }
    record.Name = TrendName(record.Name);
    record.Time = RoundTrendStamp(record.Time);
    std::int64_t minute = 0;
    if (!StampMinute(record.Time, minute)) {
        return false;
    }
    return Find(record.Name, minute, record);
}

std::array<TTrendDaySlot, kTrendSlotsPerDay> TTrendFile::ReadDay(std::string_view name,
                                                                 double date) const {
    std::array<TTrendDaySlot, kTrendSlotsPerDay> day{};
    std::int64_t minute = 0;
    if (!IsOpen() || !StampMinute(date, minute)) {
        return day;
    }
    const std::string key = TrendName(name);
    TTrendRecord found;
    for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
        TTrendDaySlot& slot = day[static_cast<std::size_t>(p - 1)];
        if (StampMinute(TrendSlotStamp(date, p), minute) && Find(key, minute, found)) {
            slot = {true, found.Read, found.Write, found.Ping};
        }
    }
    return day;
}

std::vector<TTrendFile::TRecordRun> TTrendFile::RunsAt(double stamp) const {
    std::vector<TRecordRun> runs;
    std::int64_t minute = 0;
    if (!IsOpen() || !StampMinute(RoundTrendStamp(stamp), minute)) {
        return runs;
    }
    for (auto it = FirstNotBefore(Slots_, minute); it != Slots_.end() && it->Minute == minute; ++it) {
        runs.push_back({it->Offset, it->RunEnd});
    }
    return runs;
}

std::size_t TTrendFile::ReadDataAt(std::uint8_t* buf, std::size_t size, std::int64_t offset) const {
    if (!Data_.Valid() || offset < 0) {
        return 0;
    }
    return PreadFull(Data_.Get(), buf, size, static_cast<off_t>(offset));
}

bool TrendStampMinute(double stamp, std::int64_t& minute) { return StampMinute(stamp, minute); }

void TTrendFile::AttachQualityFile(const std::string& path) {
    Quality_.reset();
    // Only the owner of the trend files writes beside them.
    if (!IsWritable() || Access_ != TAccess::Own) return;
    auto file = std::make_unique<TQualityFile>(path, TQualityFile::TAccess::Own);
    if (file->IsWritable()) Quality_ = std::move(file);
}

std::vector<TQualityDay> TTrendFile::ReadQualityDay(const std::vector<std::string>& names,
                                                    double date) const {
    if (!Quality_) return std::vector<TQualityDay>(names.size());
    return tarvik::ReadQualityDay(*Quality_, names, date);
}

void TTrendFile::WriteQuality(const TTrendRecord& record, const TLinkQuality& quality) {
    if (!HasQualityFile()) return;
    TQualityRecord q;
    q.Name = record.Name;
    q.Time = record.Time != 0 ? record.Time : TrendStamp(Clock_.LocalNow());
    q.Quality = quality;
    // A failed write costs this record only; the trend files never wait on it.
    Quality_->Append(q);
}

}  // namespace tarvik
