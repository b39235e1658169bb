// The export table and its lines: columns of the period, values by kind,
// the exact bytes written, and what a failing file reports.
#include "trend/trend_export.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tarvik {
namespace {

struct TRowFixture {
    TDayValues Write{}, Read{}, Ping{};
    TTrendRow Row(const std::string& address, char kind, bool thread = true) {
        TTrendRow r;
        r.Address = address;
        r.Kind = kind;
        if (thread) {
            r.Write = &Write;
            r.Read = &Read;
            r.Ping = &Ping;
        }
        return r;
    }
};

TEST(TrendExport, PeriodSlots) {
    const TTrendPeriod initial;
    EXPECT_EQ(FromSlot(initial), 0);
    EXPECT_EQ(TillSlot(initial), 96);
    struct TCase {
        TTrendPeriod Period;
        int From, Till;
    } cases[] = {
        {{"2", "00", "3", "0"}, 8, 12},
        {{"07", "45", "24", "45"}, 31, 99},
        {{"1", "20", "x", ""}, 5, 0},            // 20 div 15; unreadable text is 0
        {{" 9h", "15min", "10", "14"}, 37, 40},  // leading digits count
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(FromSlot(c.Period), c.From) << c.Period.FromHours;
        EXPECT_EQ(TillSlot(c.Period), c.Till) << c.Period.TillHours;
    }
}

TEST(TrendExport, DefaultPeriodGivesTheLabelColumnAndEverySlot) {
    TRowFixture a;
    const auto table =
        BuildExportTable("December 10, 2026, Thursday", {a.Row("drive", '1')}, 0, 96);
    ASSERT_EQ(table.size(), 5u);
    for (const auto& row : table) EXPECT_EQ(row.size(), 97u);
    EXPECT_EQ(table[1][1], "0:15");
    EXPECT_EQ(table[1][39], "9:45");
    EXPECT_EQ(table[1][96], "24:00");
    EXPECT_EQ(table[2][0], "drive Read (KBps)");
    EXPECT_EQ(table[3][0], "drive Write (KBps)");
    EXPECT_EQ(table[4][0], "drive Ping (KBps)");
}

TEST(TrendExport, EndNotAfterStartGivesOnlyTheLabels) {
    TRowFixture a;
    for (const auto& [from, till] : {std::pair{8, 8}, std::pair{40, 12}}) {
        const auto text = ExportText(BuildExportTable("date", {a.Row("h", '3')}, from, till));
        EXPECT_EQ(text, "date\r\n\r\nh Read (KBps)\r\nh Write (KBps)\r\nh Ping (KBps)\r\n")
            << from << " " << till;
    }
}

TEST(TrendExport, ValuesByKind) {
    TRowFixture drive, cd, host, none;
    for (TRowFixture* f : {&drive, &cd, &host, &none}) {
        f->Write[1] = 1234.5;
        f->Read[1] = 2;
        f->Ping[1] = 3;
    }
    const auto table = BuildExportTable("d",
                                        {drive.Row("drive", '1'), cd.Row("cd", '2'),
                                         host.Row("host", '3'), none.Row("x", '1', false)},
                                        0, 1);
    ASSERT_EQ(table.size(), 14u);
    const auto line = [&](std::size_t r) { return ExportLine(table[r]); };
    EXPECT_EQ(line(2), "drive Read (KBps)\t2.00\r\n");
    EXPECT_EQ(line(3), "drive Write (KBps)\t1234.50\r\n");
    EXPECT_EQ(line(4), "drive Ping (KBps)\t0.00\r\n");
    EXPECT_EQ(line(5), "cd Read (KBps)\t2.00\r\n");
    EXPECT_EQ(line(6), "cd Write (KBps)\t0.00\r\n");
    EXPECT_EQ(line(7), "cd Ping (KBps)\t0.00\r\n");
    EXPECT_EQ(line(8), "host Read (KBps)\t0.00\r\n");
    EXPECT_EQ(line(10), "host Ping (KBps)\t3.00\r\n");
    EXPECT_EQ(line(11), "x Read (KBps)\t0.00\r\n");  // no thread: all 0
    EXPECT_EQ(line(12), "x Write (KBps)\t0.00\r\n");
    EXPECT_EQ(table[3][1], "  1234.50");  // cells keep their field of 9
}

TEST(TrendExport, SlotsPastTheDayAreZero) {
    TRowFixture a;
    a.Read.fill(5);
    const auto table = BuildExportTable("d", {a.Row("a", '2')}, 95, 99);
    EXPECT_EQ(ExportLine(table[1]), "\t24:00\t24:15\t24:30\t24:45\r\n");
    EXPECT_EQ(ExportLine(table[2]), "a Read (KBps)\t5.00\t0.00\t0.00\t0.00\r\n");
}

class TrendExportFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarvik_export_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }
    std::string Dir;
};

TEST_F(TrendExportFile, ExactBytesOfASmallExport) {
    TRowFixture a;
    a.Read[1] = 12.34;
    a.Read[2] = 11.5;
    a.Write[1] = 8;
    a.Write[2] = 7.25;
    const auto table =
        BuildExportTable("December 10, 2026, Thursday", {a.Row("//filer/share", '1')}, 0, 2);
    const std::string path = Dir + "/trend.csv";
    {
        std::ofstream old(path);
        old << "an older and much longer export that must not survive\n";
    }
    ASSERT_TRUE(CopyTableToFile(table, path));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes,
              "December 10, 2026, Thursday\t\t\r\n"
              "\t0:15\t0:30\r\n"
              "//filer/share Read (KBps)\t12.34\t11.50\r\n"
              "//filer/share Write (KBps)\t8.00\t7.25\r\n"
              "//filer/share Ping (KBps)\t0.00\t0.00\r\n");
    EXPECT_EQ(bytes, ExportText(table));  // the clipboard gets the same text
}

TEST_F(TrendExportFile, FailuresAreReported) {
    TRowFixture a;
    const auto table = BuildExportTable("d", {a.Row("a", '1')}, 0, 96);
    EXPECT_FALSE(CopyTableToFile(table, Dir + "/missing/trend.csv"));
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(CopyTableToFile(table, "/dev/full"));  // every write fails: no space
    }
}

}  // namespace
}  // namespace tarvik
