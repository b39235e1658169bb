// The trend files on disk: exact layout, stamping and lookup, locking, and
// what a damaged or torn pair of files leaves readable.
#include "trend/trend_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "platform/date_time.h"
#include "support/fake_clock.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void Append(Bytes& to, std::span<const std::uint8_t> bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// 2026-12-10, the fake clock's default day.
constexpr int kDay = 46366;

double At(int hour, int minute, int day = kDay) { return day + (hour * 60 + minute) / 1440.0; }

TLocalTime Local(int hour, int minute, int second, int day = kDay) {
    TLocalTime t;
    CivilFromDays(day, t.Year, t.Month, t.Day);
    t.Hour = hour;
    t.Minute = minute;
    t.Second = second;
    return t;
}

class TrendFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarvik_trend_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        Data = Dir + "/KOR_VEL.D";
        Index = Dir + "/KOR_VEL.ND";
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    void Write(TTrendFile& file, const std::string& name, TLocalTime at, double read,
               double write = 0, double ping = 0) {
        Clock.SetLocal(at);
        TTrendRecord r;
        r.Name = name;
        r.Read = read;
        r.Write = write;
        r.Ping = ping;
        file.WriteRecord(r);
    }

    // The read average found for a name at a stamp, or NaN when not found.
    static double Find(const TTrendFile& file, const std::string& name, double stamp) {
        TTrendRecord r;
        r.Name = name;
        r.Time = stamp;
        r.Read = r.Write = r.Ping = 7;
        if (file.ReadRecord(r)) {
            return r.Read;
        }
        EXPECT_EQ(r.Read + r.Write + r.Ping, 0) << "averages cleared on a miss";
        return std::nan("");
    }

    std::string Dir, Data, Index;
    // The fake clock only moves forward from its start: start before every
    // instant the tests use.
    test::TFakeClock Clock{Local(0, 0, 0, kDay - 1)};
};

// A data file and its index built in memory, one record per (name, stamp).
struct TFixtureFiles {
    Bytes Data = Bytes(kTrendHeaderSize, 0);
    Bytes Index;
    std::int32_t Add(const std::string& name, double stamp, double read) {
        TTrendRecord r;
        r.Name = name;
        r.Time = stamp;
        r.Read = read;
        const auto offset = static_cast<std::int32_t>(Data.size());
        Append(Data, EncodeTrendRecord(r));
        Append(Index, EncodeTrendIndexEntry(stamp, offset));
        return offset;
    }
};

// The invariants a write keeps whatever fails: the data is the header and
// whole records, the index whole entries, one per record, each naming the
// record at its offset with that record's stamp.
::testing::AssertionResult PairIsWhole(const std::string& data, const std::string& index) {
    const Bytes d = ReadAll(data);
    const Bytes x = ReadAll(index);
    if (d.size() < kTrendHeaderSize || (d.size() - kTrendHeaderSize) % kTrendRecordSize != 0) {
        return ::testing::AssertionFailure() << "data length " << d.size();
    }
    if (x.size() % kTrendIndexEntrySize != 0) {
        return ::testing::AssertionFailure() << "index length " << x.size();
    }
    const std::size_t records = (d.size() - kTrendHeaderSize) / kTrendRecordSize;
    if (x.size() / kTrendIndexEntrySize != records) {
        return ::testing::AssertionFailure()
               << x.size() / kTrendIndexEntrySize << " entries for " << records << " records";
    }
    for (std::size_t i = 0; i < x.size(); i += kTrendIndexEntrySize) {
        double stamp;
        std::int32_t offset;
        std::memcpy(&stamp, &x[i], 8);
        std::memcpy(&offset, &x[i + 8], 4);
        if (offset < 0 || (offset - kTrendHeaderSize) % kTrendRecordSize != 0 ||
            offset + kTrendRecordSize > d.size()) {
            return ::testing::AssertionFailure()
                   << "entry " << i / 12 << " names offset " << offset;
        }
        const std::span<const std::uint8_t, kTrendRecordSize> rec(&d[offset], kTrendRecordSize);
        if (!TrendRecordIntact(rec) || DecodeTrendRecord(rec).Time != stamp) {
            return ::testing::AssertionFailure() << "entry " << i / 12 << " names another record";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(TrendChecksum, WeightsRestartAtPosition256) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(TrendChecksum(abc), 0x0060024Eu);
    // 257 ones: positions 1..255 weigh 1..255, 256 weighs 0, 257 weighs 1,
    // so S = 255 * 256 / 2 + 1 = 32641 = 0x7F81; an odd count xors to 1.
    const Bytes ones(257, 1);
    EXPECT_EQ(TrendChecksum(ones), 0x00017F81u);
}

TEST(TrendName, UpperCasesAndCutsAtACharacterBoundary) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"host.example.com", "HOST.EXAMPLE.COM"},
        {"a{z`@Z", "A{Z`@Z"},
        // Bytes 224 and up lose 32; below 224 they stay (223 is the edge).
        {"\xE0\xFF\xDF\xC3\xA9", "\xC0\xDF\xDF\xC3\xA9"},
        {std::string(300, 'x'), std::string(255, 'X')},
        // "é" (C3 A9) would be split by the 255-byte cut: it goes whole.
        {std::string(254, 'a') + "\xC3\xA9", std::string(254, 'A')},
        {std::string(253, 'a') + "\xE2\x82\xAC", std::string(253, 'A')},
        {std::string(252, 'a') + "\xE2\x82\xAC", std::string(252, 'A') + "\xC2\x82\xAC"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrendName(c.in), c.out) << c.in;
    }
}

