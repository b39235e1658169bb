// The day reader against the one-record lookup: on every fixture, each slot
// of each name must hold exactly what ReadRecord finds there.
#include "trend/trend_day.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/fake_clock.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kDay = 46366;  // 2026-12-10

double At(int hour, int minute, int day = kDay) { return day + (hour * 60 + minute) / 1440.0; }

// Data and index files built byte by byte, so that damage, order and
// duplicates are exactly as a test wants them.
class TrendDayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarvik_trendday_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    std::int32_t Add(const std::string& name, double stamp, double read, double write = 0,
                     double ping = 0) {
        TTrendRecord r;
        r.Name = name;
        r.Time = stamp;
        r.Read = read;
        r.Write = write;
        r.Ping = ping;
        const auto offset = static_cast<std::int32_t>(Data.size());
        const auto bytes = EncodeTrendRecord(r);
        Data.insert(Data.end(), bytes.begin(), bytes.end());
        AddEntry(stamp, offset);
        return offset;
    }
    void AddEntry(double stamp, std::int32_t offset) {
        const auto e = EncodeTrendIndexEntry(stamp, offset);
        Index.insert(Index.end(), e.begin(), e.end());
    }
    std::unique_ptr<TTrendFile> Open() {
        const auto write = [](const std::string& path, const Bytes& b) {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(b.data()),
                      static_cast<std::streamsize>(b.size()));
        };
        write(Dir + "/KOR_VEL.D", Data);
        write(Dir + "/KOR_VEL.ND", Index);
        return std::make_unique<TTrendFile>(Dir + "/KOR_VEL.D", Dir + "/KOR_VEL.ND", Clock);
    }

    // Every slot of every name equals the slot-by-slot lookup; returns the
    // number of slots found, so that a test can tell it saw records.
    static int ExpectSameAsLookup(const TTrendFile& file, const std::vector<std::string>& names,
                                  double date) {
        const auto days = ReadTrendDay(file, names, date);
        EXPECT_EQ(days.size(), names.size());
        int found = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
            for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
                TTrendRecord r;
                r.Name = names[i];
                r.Time = TrendSlotStamp(date, p);
                const bool hit = file.ReadRecord(r);
                const TTrendDaySlot& s = days[i][static_cast<std::size_t>(p - 1)];
                EXPECT_EQ(s.Found, hit) << names[i] << " slot " << p;
                EXPECT_EQ(s.Read, r.Read) << names[i] << " slot " << p;
                EXPECT_EQ(s.Write, r.Write) << names[i] << " slot " << p;
                EXPECT_EQ(s.Ping, r.Ping) << names[i] << " slot " << p;
                found += hit;
            }
        }
        return found;
    }

    std::string Dir;
    Bytes Data = Bytes(kTrendHeaderSize, 0);
    Bytes Index;
    test::TFakeClock Clock;
};

TEST_F(TrendDayTest, FullDayOfSeveralResourcesWithGaps) {
    // The day before's last slot and the next midnight (slot 96) bound it.
    Add("a", At(0, 0), 99);
    for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
        const double stamp = TrendSlotStamp(kDay, p);
        if (p % 7 != 0) Add("a", stamp, p, 2 * p);
        if (p % 3 != 0) Add("//Filer/share", stamp, 1000 + p);
        Add("host", stamp, 0, 0, 0.5 * p);
    }
    Add("a", At(0, 15, kDay + 1), 77);
    auto file = Open();
    const std::vector<std::string> names = {"A", "//filer/SHARE", "host", "missing", "a"};
    EXPECT_GT(ExpectSameAsLookup(*file, names, kDay + 0.5), 96 * 3);
    const auto days = ReadTrendDay(*file, names, kDay + 0.5);
    EXPECT_EQ(days[0][95].Read, 96);  // midnight at the end of the day
    EXPECT_EQ(days[0][0].Write, 2);
    EXPECT_FALSE(days[0][6].Found);
    EXPECT_EQ(days[2][9].Ping, 5);
}

