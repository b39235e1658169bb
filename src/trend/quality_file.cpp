#include "trend/quality_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>

#include "trend/trend_file.h"

namespace tarvik {
namespace {

constexpr std::uint8_t Magic[4] = {'T', 'Q', 'R', '1'};
constexpr std::size_t NameAt = 4, StampAt = 260, CountsAt = 268, SumsAt = 284, JitterCountAt = 308,
                      BucketsAt = 312, CrcAt = kQualityRecordSize - 4;
static_assert(BucketsAt + kRttBuckets * 4 + 12 == CrcAt);

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void Put32(std::uint8_t* p, std::uint64_t v) {
    const auto x = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, std::numeric_limits<std::uint32_t>::max()));
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(x >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* p) {
    std::uint32_t x = 0;
    for (int i = 0; i < 4; ++i) x |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return x;
}
void PutDouble(std::uint8_t* p, double v) {
    const auto x = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(x >> (8 * i));
}
double GetDouble(const std::uint8_t* p) {
    std::uint64_t x = 0;
    for (int i = 0; i < 8; ++i) x |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return std::bit_cast<double>(x);
}

}  // namespace

TQualityRecordBytes EncodeQualityRecord(const TQualityRecord& record) {
    TQualityRecordBytes b{};
    std::memcpy(b.data(), Magic, sizeof Magic);
    const std::string name = TrendName(record.Name);
    b[NameAt] = static_cast<std::uint8_t>(name.size());
    std::memcpy(b.data() + NameAt + 1, name.data(), name.size());
    PutDouble(b.data() + StampAt, record.Time);
    const TLinkQuality& q = record.Quality;
    Put32(b.data() + CountsAt, q.Cycles);
    Put32(b.data() + CountsAt + 4, q.Lost);
    Put32(b.data() + CountsAt + 8, q.RttMinUs);
    Put32(b.data() + CountsAt + 12, q.RttMaxUs);
    PutDouble(b.data() + SumsAt, q.RttSumUs);
    PutDouble(b.data() + SumsAt + 8, q.RttSumSquaresUs);
    PutDouble(b.data() + SumsAt + 16, q.JitterSumUs);
    Put32(b.data() + JitterCountAt, q.JitterCount);
    for (std::size_t k = 0; k < kRttBuckets; ++k) Put32(b.data() + BucketsAt + 4 * k, q.Buckets[k]);
    Put32(b.data() + CrcAt, Crc32({b.data(), CrcAt}));
    return b;
}

std::optional<TQualityRecord> DecodeQualityRecord(std::span<const std::uint8_t, kQualityRecordSize> b) {
    if (std::memcmp(b.data(), Magic, sizeof Magic) != 0) return std::nullopt;
    if (Get32(b.data() + CrcAt) != Crc32({b.data(), CrcAt})) return std::nullopt;
    TQualityRecord r;
    r.Name.assign(reinterpret_cast<const char*>(b.data() + NameAt + 1), b[NameAt]);
    r.Time = GetDouble(b.data() + StampAt);
    TLinkQuality& q = r.Quality;
    q.Cycles = Get32(b.data() + CountsAt);
    q.Lost = Get32(b.data() + CountsAt + 4);
    q.RttMinUs = Get32(b.data() + CountsAt + 8);
    q.RttMaxUs = Get32(b.data() + CountsAt + 12);
    q.RttSumUs = GetDouble(b.data() + SumsAt);
    q.RttSumSquaresUs = GetDouble(b.data() + SumsAt + 8);
    q.JitterSumUs = GetDouble(b.data() + SumsAt + 16);
    q.JitterCount = Get32(b.data() + JitterCountAt);
    for (std::size_t k = 0; k < kRttBuckets; ++k) q.Buckets[k] = Get32(b.data() + BucketsAt + 4 * k);
    // A record whose counts do not add up is as good as damaged.
    std::uint64_t replies = 0;
    for (const std::uint64_t c : q.Buckets) replies += c;
    if (q.Lost > q.Cycles || replies != q.Cycles - q.Lost) return std::nullopt;
    return r;
}