TEST_F(TrendFileTest, FirstStartCreatesBothFiles) {
    TTrendFile file(Data, Index, Clock);
    EXPECT_TRUE(file.IsWritable());
    EXPECT_EQ(ReadAll(Data), Bytes(12, 0));
    EXPECT_TRUE(std::filesystem::exists(Index));
    EXPECT_EQ(std::filesystem::file_size(Index), 0u);
    EXPECT_TRUE(std::isnan(Find(file, "x", At(12, 0))));
}

TEST_F(TrendFileTest, MissingDirectoryLeavesHistoryOff) {
    TTrendFile file(Dir + "/none/KOR_VEL.D", Dir + "/none/KOR_VEL.ND", Clock);
    EXPECT_FALSE(file.IsOpen());
    Write(file, "x", Local(12, 0, 0), 1);
    EXPECT_TRUE(std::isnan(Find(file, "x", At(12, 0))));
    EXPECT_FALSE(std::filesystem::exists(Dir + "/none"));
}

// Day 32768 at 12:00 is 32768.5 = 2^15 * (1 + 2^-16), the double
// 0x40E0001000000000, which has few non-zero bytes to weigh by hand.
TEST_F(TrendFileTest, RecordAndIndexEntryAreByteExact) {
    {
        test::TFakeClock clock(Local(0, 0, 0, 32768));
        TTrendFile file(Data, Index, clock);
        // 40 seconds past the minute still stamps 12:00.
        clock.SetLocal(Local(12, 0, 40, 32768));
        TTrendRecord r;
        r.Name = "abc";
        r.Read = 1.0;
        r.Write = 100.0;
        file.WriteRecord(r);
    }
    Bytes rec(288, 0);
    rec[0] = 3;  // length, then the upper-cased name; the rest of the name field is zero
    rec[1] = 'A';
    rec[2] = 'B';
    rec[3] = 'C';
    rec[256] = 0x81;  // read 1.0
    rec[262] = 0x87;  // write 100.0 = 1.5625 * 2^6
    rec[267] = 0x48;
    const std::uint8_t stamp[8] = {0, 0, 0, 0, 0x10, 0, 0xE0, 0x40};
    std::copy(std::begin(stamp), std::end(stamp), rec.begin() + 276);
    // Position p (from 1) weighs p mod 256:
    // S = 3*1 + 65*2 + 66*3 + 67*4          (length and name)
    //   + 0x81*1                            (offset 256 is position 257)
    //   + 0x87*7 + 0x48*12                  (offsets 262, 267)
    //   + 0x10*25 + 0xE0*27 + 0x40*28       (offsets 280, 282, 283)
    //   = 10777 = 0x2A19;
    // X = 3^'A'^'B'^'C'^0x81^0x87^0x48^0x10^0xE0^0x40 = 0xBD.
    const std::uint8_t sum[4] = {0x19, 0x2A, 0xBD, 0x00};
    std::copy(std::begin(sum), std::end(sum), rec.begin() + 284);

    Bytes data(12, 0);
    data.insert(data.end(), rec.begin(), rec.end());
    EXPECT_EQ(ReadAll(Data), data);
    Bytes index(stamp, stamp + 8);
    Append(index, std::array<std::uint8_t, 4>{12, 0, 0, 0});
    EXPECT_EQ(ReadAll(Index), index);
}

