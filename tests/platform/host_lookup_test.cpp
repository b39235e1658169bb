#include "platform/host_lookup.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <fstream>

namespace tarvik {
namespace {

TEST(HostLookup, DottedFormsAsInetAtonReadsThem) {
    const std::pair<const char*, const char*> valid[] = {
        {"127.0.0.1", "127.0.0.1"}, {"10.258", "10.0.1.2"},
        {"0x7f.1", "127.0.0.1"},    {"2130706433", "127.0.0.1"},
        {"010.0.0.1", "8.0.0.1"},   {"255.255.255.255", "255.255.255.255"},
    };
    for (const auto& [text, dotted] : valid) {
        const auto a = ParseDottedAddress(text);
        ASSERT_TRUE(a) << text;
        EXPECT_EQ(DottedText(*a), dotted) << text;
    }
    for (const char* text : {"", "host", "1.2.3.4.5", "256.1.1.1", "1..2", "www.example.com"})
        EXPECT_FALSE(ParseDottedAddress(text)) << text;
}

TEST(HostLookup, ErrorsMapOntoTheProgramsCodes) {
    const std::pair<int, std::int32_t> cases[] = {
        {0, 0},
        {EAI_NONAME, 11001},
        {EAI_AGAIN, 11002},
        {EAI_FAIL, 11003},
        {EAI_NODATA, 11004},
        {EAI_ADDRFAMILY, 11004},
        {EAI_MEMORY, 10055},
        {EAI_SERVICE, 11003},
        {EAI_SYSTEM, 11003},
    };
    for (const auto& [gai, code] : cases) EXPECT_EQ(LookupErrorCode(gai), code) << gai;
}

TEST(HostLookup, NameFromTheHostsFile) {
    // Only a name the hosts file holds: no query may leave the machine.
    std::ifstream hosts("/etc/hosts");
    std::string line;
    bool listed = false;
    while (std::getline(hosts, line))
        if (line.rfind("127.0.0.1", 0) == 0 && line.find("localhost") != std::string::npos)
            listed = true;
    if (!listed) GTEST_SKIP() << "/etc/hosts does not map localhost to 127.0.0.1";
    const THostAddress r = LookUpHostName("localhost");
    EXPECT_EQ(r.Error, 0);
    EXPECT_EQ(DottedText(r.Address), "127.0.0.1");
}

}  // namespace
}  // namespace tarvik
