#include "trend/trend_export_formats.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

using namespace std::chrono;

// One lost echo and replies of 1 and 3 ms: loss 1/3, p50 1 ms, p95 3 ms,
// jitter 2 ms (the percentiles are exact here: kept within min and max).
TLinkQuality OneThird() {
    TLinkQuality q;
    q.AddReply(1000);
    q.AddLost();
    q.AddReply(3000);
    return q;
}

std::vector<TExportResource> TwoResources() {
    std::vector<TExportResource> r(2);
    r[0].Address = "/mnt/a,b";  // a comma: quoted in CSV
    r[0].Kind = '1';
    r[0].Day[0] = {true, 1234.5, 8, 0};
    r[0].Day[95] = {true, 2, 3, 0};
    r[1].Address = "host \"x\"";
    r[1].Kind = '3';
    r[1].Day[0] = {true, 0, 0, 12.345};
    r[1].Quality[0] = OneThird();
    r[0].Quality[0] = OneThird();  // not a host: never shown
    return r;
}

TEST(TrendExportFormats, CsvHasOneRecordPerSlotResourceAndDirection) {
    const std::string csv = FormatTrendCsv(TwoResources(), 2026y / December / 9d, 0, 1);
    EXPECT_EQ(csv,
              "time,resource,kind,direction,kbps,loss,rtt_p50_ms,rtt_p95_ms,jitter_ms\r\n"
              "2026-12-09T00:15:00,\"/mnt/a,b\",drive,write,8.00,,,,\r\n"
              "2026-12-09T00:15:00,\"/mnt/a,b\",drive,read,1234.50,,,,\r\n"
              "2026-12-09T00:15:00,\"host \"\"x\"\"\",host,ping,12.35,0.3333,1.000,3.000,2.000\r\n");
}

TEST(TrendExportFormats, HostQualityFieldsAreEmptyWhereUnknown) {
    std::vector<TExportResource> r(1);
    r[0].Address = "h";
    r[0].Kind = '3';
    TLinkQuality allLost;
    for (int i = 0; i < 5; ++i) allLost.AddLost();
    TLinkQuality oneReply;
    oneReply.AddReply(412);
    const struct {
        std::optional<TLinkQuality> Quality;
        const char* Csv;
        const char* Json;
    } cases[] = {
        {std::nullopt, "12.00,,,,", R"("kbps": 12.00, "loss": null, "rtt_p50_ms": null, "rtt_p95_ms": null, "jitter_ms": null})"},
        {TLinkQuality{}, "12.00,,,,", R"("kbps": 12.00, "loss": null, "rtt_p50_ms": null, "rtt_p95_ms": null, "jitter_ms": null})"},
        {allLost, "12.00,1.0000,,,", R"("kbps": 12.00, "loss": 1.0000, "rtt_p50_ms": null, "rtt_p95_ms": null, "jitter_ms": null})"},
        {oneReply, "12.00,0.0000,0.412,0.412,", R"("loss": 0.0000, "rtt_p50_ms": 0.412, "rtt_p95_ms": 0.412, "jitter_ms": null})"},
    };
    for (const auto& c : cases) {
        r[0].Day[0] = {true, 0, 0, 12};
        r[0].Quality[0] = c.Quality;
        const std::string csv = FormatTrendCsv(r, 2026y / December / 9d, 0, 1);
        EXPECT_NE(csv.find(std::string(",host,ping,") + c.Csv + "\r\n"), std::string::npos) << csv;
        const std::string json = FormatTrendJson(r, 2026y / December / 9d, 0, 1);
        EXPECT_NE(json.find(c.Json), std::string::npos) << json;
    }
}

TEST(TrendExportFormats, LastSlotEndsAtMidnightOfTheNextDay) {
    const std::string csv = FormatTrendCsv(TwoResources(), 2026y / December / 31d, 95, 96);
    EXPECT_NE(csv.find("2027-01-01T00:00:00,\"/mnt/a,b\",drive,read,2.00,,,,\r\n"), std::string::npos) << csv;
    EXPECT_EQ(csv.find("host,ping"), std::string::npos) << "the host has no record in the last slot";
}

TEST(TrendExportFormats, JsonCarriesTheSameRecords) {
    std::vector<TExportResource> r = TwoResources();
    r.erase(r.begin());
    EXPECT_EQ(FormatTrendJson(r, 2026y / December / 9d, 0, 1),
              "[\n  {\"time\": \"2026-12-09T00:15:00\", \"resource\": \"host \\\"x\\\"\", \"kind\": \"host\", "
              "\"direction\": \"ping\", \"kbps\": 12.35, \"loss\": 0.3333, \"rtt_p50_ms\": 1.000, "
              "\"rtt_p95_ms\": 3.000, \"jitter_ms\": 2.000}\n]\n");
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