TEST_F(TrendFileTest, StampIsTheMinuteTheFlushHappenedIn) {
    TTrendFile file(Data, Index, Clock);
    Write(file, "early", Local(12, 14, 59), 1);
    Write(file, "h20", Local(12, 15, 20), 2);
    Write(file, "h40", Local(12, 15, 40), 3);
    // The quarter-hour slot 12:15 finds both flushes of minute 12:15 ...
    const double slot = TrendSlotStamp(kDay + 0.3, 49);
    EXPECT_EQ(Find(file, "h20", slot), 2);
    EXPECT_EQ(Find(file, "h40", slot), 3);
    // ... but not one from the minute before, nor any of them at 12:16.
    EXPECT_TRUE(std::isnan(Find(file, "early", slot)));
    EXPECT_EQ(Find(file, "early", At(12, 14)), 1);
    EXPECT_TRUE(std::isnan(Find(file, "h40", At(12, 16))));
    // The wanted stamp is rounded to the nearest minute.
    EXPECT_EQ(Find(file, "h20", At(12, 15) + 29.0 / 86400), 2);
}

TEST_F(TrendFileTest, LookupMatchesNameWithoutRegardToCase) {
    TTrendFile file(Data, Index, Clock);
    Write(file, "srv/Share", Local(9, 30, 1), 10, 20);
    Write(file, "192.168.0.1", Local(9, 30, 2), 0, 0, 30);
    Write(file, "srv/share2", Local(9, 30, 3), 40);

    TTrendRecord r;
    r.Name = "SRV/share";
    r.Time = At(9, 30);
    ASSERT_TRUE(file.ReadRecord(r));
    EXPECT_EQ(r.Name, "SRV/SHARE");
    EXPECT_EQ(r.Read, 10);
    EXPECT_EQ(r.Write, 20);
    EXPECT_EQ(r.Ping, 0);
    EXPECT_EQ(r.Time, At(9, 30));

    r.Name = "192.168.0.1";
    ASSERT_TRUE(file.ReadRecord(r));
    EXPECT_EQ(r.Ping, 30);
    EXPECT_EQ(Find(file, "Srv/Share2", At(9, 30)), 40);
    EXPECT_TRUE(std::isnan(Find(file, "srv/shar", At(9, 30))));
    EXPECT_TRUE(std::isnan(Find(file, "other", At(9, 30))));
}

TEST_F(TrendFileTest, RecordsSurviveReopening) {
    {
        TTrendFile file(Data, Index, Clock);
        Write(file, "a", Local(10, 0, 5), 1);
        Write(file, "b", Local(10, 0, 6), 2);
        Write(file, "a", Local(10, 15, 5), 3);
    }
    TTrendFile file(Data, Index, Clock);
    EXPECT_EQ(file.IndexedStamps(), 2u);
    EXPECT_EQ(Find(file, "a", At(10, 0)), 1);
    EXPECT_EQ(Find(file, "b", At(10, 0)), 2);
    EXPECT_EQ(Find(file, "a", At(10, 15)), 3);
    EXPECT_EQ(std::filesystem::file_size(Data), 12u + 3 * 288);
    EXPECT_EQ(std::filesystem::file_size(Index), 3u * 12);
}

TEST_F(TrendFileTest, DamagedRecordIsSkippedAsAbsent) {
    // Byte 284 is the checksum, 256 the read value covered by it.
    for (const std::size_t at : {284u, 256u}) {
        {
            std::filesystem::remove(Data);
            std::filesystem::remove(Index);
            TTrendFile file(Data, Index, Clock);
            Write(file, "a", Local(8, 45, 0), 1);
            Write(file, "b", Local(8, 45, 1), 2);
        }
        Bytes data = ReadAll(Data);
        data[12 + at] ^= 0x01;
        WriteAll(Data, data);
        TTrendFile file(Data, Index, Clock);
        EXPECT_TRUE(std::isnan(Find(file, "a", At(8, 45)))) << at;
        EXPECT_EQ(Find(file, "b", At(8, 45)), 2) << at;
    }
}

