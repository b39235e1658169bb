// The link-quality side file: records round trip, a torn tail and damaged
// records are skipped, a missing file reads as no data, and the trend files
// are the same bytes with or without it.
#include "trend/quality_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/fake_clock.h"
#include "trend/trend_file.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
void WriteBytes(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// 2026-12-10 (day 46366) at hh:mm.
double At(int hour, int minute) { return 46366 + (hour * 60 + minute) / 1440.0; }

TLinkQuality Sample(double base) {
    TLinkQuality q;
    q.AddReply(base);
    q.AddLost();
    q.AddReply(base * 2);
    return q;
}

class QualityFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarvik-quality.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override { fs::remove_all(Dir); }
    std::string Q() const { return (Dir / "KOR_VEL.Q").string(); }

    // Writes three quarter hours of one host through the trend file.
    void WriteThree(bool withSide) {
        test::TFakeClock clock({2026, 12, 10, 0, 0, 0, 0});
        TTrendFile trend((Dir / "KOR_VEL.D").string(), (Dir / "KOR_VEL.ND").string(), clock);
        ASSERT_TRUE(trend.IsWritable());
        if (withSide) trend.AttachQualityFile(Q());
        EXPECT_EQ(trend.HasQualityFile(), withSide);
        for (int i = 1; i <= 3; ++i) {
            const TTrendRecord r{"host.example", 0, 0, 10.0 * i, At(0, 15 * i), 0};
            trend.WriteRecord(r);
            trend.WriteQuality(r, Sample(1000 * i));
        }
    }

    fs::path Dir;
};

TEST_F(QualityFileTest, RecordsRoundTripAndFindTheirSlots) {
    WriteThree(true);
    ASSERT_EQ(fs::file_size(Q()), 3 * kQualityRecordSize);
    const TQualityFile file(Q(), TQualityFile::TAccess::ReadShared);
    const auto all = file.ReadAll();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Name, "HOST.EXAMPLE");
    const TLinkQuality& q = all[1].Quality;
    const TLinkQuality want = Sample(2000);
    EXPECT_EQ(q.Cycles, 3u);
    EXPECT_EQ(q.Lost, 1u);
    EXPECT_EQ(q.RttMinUs, 2000u);
    EXPECT_EQ(q.RttMaxUs, 4000u);
    EXPECT_EQ(q.RttSumUs, want.RttSumUs);
    EXPECT_EQ(q.RttSumSquaresUs, want.RttSumSquaresUs);
    EXPECT_EQ(q.JitterSumUs, 2000);
    EXPECT_EQ(q.JitterCount, 1u);
    EXPECT_EQ(q.Buckets, want.Buckets);

    // Names match as in the trend file; other names and days find nothing.
    const auto days = ReadQualityDay(file, {"Host.Example", "other"}, 46366);
    EXPECT_TRUE(days[0][0]);  // slot 1 = 00:15
    EXPECT_TRUE(days[0][2]);
    EXPECT_FALSE(days[0][3]);
    EXPECT_EQ(days[0][2]->RttMinUs, 3000u);
    for (const auto& slot : days[1]) EXPECT_FALSE(slot);
    const auto nextDay = ReadQualityDay(file, {"host.example"}, 46367);
    for (const auto& slot : nextDay[0]) EXPECT_FALSE(slot);
}

TEST_F(QualityFileTest, TrendFilesAreTheSameBytesWithOrWithoutTheSideFile) {
    WriteThree(false);
    const Bytes data = ReadBytes(Dir / "KOR_VEL.D"), index = ReadBytes(Dir / "KOR_VEL.ND");
    EXPECT_FALSE(fs::exists(Q()));
    fs::remove(Dir / "KOR_VEL.D");
    fs::remove(Dir / "KOR_VEL.ND");
    WriteThree(true);
    EXPECT_EQ(ReadBytes(Dir / "KOR_VEL.D"), data);
    EXPECT_EQ(ReadBytes(Dir / "KOR_VEL.ND"), index);
}

