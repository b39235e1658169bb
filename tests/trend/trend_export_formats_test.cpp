#include "trend/trend_export_formats.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

using namespace std::chrono;

std::vector<TExportResource> TwoResources() {
    std::vector<TExportResource> r(2);
    r[0].Address = "/mnt/a,b";  // a comma: quoted in CSV
    r[0].Kind = '1';
    r[0].Day[0] = {true, 1234.5, 8, 0};
    r[0].Day[95] = {true, 2, 3, 0};
    r[1].Address = "host \"x\"";
    r[1].Kind = '3';
    r[1].Day[0] = {true, 0, 0, 12.345};
    return r;
}

TEST(TrendExportFormats, CsvHasOneRecordPerSlotResourceAndDirection) {
    const std::string csv = FormatTrendCsv(TwoResources(), 2026y / December / 9d, 0, 1);
    EXPECT_EQ(csv,
              "time,resource,kind,direction,kbps\r\n"
              "2026-12-09T00:15:00,\"/mnt/a,b\",drive,write,8.00\r\n"
              "2026-12-09T00:15:00,\"/mnt/a,b\",drive,read,1234.50\r\n"
              "2026-12-09T00:15:00,\"host \"\"x\"\"\",host,ping,12.35\r\n");
}

TEST(TrendExportFormats, LastSlotEndsAtMidnightOfTheNextDay) {
    const std::string csv = FormatTrendCsv(TwoResources(), 2026y / December / 31d, 95, 96);
    EXPECT_NE(csv.find("2027-01-01T00:00:00,\"/mnt/a,b\",drive,read,2.00\r\n"), std::string::npos) << csv;
    EXPECT_EQ(csv.find("host,ping"), std::string::npos) << "the host has no record in the last slot";
}

TEST(TrendExportFormats, JsonCarriesTheSameRecords) {
    std::vector<TExportResource> r = TwoResources();
    r.erase(r.begin());
    EXPECT_EQ(FormatTrendJson(r, 2026y / December / 9d, 0, 1),
              "[\n  {\"time\": \"2026-12-09T00:15:00\", \"resource\": \"host \\\"x\\\"\", \"kind\": \"host\", "
              "\"direction\": \"ping\", \"kbps\": 12.35}\n]\n");
    EXPECT_EQ(FormatTrendJson(r, 2026y / December / 9d, 4, 4), "[]\n");  // no slot in the period
}

TEST(TrendExportFormats, DayAndTimeArguments) {
    EXPECT_EQ(ParseExportDay("2026-12-09"), 2026y / December / 9d);
    EXPECT_EQ(ParseExportDay("2024-02-29"), 2024y / February / 29d);
    for (const char* bad : {"2026-02-29", "2026-13-01", "2026-1-01", "26-12-09", "2026-12-09x", "", "2026/12/09"})
        EXPECT_FALSE(ParseExportDay(bad)) << bad;
    const struct {
        const char* Text;
        int Slot;
    } good[] = {{"00:00", 0}, {"00:15", 1}, {"02:00", 8}, {"23:45", 95}, {"24:00", 96}};
    for (const auto& g : good) EXPECT_EQ(ParseExportTime(g.Text), g.Slot) << g.Text;
    for (const char* bad : {"24:15", "25:00", "12:10", "12:60", "1:00", "12-00", ""})
        EXPECT_FALSE(ParseExportTime(bad)) << bad;
}

}  // namespace
}  // namespace tarvik