TEST_F(TrendFileTest, ReadDayFillsTheQuarterHourSlots) {
    TTrendFile file(Data, Index, Clock);
    Write(file, "h", Local(0, 0, 3), 99);  // slot 96 of the day before
    Write(file, "h", Local(0, 15, 10), 1);
    Write(file, "h", Local(12, 0, 30), 48);
    Write(file, "other", Local(12, 0, 31), 5);
    Write(file, "h", Local(0, 0, 5, kDay + 1), 96, 0, 7);

    const auto day = file.ReadDay("H", kDay + 0.75);
    for (int i = 0; i < kTrendSlotsPerDay; ++i) {
        const bool expected = i == 0 || i == 47 || i == 95;
        EXPECT_EQ(day[i].Found, expected) << i;
    }
    EXPECT_EQ(day[0].Read, 1);
    EXPECT_EQ(day[47].Read, 48);
    EXPECT_EQ(day[95].Read, 96);
    EXPECT_EQ(day[95].Ping, 7);
    EXPECT_EQ(day[1].Read, 0);
}

TEST_F(TrendFileTest, FilesHeldByAnotherInstanceStayUntouched) {
    {
        TTrendFile file(Data, Index, Clock);
        Write(file, "a", Local(7, 0, 0), 1);
    }
    const Bytes data = ReadAll(Data);
    const Bytes index = ReadAll(Index);

    // Another Tarvik on the same directory holds the pair.
    {
        TTrendFile first(Data, Index, Clock);
        ASSERT_TRUE(first.IsOpen());
        TTrendFile second(Data, Index, Clock);
        EXPECT_FALSE(second.IsOpen());
        EXPECT_TRUE(std::isnan(Find(second, "a", At(7, 0))));
        Write(second, "b", Local(7, 15, 0), 2);
        EXPECT_EQ(Find(first, "a", At(7, 0)), 1);
    }
    // Some other holder locks one of the two files.
    for (const std::string& locked : {Data, Index}) {
        const int fd = ::open(locked.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        {
            TTrendFile file(Data, Index, Clock);
            EXPECT_FALSE(file.IsOpen()) << locked;
            Write(file, "b", Local(7, 15, 0), 2);
        }
        ::close(fd);
    }
    EXPECT_EQ(ReadAll(Data), data);
    EXPECT_EQ(ReadAll(Index), index);
}

TEST_F(TrendFileTest, ShortIndexLoadsWholeEntriesAndStaysAligned) {
    {
        TTrendFile file(Data, Index, Clock);
        Write(file, "a", Local(6, 0, 0), 1);
    }
    Bytes index = ReadAll(Index);
    index.insert(index.end(), {0x11, 0x22, 0x33, 0x44, 0x55});  // a torn entry
    WriteAll(Index, index);
    {
        TTrendFile file(Data, Index, Clock);
        EXPECT_EQ(Find(file, "a", At(6, 0)), 1);
        Write(file, "b", Local(6, 15, 0), 2);
    }
    // The new entry replaced the torn bytes instead of following them.
    EXPECT_EQ(std::filesystem::file_size(Index), 24u);
    TTrendFile file(Data, Index, Clock);
    EXPECT_EQ(Find(file, "a", At(6, 0)), 1);
    EXPECT_EQ(Find(file, "b", At(6, 15)), 2);
}

// kill -9 in the middle of a record leaves its first bytes at the end of
// the data file. Opening cuts them off, so the next record goes where the
// torn one began and every record stays on the 12 + k * 288 grid.
TEST_F(TrendFileTest, TornTailIsCutBackToTheLastWholeRecord) {
    TTrendRecord next;
    next.Name = "torn";
    next.Time = At(5, 15);
    const TTrendRecordBytes partial = EncodeTrendRecord(next);
    const struct {
        const char* what;
        int records;  // whole records before the torn bytes
        Bytes torn;
    } cases[] = {
        {"one byte", 2, Bytes(1, 0x03)},
        {"first 100 bytes of a record", 2, Bytes(partial.begin(), partial.begin() + 100)},
        {"all but the last byte", 2, Bytes(partial.begin(), partial.end() - 1)},
        {"garbage", 2, Bytes(200, 0xAA)},
        {"torn first record", 0, Bytes(partial.begin(), partial.begin() + 150)},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(Data);
        std::filesystem::remove(Index);
        {
            TTrendFile file(Data, Index, Clock);
            for (int i = 0; i < c.records; ++i) Write(file, "a", Local(5, i, 0), i + 1);
        }
        Bytes data = ReadAll(Data);
        Append(data, c.torn);
        WriteAll(Data, data);
        {
            TTrendFile file(Data, Index, Clock);
            EXPECT_EQ(std::filesystem::file_size(Data), 12u + c.records * 288) << c.what;
            Write(file, "b", Local(5, 15, 0), 9);
        }
        EXPECT_TRUE(PairIsWhole(Data, Index)) << c.what;
        TTrendFile file(Data, Index, Clock);
        EXPECT_FALSE(file.IndexRebuilt()) << c.what;
        for (int i = 0; i < c.records; ++i) EXPECT_EQ(Find(file, "a", At(5, i)), i + 1) << c.what;
        EXPECT_EQ(Find(file, "b", At(5, 15)), 9) << c.what;
    }
}

// A crash tore a record of minute 5:15 and the program came back within the
// same minute: the record written after the torn bytes is still found, both
// right after writing and after reopening.
TEST_F(TrendFileTest, TornRecordWithinAMinuteDoesNotHideTheNextOne) {
    {
        TTrendFile file(Data, Index, Clock);
        Write(file, "a", Local(5, 15, 0), 1);
    }
    Bytes data = ReadAll(Data);
    data.insert(data.end(), 100, 0xAA);
    WriteAll(Data, data);
    {
        TTrendFile file(Data, Index, Clock);
        Write(file, "b", Local(5, 15, 30), 2);
        Write(file, "c", Local(5, 15, 40), 3);
        EXPECT_EQ(Find(file, "b", At(5, 15)), 2);
        EXPECT_EQ(Find(file, "c", At(5, 15)), 3);
    }
    TTrendFile file(Data, Index, Clock);
    EXPECT_EQ(Find(file, "a", At(5, 15)), 1);
    EXPECT_EQ(Find(file, "b", At(5, 15)), 2);
    EXPECT_EQ(Find(file, "c", At(5, 15)), 3);
}

// An index that does not match the data would hide good records: it is
// rebuilt from the data's checksummed records and written back atomically,
// and the rebuilt index is taken as it is at the next opening.
TEST_F(TrendFileTest, IndexThatDoesNotMatchTheDataIsRebuilt) {
    TFixtureFiles files;
    const std::int32_t first = files.Add("a", At(4, 0), 1);
    const std::int32_t second = files.Add("b", At(4, 0), 2);
    const std::int32_t third = files.Add("a", At(4, 15), 3);
    const Bytes good = files.Index;
    const auto entry = [](double stamp, std::int32_t offset) {
        return EncodeTrendIndexEntry(stamp, offset);
    };
    const auto join = [](std::initializer_list<std::array<std::uint8_t, 12>> entries) {
        Bytes out;
        for (const auto& e : entries) Append(out, e);
        return out;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* what;
        Bytes index;
        bool rebuilt;
    } cases[] = {
        {"healthy", good, false},
        {"no index", {}, true},
        {"last entry lost in a crash", Bytes(good.begin(), good.end() - 12), true},
        {"entry past the end",
         join({entry(At(4, 0), first), entry(At(4, 0), 1 << 30), entry(At(4, 15), third)}), true},
        {"entry off the record boundary",
         join({entry(At(4, 0), first + 100), entry(At(4, 0), second), entry(At(4, 15), third)}),
         true},
        {"entry with another stamp",
         join({entry(At(3, 0), first), entry(At(4, 0), second), entry(At(4, 15), third)}), true},
        {"entry with its neighbour's stamp",
         join({entry(At(4, 0), first), entry(At(4, 0), second), entry(At(4, 0), third)}), true},
        {"index of other data",
         join({entry(At(9, 0), first), entry(At(9, 0), second), entry(At(9, 15), third)}), true},
        {"entries out of order",
         join({entry(At(4, 0), second), entry(At(4, 0), first), entry(At(4, 15), third)}), true},
        {"NaN stamp and negative offset",
         join({entry(nan, first), entry(At(4, 0), -288), entry(At(4, 15), third)}), true},
    };
    for (const auto& c : cases) {
        WriteAll(Data, files.Data);
        WriteAll(Index, c.index);
        {
            TTrendFile file(Data, Index, Clock);
            EXPECT_EQ(file.IndexRebuilt(), c.rebuilt) << c.what;
            EXPECT_EQ(Find(file, "a", At(4, 0)), 1) << c.what;
            EXPECT_EQ(Find(file, "b", At(4, 0)), 2) << c.what;
            EXPECT_EQ(Find(file, "a", At(4, 15)), 3) << c.what;
            EXPECT_EQ(ReadAll(Index), c.rebuilt ? good : c.index) << c.what;
            // The new index file is ours and locked like the old one.
            const int fd = ::open(Index.c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0) << c.what;
            ::close(fd);
            Write(file, "c", Local(4, 30, 0), 4);
            EXPECT_EQ(Find(file, "c", At(4, 30)), 4) << c.what;
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir),
                                std::filesystem::directory_iterator()),
                  2)
            << c.what << ": no temporary file left";
        EXPECT_TRUE(PairIsWhole(Data, Index)) << c.what;
        TTrendFile file(Data, Index, Clock);
        EXPECT_FALSE(file.IndexRebuilt()) << c.what;
        EXPECT_EQ(Find(file, "b", At(4, 0)), 2) << c.what;
        EXPECT_EQ(Find(file, "c", At(4, 30)), 4) << c.what;
    }
}