TEST_F(TrendDayTest, FirstGoodRecordOfAMinuteWins) {
    const double s = At(9, 15);
    Add("x", s, 1);
    Add("x", s, 2);
    const std::int32_t damaged = Add("y", s, 3);
    Add("y", s, 4);
    Add("z", s + 20.0 / 86400, 5);  // stamped 20 s off: the same minute
    Data[static_cast<std::size_t>(damaged) + 284] ^= 1;
    auto file = Open();
    EXPECT_EQ(ExpectSameAsLookup(*file, {"x", "y", "z"}, kDay), 3);
    const auto days = ReadTrendDay(*file, std::vector<std::string>{"x", "y"}, kDay);
    EXPECT_EQ(days[0][36].Read, 1);
    EXPECT_EQ(days[1][36].Read, 4);
}

TEST_F(TrendDayTest, OddFilesReadAsTheLookupReadsThem) {
    // Clock going back: 3:30 is written before 3:15.
    Add("a", At(3, 30), 1);
    Add("a", At(3, 15), 2);
    Add("b", At(3, 15), 3);
    // A torn record between two records of one minute starts a second run.
    Add("a", At(5, 15), 4);
    Data.insert(Data.end(), 100, 0xAA);
    Add("b", At(5, 15), 5);
    // An index entry naming a record of another minute leads nowhere.
    AddEntry(At(6, 0), Add("a", At(6, 15), 6));
    // Records whose index entries are missing still follow the run of
    // their minute (the last one lies past what the index names).
    const std::size_t before = Index.size();
    Add("a", At(7, 0), 7);
    Add("b", At(7, 0), 8);
    Add("c", At(7, 0), 9);
    Index.resize(before + kTrendIndexEntrySize);
    auto file = Open();
    EXPECT_GE(ExpectSameAsLookup(*file, {"a", "b", "c"}, kDay), 8);
}

TEST_F(TrendDayTest, ChecksumsJudgedAsTheLookupJudgesThem) {
    // Names padded with arbitrary bytes (the checksum covers them too), one
    // record in two then damaged in one byte anywhere in the checksummed part.
    std::uint32_t seed = 12345;
    const auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int p = 1; p <= kTrendSlotsPerDay; ++p) {
        for (const char* name : {"a", "b", "c"}) {
            const std::int32_t at = Add(name, TrendSlotStamp(kDay, p), next() % 5000 / 7.0);
            std::uint8_t* rec = Data.data() + at;
            for (std::size_t i = 2; i < 256; ++i) rec[i] = static_cast<std::uint8_t>(next());
            const std::uint32_t sum = TrendChecksum(std::span<const std::uint8_t>(rec, 284));
            for (int i = 0; i < 4; ++i) rec[284 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
            if (next() % 2) rec[1 + next() % 283] ^= static_cast<std::uint8_t>(1 + next() % 255);
        }
    }
    auto file = Open();
    const int found = ExpectSameAsLookup(*file, {"a", "b", "c"}, kDay);
    EXPECT_GT(found, 50);
    EXPECT_LT(found, 250);
}

TEST_F(TrendDayTest, HistoryOffOrNoNamesFindsNothing) {
    Add("a", At(1, 0), 1);
    auto file = Open();
    EXPECT_TRUE(ReadTrendDay(*file, {}, kDay).empty());
    // A second object on the same files finds them locked: history off.
    const TTrendFile locked(Dir + "/KOR_VEL.D", Dir + "/KOR_VEL.ND", Clock);
    ASSERT_FALSE(locked.IsOpen());
    const auto days = ReadTrendDay(locked, std::vector<std::string>{"a"}, kDay);
    ASSERT_EQ(days.size(), 1u);
    for (const auto& s : days[0]) EXPECT_FALSE(s.Found);
}

}  // namespace
}  // namespace tarvik