TEST_F(QualityFileTest, MissingTornAndDamagedFilesCostOnlyTheirOwnRecords) {
    // Missing: no quality data, nothing created by a reader.
    {
        const TQualityFile missing(Q(), TQualityFile::TAccess::ReadShared);
        EXPECT_FALSE(missing.IsOpen());
        EXPECT_TRUE(missing.ReadAll().empty());
        const auto none = ReadQualityDay(missing, {"host.example"}, 46366);
        for (const auto& slot : none[0]) EXPECT_FALSE(slot);
        EXPECT_FALSE(fs::exists(Q()));
    }
    WriteThree(true);
    const Bytes whole = ReadBytes(Q());
    const struct {
        const char* Name;
        std::function<void(Bytes&)> Harm;
        std::size_t Left;
    } cases[] = {
        {"torn tail", [](Bytes& b) { b.resize(b.size() - 100); }, 2},
        {"a byte flipped in the second record", [](Bytes& b) { b[kQualityRecordSize + 300] ^= 0x40; }, 2},
        {"bad magic", [](Bytes& b) { b[0] = 'X'; }, 2},
        {"zeros", [](Bytes& b) { std::fill(b.begin(), b.begin() + kQualityRecordSize, 0); }, 2},
        {"garbage file", [](Bytes& b) { b.assign(1000, 0xAB); }, 0},
    };
    for (const auto& c : cases) {
        Bytes b = whole;
        c.Harm(b);
        WriteBytes(Q(), b);
        const TQualityFile file(Q(), TQualityFile::TAccess::ReadShared);
        EXPECT_EQ(file.ReadAll().size(), c.Left) << c.Name;
    }
    // A torn tail is overwritten by the next record, the trend file read as before.
    Bytes torn = whole;
    torn.resize(torn.size() - 100);
    WriteBytes(Q(), torn);
    {
        TQualityFile file(Q(), TQualityFile::TAccess::Own);
        ASSERT_TRUE(file.IsWritable());
        ASSERT_TRUE(file.Append({"host.example", At(1, 0), Sample(500)}));
    }
    EXPECT_EQ(fs::file_size(Q()), 3 * kQualityRecordSize);
    EXPECT_EQ(TQualityFile(Q(), TQualityFile::TAccess::ReadShared).ReadAll().size(), 3u);
    test::TFakeClock clock({2026, 12, 10, 0, 0, 0, 0});
    WriteBytes(Q(), Bytes(1000, 0xAB));
    const TTrendFile trend((Dir / "KOR_VEL.D").string(), (Dir / "KOR_VEL.ND").string(), clock,
                           TTrendFile::TAccess::ReadShared);
    EXPECT_EQ(trend.ReadDay("host.example", 46366)[2].Ping, 30);
}

TEST_F(QualityFileTest, TheSideFileIsLockedWithTheTrendFiles) {
    TQualityFile first(Q(), TQualityFile::TAccess::Own);
    ASSERT_TRUE(first.IsWritable());
    const TQualityFile second(Q(), TQualityFile::TAccess::Own);
    EXPECT_FALSE(second.IsWritable());
    // A trend file whose side file is held elsewhere still writes its records.
    test::TFakeClock clock({2026, 12, 10, 0, 0, 0, 0});
    TTrendFile trend((Dir / "KOR_VEL.D").string(), (Dir / "KOR_VEL.ND").string(), clock);
    trend.AttachQualityFile(Q());
    EXPECT_FALSE(trend.HasQualityFile());
    const TTrendRecord r{"h", 0, 0, 5, At(0, 15), 0};
    trend.WriteRecord(r);
    trend.WriteQuality(r, Sample(100));
    EXPECT_EQ(trend.ReadDay("h", 46366)[0].Ping, 5);
    EXPECT_EQ(fs::file_size(Q()), 0u);
}

TEST(QualityRecord, AQuarterHourOfOnlyLostEchoesKeepsItsLoss) {
    TLinkQuality q;
    for (int i = 0; i < 900; ++i) q.AddLost();
    const auto back = DecodeQualityRecord(EncodeQualityRecord({"h", At(0, 15), q}));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Quality.Cycles, 900u);
    EXPECT_EQ(back->Quality.Loss(), 1.0);
    EXPECT_FALSE(back->Quality.PercentileUs(0.5));
    EXPECT_FALSE(back->Quality.JitterUs());
    // Counts that do not add up are refused like a bad checksum.
    q.Lost = 901;
    EXPECT_FALSE(DecodeQualityRecord(EncodeQualityRecord({"h", At(0, 15), q})));
}

}  // namespace
}  // namespace tarvik