// The history kept on another disk through symbolic links: a rebuilt index
// replaces the file the link names, and the link stays.
TEST_F(TrendFileTest, RebuiltIndexBehindASymbolicLinkKeepsTheLink) {
    TFixtureFiles files;
    files.Add("a", At(4, 0), 1);
    const std::string elsewhere = Dir + "/disk";
    std::filesystem::create_directory(elsewhere);
    WriteAll(Data, files.Data);
    WriteAll(elsewhere + "/KOR_VEL.ND", {});
    std::filesystem::create_symlink(elsewhere + "/KOR_VEL.ND", Index);
    {
        TTrendFile file(Data, Index, Clock);
        EXPECT_TRUE(file.IndexRebuilt());
        Write(file, "b", Local(4, 15, 0), 2);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(Index));
    EXPECT_TRUE(PairIsWhole(Data, Index));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere),
                            std::filesystem::directory_iterator()),
              1);
    TTrendFile file(Data, Index, Clock);
    EXPECT_FALSE(file.IndexRebuilt());
    EXPECT_EQ(Find(file, "a", At(4, 0)), 1);
    EXPECT_EQ(Find(file, "b", At(4, 15)), 2);
}

// Records whose checksum fails are left out of a rebuilt index; they do not
// make the index look damaged at every opening.
TEST_F(TrendFileTest, DamagedRecordsDoNotMakeTheIndexRebuildAgain) {
    TFixtureFiles files;
    files.Add("a", At(4, 0), 1);
    files.Add("b", At(4, 0), 2);
    files.Add("c", At(4, 15), 3);
    files.Data[12 + 288 + 256] ^= 1;      // b
    files.Data[12 + 2 * 288 + 256] ^= 1;  // c, the last record
    WriteAll(Data, files.Data);
    {
        TTrendFile file(Data, Index, Clock);  // no index: rebuilt
        EXPECT_TRUE(file.IndexRebuilt());
        EXPECT_EQ(Find(file, "a", At(4, 0)), 1);
        EXPECT_TRUE(std::isnan(Find(file, "b", At(4, 0))));
    }
    EXPECT_EQ(std::filesystem::file_size(Index), 12u);
    TTrendFile file(Data, Index, Clock);
    EXPECT_FALSE(file.IndexRebuilt());
    EXPECT_EQ(Find(file, "a", At(4, 0)), 1);
}

