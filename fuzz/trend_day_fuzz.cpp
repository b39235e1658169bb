// Feeds arbitrary trend data and index files to the day reader and holds it
// to the one-record lookup: for the names the input stores, every slot of
// the day must be what ReadRecord finds, and no read may leave its buffer.
// Input: a little-endian 16-bit index length, the index bytes, then the data bytes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "trend/trend_day.h"

namespace {

class TFixedClock final : public tarvik::IClock {
  public:
    std::uint64_t TickMs() const override { return 0; }
    std::int64_t Counter() const override { return 0; }
    std::int64_t CounterFrequency() const override { return 0; }
    tarvik::TLocalTime LocalNow() const override { return {2026, 12, 10, 12, 15, 40, 0}; }
    void SleepMs(std::uint32_t) const override {}
};

class TWorkDir {
  public:
    TWorkDir() {
        Dir_ = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/tarvik_day_fuzz_XXXXXX"
                                               : "/tmp/tarvik_day_fuzz_XXXXXX";
        if (::mkdtemp(Dir_.data()) == nullptr) std::abort();
        Data = Dir_ + "/KOR_VEL.D";
        Index = Dir_ + "/KOR_VEL.ND";
    }
    ~TWorkDir() {
        ::unlink(Data.c_str());
        ::unlink(Index.c_str());
        ::rmdir(Dir_.c_str());
    }
    std::string Data;
    std::string Index;

  private:
    std::string Dir_;
};

void WriteFile(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0) std::abort();
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 2) return 0;
    std::size_t indexSize = input[0] | (std::size_t{input[1]} << 8);
    input += 2;
    size -= 2;
    indexSize = std::min(indexSize, size);
    const std::uint8_t* index = input;
    const std::uint8_t* data = input + indexSize;
    const std::size_t dataSize = size - indexSize;

    static const TWorkDir dir;
    WriteFile(dir.Data, data, dataSize);
    WriteFile(dir.Index, index, indexSize);
    const TFixedClock clock;
    const tarvik::TTrendFile file(dir.Data, dir.Index, clock);

    // The names stored at the first offsets the index names, and one more.
    std::vector<std::string> names = {"x"};
    double date = 46366;
    for (std::size_t i = 0; i + 12 <= indexSize && i < 8 * 12; i += 12) {
        std::int32_t offset;
        std::memcpy(&offset, index + i + 8, sizeof offset);
        if (i == 0) std::memcpy(&date, index, sizeof date);
        if (offset >= 0 && static_cast<std::size_t>(offset) < dataSize) {
            const std::size_t len = std::min<std::size_t>(
                data[offset], dataSize - static_cast<std::size_t>(offset) - 1);
            names.emplace_back(reinterpret_cast<const char*>(data + offset + 1), len);
        }
    }
    const auto days = tarvik::ReadTrendDay(file, names, date);
    for (std::size_t n = 0; n < names.size(); ++n) {
        for (int p = 1; p <= tarvik::kTrendSlotsPerDay; ++p) {
            tarvik::TTrendRecord r;
            r.Name = names[n];
            r.Time = tarvik::TrendSlotStamp(date, p);
            const bool found = file.ReadRecord(r);
            const tarvik::TTrendDaySlot& s = days[n][static_cast<std::size_t>(p - 1)];
            // Bitwise, so that a NaN from a damaged record compares too.
            const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
            if (s.Found != found || !same(s.Read, r.Read) || !same(s.Write, r.Write) ||
                !same(s.Ping, r.Ping))
                std::abort();
        }
    }
    return 0;
}
