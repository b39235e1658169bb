// Feeds arbitrary trend data and index files to the trend file: loading
// (with its tail cut and index rebuild), lookups by every stamp and name the
// input names, a day read, and a good and a failing write followed by a
// reload must neither crash nor read outside their buffers, and a repaired
// pair must not need repairing again.
// Input: a little-endian 16-bit index length, the index bytes, then the data bytes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trend/trend_file.h"

namespace {

class TFixedClock final : public tarvik::IClock {
  public:
    std::uint64_t TickMs() const override { return 0; }
    std::int64_t Counter() const override { return 0; }
    std::int64_t CounterFrequency() const override { return 0; }
    tarvik::TLocalTime LocalNow() const override { return {2026, 12, 10, 12, 15, 40, 0}; }
    void SleepMs(std::uint32_t) const override {}
};

// A scratch directory for the two files, removed when the fuzzer exits.
class TWorkDir {
  public:
    TWorkDir() {
        // tmpfs when there is one: the writer syncs every record.
        Dir_ = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/tarvik_trend_fuzz_XXXXXX"
                                               : "/tmp/tarvik_trend_fuzz_XXXXXX";
        if (::mkdtemp(Dir_.data()) == nullptr) {
            std::abort();
        }
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
    if (fd < 0) {
        std::abort();
    }
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0) {
            std::abort();
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

double GetDouble(const std::uint8_t* p) {
    double d;
    std::memcpy(&d, p, sizeof d);
    return d;
}

void Exercise(const tarvik::TTrendFile& file, const std::uint8_t* index, std::size_t indexSize,
              const std::uint8_t* data, std::size_t dataSize) {
    for (std::size_t i = 0; i + 12 <= indexSize && i < 64 * 12; i += 12) {
        std::int32_t offset;
        std::memcpy(&offset, index + i + 8, sizeof offset);
        tarvik::TTrendRecord r;
        // The name stored where the entry points, when that lies in the input.
        if (offset >= 0 && static_cast<std::size_t>(offset) < dataSize) {
            const std::size_t len = std::min<std::size_t>(
                data[offset], dataSize - static_cast<std::size_t>(offset) - 1);
            r.Name.assign(reinterpret_cast<const char*>(data + offset + 1), len);
        }
        r.Time = GetDouble(index + i);
        file.ReadRecord(r);
        r.Name = "x";
        r.Time = GetDouble(index + i);
        file.ReadRecord(r);
    }
    if (indexSize >= 8) {
        file.ReadDay("x", GetDouble(index));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::size_t indexSize = input[0] | (std::size_t{input[1]} << 8);
    input += 2;
    size -= 2;
    indexSize = std::min(indexSize, size);
    const std::uint8_t* index = input;
    const std::uint8_t* data = input + indexSize;
    const std::size_t dataSize = size - indexSize;

    static const TWorkDir dir;
    const std::string& dataPath = dir.Data;
    const std::string& indexPath = dir.Index;
    WriteFile(dataPath, data, dataSize);
    WriteFile(indexPath, index, indexSize);

    const TFixedClock clock;
    {
        const tarvik::TTrendFile file(dataPath, indexPath, clock);
        Exercise(file, index, indexSize, data, dataSize);
    }
    // Whatever the first opening cut or rebuilt is taken as it is next time:
    // a damaged pair is repaired once, not at every start.
    {
        const tarvik::TTrendFile file(dataPath, indexPath, clock);
        if (file.IndexRebuilt()) {
            std::abort();
        }
    }
    // Writing onto damaged files, then loading what the write left behind.
    if (dataSize % 2 == 1) {
        {
            tarvik::TTrendFile file(dataPath, indexPath, clock);
            tarvik::TTrendRecord r;
            r.Name = "x";
            r.Read = 1;
            file.WriteRecord(r);
            // A write that fails at one of its steps leaves the pair whole.
            file.SetFaultHook([step = dataSize % 3](tarvik::TTrendFile::TWriteStep s) {
                return static_cast<std::size_t>(s) == step;
            });
            file.WriteRecord(r);
        }
        const tarvik::TTrendFile file(dataPath, indexPath, clock);
        Exercise(file, index, indexSize, data, dataSize);
        tarvik::TTrendRecord r;
        r.Name = "x";
        r.Time = 46366 + (12 * 60 + 15) / 1440.0;
        file.ReadRecord(r);
    }
    return 0;
}