// A build that appended after a torn record left the later records off the
// grid. Their index is taken as it is, a lost index is rebuilt across the
// torn bytes, and new records follow on the later records' grid.
TEST_F(TrendFileTest, RecordsShiftedByAnOlderBuildStayFindable) {
    TFixtureFiles files;
    files.Add("a", At(3, 0), 1);
    files.Data.insert(files.Data.end(), 100, 0xAA);
    files.Index.clear();
    files.Add("a", At(3, 15), 2);
    files.Add("a", At(3, 30), 3);
    Bytes shifted;  // what a rebuild must find again
    Append(shifted, EncodeTrendIndexEntry(At(3, 0), 12));
    Append(shifted, files.Index);
    for (const bool lostIndex : {false, true}) {
        WriteAll(Data, files.Data);
        WriteAll(Index, lostIndex ? Bytes{} : shifted);
        {
            TTrendFile file(Data, Index, Clock);
            EXPECT_EQ(file.IndexRebuilt(), lostIndex);
            EXPECT_EQ(ReadAll(Index), shifted);
            Write(file, "a", Local(3, 45, 0), 4);
        }
        EXPECT_EQ(std::filesystem::file_size(Data), 12u + 100 + 4 * 288);
        TTrendFile file(Data, Index, Clock);
        EXPECT_FALSE(file.IndexRebuilt());
        for (int i = 0; i < 4; ++i) EXPECT_EQ(Find(file, "a", At(3, 15 * i)), i + 1) << i;
    }
}