TQualityFile::TQualityFile(std::string path, TAccess access) : Path_(std::move(path)), Access_(access) {
    if (access == TAccess::ReadShared) {
        Fd_ = ::open(Path_.c_str(), O_RDONLY | O_CLOEXEC);
    } else {
        Fd_ = ::open(Path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (Fd_ >= 0 && ::flock(Fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(Fd_);
            Fd_ = -1;
        }
    }
    Scan([this](off_t at, TQualityRecord&& r) {
        std::int64_t minute = 0;
        if (TrendStampMinute(r.Time, minute)) ByMinute_[minute].push_back(at);
    });
}

TQualityFile::~TQualityFile() {
    if (Fd_ >= 0) ::close(Fd_);
}

bool TQualityFile::Append(const TQualityRecord& record) {
    if (!IsWritable()) return false;
    struct stat st {};
    if (::fstat(Fd_, &st) != 0) return false;
    // Just past the last whole record: a torn tail is overwritten.
    const off_t at = st.st_size - st.st_size % static_cast<off_t>(kQualityRecordSize);
    const TQualityRecordBytes bytes = EncodeQualityRecord(record);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(Fd_, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    if (::fdatasync(Fd_) != 0) return false;
    std::int64_t minute = 0;
    if (TrendStampMinute(record.Time, minute)) ByMinute_[minute].push_back(at);
    return true;
}

template <class F>
void TQualityFile::Scan(F&& each) const {
    if (Fd_ < 0) return;
    std::vector<std::uint8_t> buf(kQualityRecordSize * 256);
    off_t pos = 0;
    for (;;) {
        std::size_t got = 0;
        while (got < buf.size()) {
            const ssize_t n = ::pread(Fd_, buf.data() + got, buf.size() - got, pos + static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        const std::size_t whole = got / kQualityRecordSize;
        for (std::size_t i = 0; i < whole; ++i) {
            const std::span<const std::uint8_t, kQualityRecordSize> rec(buf.data() + i * kQualityRecordSize,
                                                                       kQualityRecordSize);
            if (auto r = DecodeQualityRecord(rec))
                each(pos + static_cast<off_t>(i * kQualityRecordSize), std::move(*r));
        }
        if (got < buf.size()) break;  // the end, or a torn tail
        pos += static_cast<off_t>(got);
    }
}

std::vector<TQualityRecord> TQualityFile::ReadAll() const {
    std::vector<TQualityRecord> out;
    Scan([&out](off_t, TQualityRecord&& r) { out.push_back(std::move(r)); });
    return out;
}

std::optional<TQualityRecord> TQualityFile::ReadAt(off_t offset) const {
    TQualityRecordBytes b{};
    std::size_t got = 0;
    while (got < b.size()) {
        const ssize_t n = ::pread(Fd_, b.data() + got, b.size() - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    return DecodeQualityRecord(b);
}

std::vector<TQualityRecord> TQualityFile::ReadMinute(std::int64_t minute) const {
    std::vector<TQualityRecord> out;
    const auto found = ByMinute_.find(minute);
    if (found == ByMinute_.end()) return out;
    for (const off_t at : found->second)
        if (auto r = ReadAt(at)) out.push_back(std::move(*r));
    return out;
}

std::vector<TQualityDay> ReadQualityDay(const TQualityFile& file, const std::vector<std::string>& names,
                                        double date) {
    std::vector<TQualityDay> days(names.size());
    std::map<std::string, std::vector<std::size_t>> byName;
    for (std::size_t i = 0; i < names.size(); ++i) byName[TrendName(names[i])].push_back(i);
    for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
        std::int64_t minute = 0;
        if (!TrendStampMinute(TrendSlotStamp(date, p), minute)) continue;
        // File order: the newest record of a slot wins.
        for (TQualityRecord& r : file.ReadMinute(minute)) {
            const auto who = byName.find(r.Name);
            if (who == byName.end()) continue;
            for (const std::size_t i : who->second) days[i][static_cast<std::size_t>(p - 1)] = r.Quality;
        }
    }
    return days;
}

}  // namespace tarvik
