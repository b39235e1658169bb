#include "monitor/metrics.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tarvik {
namespace {

std::vector<std::string> SampleLines(const std::string& page) {
    std::vector<std::string> out;
    std::istringstream in(page);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') out.push_back(line);
    return out;
}

TEST(Metrics, LabelValuesAreEscaped) {
    const struct {
        std::string In, Out;
    } cases[] = {
        {"plain", "plain"},
        {R"(C:\share)", R"(C:\\share)"},
        {"say \"hi\"", R"(say \"hi\")"},
        {"two\nlines", R"(two\nlines)"},
        {"tab\tstays", "tab\tstays"},
        {"Ünïcödé", "Ünïcödé"},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeLabelValue(c.In), c.Out) << c.In;
}

TEST(Metrics, EachKindExposesItsMeasuredDirections) {
    std::vector<TMetricRow> rows(4);
    rows[0] = {"/mnt/share", '1', 100.5, 200.25, 0, true, 7, -1, {}};
    rows[1] = {"/mnt/cd/file", '2', 0, 300, 0, false, 2, -1, {}};
    rows[2] = {"host \"a\"", '3', 0, 0, 12.5, true, 9, 0.000125, {}};
    rows[3] = {"odd", 'x', 1, 1, 1, true, 1, -1, {}};  // not a measured kind: left out
    const std::vector<std::string> expected = {
        R"(tarvik_speed_kbps{resource="/mnt/share",kind="drive",direction="write"} 100.5)",
        R"(tarvik_speed_kbps{resource="/mnt/share",kind="drive",direction="read"} 200.25)",
        R"(tarvik_speed_kbps{resource="/mnt/cd/file",kind="file",direction="read"} 300)",
        R"(tarvik_speed_kbps{resource="host \"a\"",kind="host",direction="ping"} 12.5)",
        R"(tarvik_probe_up{resource="/mnt/share",kind="drive"} 1)",
        R"(tarvik_probe_up{resource="/mnt/cd/file",kind="file"} 0)",
        R"(tarvik_probe_up{resource="host \"a\"",kind="host"} 1)",
        R"(tarvik_cycles_total{resource="/mnt/share",kind="drive"} 7)",
        R"(tarvik_cycles_total{resource="/mnt/cd/file",kind="file"} 2)",
        R"(tarvik_cycles_total{resource="host \"a\"",kind="host"} 9)",
        R"(tarvik_echo_sent_total{resource="host \"a\""} 0)",
        R"(tarvik_echo_lost_total{resource="host \"a\""} 0)",
        R"(tarvik_rtt_last_seconds{resource="host \"a\""} 0.000125)",
        R"(tarvik_build_info{version="1.2.3"} 1)",
    };
    std::vector<std::string> lines = SampleLines(FormatMetrics(rows, "1.2.3"));
    // The histogram has a test of its own.
    std::erase_if(lines, [](const std::string& l) { return l.starts_with("tarvik_rtt_seconds_"); });
    EXPECT_EQ(lines, expected);
}

TEST(Metrics, EveryFamilyHasOneHelpAndTypeLineBeforeItsSamples) {
    const std::string page = FormatMetrics({{"h", '3', 0, 0, 1, true, 1, 0.001, {}}}, "v");
    const struct {
        const char* Name;
        const char* Type;
    } families[] = {{"tarvik_speed_kbps", "gauge"},
                    {"tarvik_probe_up", "gauge"},
                    {"tarvik_cycles_total", "counter"},
                    {"tarvik_echo_sent_total", "counter"},
                    {"tarvik_echo_lost_total", "counter"},
                    {"tarvik_rtt_last_seconds", "gauge"},
                    {"tarvik_rtt_seconds", "histogram"},
                    {"tarvik_build_info", "gauge"}};
    for (const auto& f : families) {
        const std::string help = std::string("# HELP ") + f.Name + " ";
        const std::string type = std::string("# TYPE ") + f.Name + " " + f.Type + "\n";
        const std::string first = std::string(f.Type) == "histogram" ? "_bucket{" : "{";
        const auto h = page.find(help), t = page.find(type), sample = page.find(std::string("\n") + f.Name + first);
        ASSERT_NE(sample, std::string::npos) << f.Name;
        ASSERT_NE(h, std::string::npos) << f.Name;
        ASSERT_NE(t, std::string::npos) << f.Name;
        EXPECT_EQ(page.find(help, h + 1), std::string::npos) << f.Name;
        EXPECT_LT(h, t);
        EXPECT_LT(t, sample) << f.Name;
    }
    EXPECT_EQ(page.back(), '\n');
}

TEST(Metrics, NoRoundTripYetAndSpecialValues) {
    const std::string page = FormatMetrics({{"h", '3', 0, 0, 1.0 / 0.0, false, 0, -1, {}}}, "v");
    EXPECT_EQ(page.find("tarvik_rtt_last_seconds{"), std::string::npos);
    EXPECT_NE(page.find("direction=\"ping\"} +Inf\n"), std::string::npos);
}

TEST(Metrics, RoundTripHistogramIsCumulativeOnTheQualityBuckets) {
    TMetricRow row{"h", '3', 0, 0, 1, true, 5, 0.004, {}};
    // 5 µs (first bucket), 8 µs (first bound, inclusive), 4 ms twice, one
    // above the last bound, two lost.
    for (const double us : {5.0, 8.0, 4000.0, 4000.0, 1e8}) row.Echoes.AddReply(us);
    row.Echoes.AddLost();
    row.Echoes.AddLost();
    const std::string page = FormatMetrics({row}, "v");
    std::vector<std::string> buckets;
    for (const std::string& l : SampleLines(page))
        if (l.starts_with("tarvik_rtt_seconds_bucket")) buckets.push_back(l);
    ASSERT_EQ(buckets.size(), kRttBucketBounds + 1);
    EXPECT_EQ(buckets.front(), R"(tarvik_rtt_seconds_bucket{resource="h",le="8e-06"} 2)");
    EXPECT_EQ(buckets[36], R"(tarvik_rtt_seconds_bucket{resource="h",le="0.004096"} 4)");  // 2^12 µs
    EXPECT_EQ(buckets[35].substr(buckets[35].size() - 2), " 2");
    EXPECT_EQ(buckets[kRttBucketBounds - 1], R"(tarvik_rtt_seconds_bucket{resource="h",le="67.108864"} 4)");
    EXPECT_EQ(buckets.back(), R"(tarvik_rtt_seconds_bucket{resource="h",le="+Inf"} 5)");
    EXPECT_NE(page.find("\ntarvik_rtt_seconds_count{resource=\"h\"} 5\n"), std::string::npos);
    const auto sum = page.find("\ntarvik_rtt_seconds_sum{resource=\"h\"} ");
    ASSERT_NE(sum, std::string::npos);
    EXPECT_NEAR(std::stod(page.substr(sum + 38)), 100.008013, 1e-9);
    EXPECT_NE(page.find("\ntarvik_echo_sent_total{resource=\"h\"} 7\n"), std::string::npos);
    EXPECT_NE(page.find("\ntarvik_echo_lost_total{resource=\"h\"} 2\n"), std::string::npos);
}

}  // namespace
}  // namespace tarvik