// A writer killed with SIGKILL at any moment (between a record and its
// entry, say) leaves a pair that the next opening takes, or repairs, into
// whole records with an entry each, and that goes on growing correctly.
TEST_F(TrendFileTest, WriterKilledAtAnyMomentLeavesAWholePair) {
    std::mt19937 rng(2026);
    int records = 0;
    for (int round = 0; round < 8; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            test::TFakeClock clock(Local(0, 0, 0, kDay + round));
            TTrendFile file(Data, Index, clock);
            for (int i = 0;; ++i) {
                clock.SetLocal(Local(i / 60 % 24, i % 60, 0, kDay + round));
                TTrendRecord r;
                r.Name = "h";
                r.Read = i;
                file.WriteRecord(r);
            }
        }
        ::usleep(20000 + rng() % 30000);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        {
            TTrendFile file(Data, Index, Clock);
            ASSERT_TRUE(file.IsWritable());
            Write(file, "after", Local(23, 59, 0, kDay + round), 1);
            EXPECT_EQ(Find(file, "after", At(23, 59, kDay + round)), 1) << round;
        }
        EXPECT_TRUE(PairIsWhole(Data, Index)) << round;
        const auto now = static_cast<int>((std::filesystem::file_size(Data) - 12) / 288);
        EXPECT_GT(now, records + 1) << round << ": the writer wrote records before it died";
        records = now;
        TTrendFile file(Data, Index, Clock);
        EXPECT_FALSE(file.IndexRebuilt()) << round;
        EXPECT_EQ(Find(file, "h", At(0, 0, kDay + round)), 0) << round;
    }
}

// Every step of a write may fail (a full disk, an I/O error): the pair stays
// whole records with an entry each, the failed record is not half there, and
// the next record is written normally.
TEST_F(TrendFileTest, FailedWriteStepsLeaveWholeRecordsAndNamedEntries) {
    using Step = TTrendFile::TWriteStep;
    for (const Step failing : {Step::DataWrite, Step::DataSync, Step::IndexWrite}) {
        std::filesystem::remove(Data);
        std::filesystem::remove(Index);
        {
            TTrendFile file(Data, Index, Clock);
            Write(file, "a", Local(1, 0, 0), 1);
            Write(file, "a", Local(1, 15, 0), 2);
            file.SetFaultHook([failing](Step step) { return step == failing; });
            Write(file, "lost", Local(1, 30, 0), 3);
            EXPECT_TRUE(PairIsWhole(Data, Index)) << static_cast<int>(failing);
            EXPECT_EQ(std::filesystem::file_size(Data), 12u + 2 * 288) << static_cast<int>(failing);
            EXPECT_TRUE(std::isnan(Find(file, "lost", At(1, 30))));
            file.SetFaultHook(nullptr);
            Write(file, "a", Local(1, 45, 0), 4);
            EXPECT_TRUE(PairIsWhole(Data, Index)) << static_cast<int>(failing);
        }
        TTrendFile file(Data, Index, Clock);
        EXPECT_FALSE(file.IndexRebuilt()) << static_cast<int>(failing);
        EXPECT_EQ(Find(file, "a", At(1, 0)), 1);
        EXPECT_EQ(Find(file, "a", At(1, 15)), 2);
        EXPECT_TRUE(std::isnan(Find(file, "lost", At(1, 30))));
        EXPECT_EQ(Find(file, "a", At(1, 45)), 4);
    }
}

