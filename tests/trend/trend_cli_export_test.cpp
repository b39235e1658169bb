// The companion's export over trend files written by the trend-file code:
// TSV byte for byte the window's export table, CSV and JSON with the rows
// and values of the same records.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/fake_clock.h"
#include "trend/trend_chart.h"
#include "trend/trend_export.h"
#include "trend/trend_file.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class CompanionExport : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("TARVIK_BINARY_DIR");
        Cli = bin ? fs::path(bin) / "bin" / "tarvik-cli" : fs::path();
        ASSERT_TRUE(fs::exists(Cli)) << "tarvik-cli is built with the tests; not found at " << Cli;
        char tmpl[] = "/tmp/tarvik-export.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        std::ofstream(Dir / "QUORBELT.INI") << "[Main]\nSign=Network speed\n[Objects]\nNumber=3\n"
                                               "Object11=/mnt/share\nObject15=1\n"
                                               "Object21=/media/cd/a,b.iso\nObject25=2\n"
                                               "Object31=host.example\nObject35=3\n";
        test::TFakeClock clock({2026, 12, 9, 0, 0, 0, 0});  // moves forward only
        TTrendFile file((Dir / "KOR_VEL.D").string(), (Dir / "KOR_VEL.ND").string(), clock);
        ASSERT_TRUE(file.IsWritable());
        // The hosts' link quality beside the trend records.
        file.AttachQualityFile((Dir / "KOR_VEL.Q").string());
        ASSERT_TRUE(file.HasQualityFile());
        // 00:15, 02:30 and the last slot (midnight at the end of the day).
        const TLocalTime stamps[] = {{2026, 12, 9, 0, 15, 0, 0}, {2026, 12, 9, 2, 30, 0, 0}, {2026, 12, 10, 0, 0, 0, 0}};
        double v = 1;
        for (const TLocalTime& t : stamps) {
            clock.SetLocal(t);
            file.WriteRecord({"/mnt/share", 1000 + v, 500 + v, 0, 0, 0});
            file.WriteRecord({"/media/cd/a,b.iso", 1234.5 * v, 0, 0, 0, 0});
            file.WriteRecord({"host.example", 0, 0, 42.125 * v, 0, 0});
            // 1 and 3 ms times v, one echo lost.
            TLinkQuality q;
            q.AddReply(1000 * v);
            q.AddLost();
            q.AddReply(3000 * v);
            file.WriteQuality({"host.example", 0, 0, 0, 0, 0}, q);
            v += 1;
        }
    }
    void TearDown() override { fs::remove_all(Dir); }

    std::string Export(const std::string& args) {
        const fs::path out = Dir / "out.txt";
        const std::string cmd = Cli.string() + " --dir " + Dir.string() + " export --day 2026-12-09 " + args +
                                " --output " + out.string();
        const int status = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
        return ReadAll(out);
    }

    fs::path Cli, Dir;
};

TEST_F(CompanionExport, TsvIsTheWindowsExportByteForByte) {
    // The window's path: the day values of the grid's rows, then the export table.
    const test::TFakeClock clock;
    const TTrendFile file((Dir / "KOR_VEL.D").string(), (Dir / "KOR_VEL.ND").string(), clock);
    std::array<TDayValues, 9> values{};
    const std::vector<TTrendRow> rows = {{"/mnt/share", '1', {}, {}, &values[0], &values[1], &values[2]},
                                         {"/media/cd/a,b.iso", '2', {}, {}, &values[3], &values[4], &values[5]},
                                         {"host.example", '3', {}, {}, &values[6], &values[7], &values[8]}};
    const double date = EncodeDateTime({2026, 12, 9, 0, 0, 0, 0});
    LoadTrendDay(&file, rows, date);
    for (const auto& [from, till, args] : {std::tuple{0, 96, ""}, std::tuple{8, 12, "--from 02:00 --till 03:00"},
                                          std::tuple{40, 40, "--from 10:00 --till 10:00"}}) {
        const std::string window = ExportText(BuildExportTable(TrendDateCaption(date), rows, from, till));
        EXPECT_EQ(Export(args), window) << args;
    }
    EXPECT_NE(Export("").find("/media/cd/a,b.iso Read (KBps)\t1234.50\t"), std::string::npos);
}

TEST_F(CompanionExport, CsvAndJsonCarryTheRecords) {
    const std::string csv = Export("--format csv --from 00:00 --till 00:30");
    EXPECT_EQ(csv,
              "time,resource,kind,direction,kbps,loss,rtt_p50_ms,rtt_p95_ms,jitter_ms\r\n"
              "2026-12-09T00:15:00,/mnt/share,drive,write,501.00,,,,\r\n"
              "2026-12-09T00:15:00,/mnt/share,drive,read,1001.00,,,,\r\n"
              "2026-12-09T00:15:00,\"/media/cd/a,b.iso\",file,read,1234.50,,,,\r\n"
              "2026-12-09T00:15:00,host.example,host,ping,42.12,0.3333,1.000,3.000,2.000\r\n");
    const std::string json = Export("--format json --from 23:45");
    EXPECT_NE(json.find("{\"time\": \"2026-12-10T00:00:00\", \"resource\": \"host.example\", \"kind\": \"host\", "
                        "\"direction\": \"ping\", \"kbps\": 126.38, \"loss\": 0.3333, \"rtt_p50_ms\": 3.158, "
                        "\"rtt_p95_ms\": 8.933, \"jitter_ms\": 6.000}"),  // 3 and 9 ms read from their buckets
              std::string::npos)
        << json;
    // Without the side file the host rows say "no quality data", the speeds stay.
    fs::remove(Dir / "KOR_VEL.Q");
    EXPECT_NE(Export("--format csv --from 00:00 --till 00:30").find(",host,ping,42.12,,,,\r\n"), std::string::npos);
    EXPECT_EQ(Export("--format json --day 2026-12-01"), "[]\n") << "a day with no records";
}

}  // namespace
}  // namespace tarvik
