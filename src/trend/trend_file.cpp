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
#include <cstring>
#include <limits>
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
constexpr std::size_t kReadOffset = 256;
constexpr std::size_t kWriteOffset = 262;
constexpr std::size_t kPingOffset = 268;
constexpr std::size_t kTimeOffset = 276;
constexpr std::size_t kChecksumOffset = 284;
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

TTrendFile::TTrendFile(std::string dataPath, std::string indexPath, const IClock& clock)
    : DataPath_(std::move(dataPath)), IndexPath_(std::move(indexPath)), Clock_(clock) {
    Open();
    if (IsOpen()) {
        LoadIndex();
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
}  // namespace

void TTrendFile::Open() {
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

void TTrendFile::LoadIndex() {
    off_t dataSize = 0;
    if (!FileSize(Data_.Get(), dataSize)) {
        return;
    }
    const auto lastRecord = static_cast<std::int64_t>(dataSize) - std::int64_t{kTrendRecordSize};
    std::vector<std::uint8_t> buf(kLoadChunk * kTrendIndexEntrySize);
    bool sorted = true;
    off_t pos = 0;
    for (;;) {
        const std::size_t n = PreadFull(Index_.Get(), buf.data(), buf.size(), pos);
        // A trailing partial entry (a torn write) is not an entry.
        for (std::size_t i = 0; i + kTrendIndexEntrySize <= n; i += kTrendIndexEntrySize) {
            std::int64_t minute = 0;
            const auto offset = static_cast<std::int32_t>(GetU32(&buf[i + 8]));
            // Entries that cannot lead to a record are left out, so that a
            // later entry of the same minute can serve instead.
            if (!StampMinute(GetDouble(&buf[i]), minute) || offset < 0 || offset > lastRecord) {
                continue;
            }
            if (!Slots_.empty()) {
                TStampSlot& last = Slots_.back();
                // Records of one minute follow each other: an entry that
                // continues the run only extends it.
                if (minute == last.Minute && offset >= last.Offset && offset <= last.RunEnd) {
                    last.RunEnd = std::max(last.RunEnd, RunEndAfter(offset));
                    continue;
                }
                sorted = sorted && minute >= last.Minute;
            }
            Slots_.push_back({minute, offset, RunEndAfter(offset)});
        }
        if (n < buf.size()) {
            break;
        }
        pos += static_cast<off_t>(n);
    }
    if (!sorted) {
        // The clock went back at some point (daylight saving, a correction):
        // order by minute, the runs of one minute in file order.
        std::stable_sort(
            Slots_.begin(), Slots_.end(),
            [](const TStampSlot& a, const TStampSlot& b) { return a.Minute < b.Minute; });
    }
    Slots_.shrink_to_fit();
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

    off_t end = 0;
    if (!FileSize(Data_.Get(), end)) {
        return;
    }
    if (end < static_cast<off_t>(kTrendHeaderSize)) {
        const std::array<std::uint8_t, kTrendHeaderSize> zeros{};
        if (!PwriteFull(Data_.Get(), zeros.data(), kTrendHeaderSize - end, end)) {
            return;
        }
        end = kTrendHeaderSize;
    }
    // The index stores signed 32-bit offsets: past 2 GiB a record could not
    // be found again, so the history stops growing rather than writing
    // entries that point somewhere else.
    if (end > std::numeric_limits<std::int32_t>::max()) {
        return;
    }
    // The record goes at the real end even after a torn record: the index
    // holds true offsets, and no byte already in the file is overwritten.
    if (!PwriteFull(Data_.Get(), bytes.data(), bytes.size(), end)) {
        // Leave no partial record behind (best effort; a disk full case).
        [[maybe_unused]] const int rc = ::ftruncate(Data_.Get(), end);
        return;
    }
    if (::fdatasync(Data_.Get()) != 0) {
        return;
    }

    off_t indexSize = 0;
    if (!FileSize(Index_.Get(), indexSize)) {
        return;
    }
    // A torn entry at the end is overwritten, so that the entries stay
    // aligned on 12 bytes for every reader.
    const off_t entryPos = indexSize - indexSize % static_cast<off_t>(kTrendIndexEntrySize);
    const auto offset = static_cast<std::int32_t>(end);
    const auto entry = EncodeTrendIndexEntry(copy.Time, offset);
    if (!PwriteFull(Index_.Get(), entry.data(), entry.size(), entryPos)) {
        [[maybe_unused]] const int rc = ::ftruncate(Index_.Get(), entryPos);
        return;
    }
    // The entry is in the file whether or not this reaches the disk now.
    ::fdatasync(Index_.Get());
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

}  // namespace tarvik