// Another writer's arithmetic may land one step beside our k / 1440.
TEST_F(TrendFileTest, StampsOneRoundingStepOffStillMatch) {
    const double stamp = At(4, 15);
    TFixtureFiles files;
    files.Add("up", std::nextafter(stamp, 1e9), 1);
    files.Add("down", std::nextafter(stamp, 0.0), 2);
    files.Add("later", stamp + 1.0 / 1440, 3);
    WriteAll(Data, files.Data);
    WriteAll(Index, files.Index);
    TTrendFile file(Data, Index, Clock);
    EXPECT_EQ(file.IndexedStamps(), 2u);
    EXPECT_EQ(Find(file, "up", stamp), 1);
    EXPECT_EQ(Find(file, "down", stamp), 2);
    EXPECT_TRUE(std::isnan(Find(file, "later", stamp)));
    EXPECT_EQ(Find(file, "later", At(4, 16)), 3);
}

TEST_F(TrendFileTest, ClockGoingBackKeepsBothMinutesFindable) {
    {
        TTrendFile file(Data, Index, Clock);
        Write(file, "a", Local(3, 30, 0), 1);
        Write(file, "a", Local(3, 15, 0), 2);
        Write(file, "a", Local(3, 45, 0), 3);
        EXPECT_EQ(Find(file, "a", At(3, 15)), 2);
        EXPECT_EQ(Find(file, "a", At(3, 30)), 1);
    }
    TTrendFile file(Data, Index, Clock);
    EXPECT_EQ(Find(file, "a", At(3, 15)), 2);
    EXPECT_EQ(Find(file, "a", At(3, 30)), 1);
    EXPECT_EQ(Find(file, "a", At(3, 45)), 3);
}

TEST_F(TrendFileTest, HistoryBeyond65000EntriesStaysFindable) {
    // 70000 records: ten thousand minutes of seven resources each.
    TFixtureFiles files;
    const double first = At(0, 0);
    for (int m = 0; m < 10000; ++m) {
        for (int r = 0; r < 7; ++r) {
            files.Add("r" + std::to_string(r), first + m / 1440.0, m * 10 + r);
        }
    }
    WriteAll(Data, files.Data);
    WriteAll(Index, files.Index);
    TTrendFile file(Data, Index, Clock);
    EXPECT_EQ(file.IndexedStamps(), 10000u);
    EXPECT_EQ(Find(file, "r0", first), 0);
    EXPECT_EQ(Find(file, "r6", first), 6);
    EXPECT_EQ(Find(file, "r3", first + 5000 / 1440.0), 50003);
    EXPECT_EQ(Find(file, "r6", first + 9999 / 1440.0), 99996);
}

// Offsets in the index are signed 32-bit: the last record that can be named
// starts at 12 + 7456540 * 288 = 2147483532. Past it the history stops, the
// owner is told once, and nothing more is written.
TEST_F(TrendFileTest, HistoryStopsAtTheReachOfA32BitOffsetAndSaysSoOnce) {
    constexpr off_t lastFitting = 12 + off_t{7456540} * 288;
    static_assert(lastFitting <= 0x7FFFFFFF && lastFitting + 288 > 0x7FFFFFFF);
    // Sparse files: room for two more records, and for none.
    for (const off_t size : {lastFitting - 288, lastFitting + 288}) {
        std::filesystem::remove(Data);
        WriteAll(Index, {});
        WriteAll(Data, {});
        std::filesystem::resize_file(Data, static_cast<std::uintmax_t>(size));
        {
            TTrendFile file(Data, Index, Clock);
            int told = 0;
            file.SetFullHandler([&told] { ++told; });
            Write(file, "a", Local(2, 0, 0), 1);
            Write(file, "b", Local(2, 0, 30), 2);
            Write(file, "c", Local(2, 15, 0), 3);
            EXPECT_EQ(told, 1);
            EXPECT_TRUE(file.IsFull());
            EXPECT_TRUE(file.IsWritable());
        }
        const bool room = size < lastFitting;
        EXPECT_EQ(std::filesystem::file_size(Data),
                  static_cast<std::uintmax_t>(room ? lastFitting + 288 : size));
        EXPECT_EQ(std::filesystem::file_size(Index), room ? 24u : 0u);
        // The records up to the limit are taken as they are at the next start.
        TTrendFile file(Data, Index, Clock);
        EXPECT_FALSE(file.IndexRebuilt());
        if (room) {
            EXPECT_EQ(Find(file, "a", At(2, 0)), 1);
            EXPECT_EQ(Find(file, "b", At(2, 0)), 2);
        }
        EXPECT_TRUE(std::isnan(Find(file, "c", At(2, 15))));
    }
}

}  // namespace
}  // namespace tarvik
