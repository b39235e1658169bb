#include "setup/wizard_rules.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace tarvik {
namespace {

TChannelRandom Sequence(std::vector<int> values) {
    auto i = std::make_shared<std::size_t>(0);
    return [values, i] { return values[(*i)++ % values.size()]; };
}

TResourceTable TableWithReadColours(const std::vector<std::string>& colours) {
    TResourceTable t;
    for (const auto& c : colours) t.SetCell(colReadColor, t.AddRow(), c);
    return t;
}

TEST(WizardColours, FirstFreeColoursInOrderComparedAsValues) {
    const auto never = Sequence({0});
    struct TCase {
        std::vector<std::string> Used;
        TColor Read, Write;
    };
    const TCase cases[] = {
        {{}, 0x00FF00, 0x00FFFF},                       // lime, yellow
        {{"clLime"}, 0x00FFFF, 0xFFFF00},               // yellow, aqua
        {{"$0000FF00", "clAqua"}, 0x00FFFF, 0xFF00FF},  // hex lime counts as lime
        {{"clYellow", "garbage", "clRed"}, 0x00FF00, 0xFFFF00},
    };
    for (const auto& c : cases) {
        const TCurveColours got = ChooseWizardColours(TableWithReadColours(c.Used), never);
        EXPECT_EQ(got.Read, c.Read) << c.Used.size();
        EXPECT_EQ(got.Write, c.Write) << c.Used.size();
    }
    // The write column counts too.
    TResourceTable t;
    t.SetCell(colWriteColor, t.AddRow(), "clLime");
    EXPECT_EQ(ChooseWizardColours(t, never).Read, 0x00FFFFu);
}

TEST(WizardColours, AllNineUsedGiveDistinctRandomLightColours) {
    const TResourceTable all =
        TableWithReadColours({"clLime", "clYellow", "clAqua", "clFuchsia", "clBlue", "clPurple",
                              "clRed", "clSilver", "clWhite"});
    const auto light = [](TColor c) {
        for (int shift : {0, 8, 16})
            if (((c >> shift) & 0xFF) < 128 || ((c >> shift) & 0xFF) > 254) return false;
        return true;
    };
    // The source repeats itself at first: the read colour is drawn again until it differs.
    const TCurveColours c =
        ChooseWizardColours(all, Sequence({1, 2, 3, 1, 2, 3, 1, 2, 3, 9, 9, 9}));
    EXPECT_EQ(c.Write, 0x838281u);
    EXPECT_EQ(c.Read, 0x898989u);
    const TCurveColours r = ChooseWizardColours(all, SystemChannelRandom());
    EXPECT_TRUE(light(r.Read) && light(r.Write));
    EXPECT_NE(r.Read, r.Write);
    // Eight used: the last free colour is Read, Write is random and never equal to it.
    const TResourceTable eight = TableWithReadColours(
        {"clLime", "clYellow", "clAqua", "clFuchsia", "clBlue", "clPurple", "clRed", "clWhite"});
    const TCurveColours s = ChooseWizardColours(eight, Sequence({64, 64, 64, 0, 0, 0}));
    EXPECT_EQ(s.Read, 0xC0C0C0u);   // silver
    EXPECT_EQ(s.Write, 0x808080u);  // the silver draw was refused
}

TEST(WizardChecks, HostCandidates) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://www.example.com/dir/page.html", "www.example.com"},
        {"ftp.example.org/pub", "pub"},
        {"http://", ""},
        {"https:///host", "host"},
        {"host/", ""},
        {"/", ""},
    };
    for (const auto& [path, host] : cases) EXPECT_EQ(HostCandidate(path), host) << path;
    EXPECT_EQ(ReplaceAddressQuestion("http://h/x", "h"),
              "Address:\rhttp://h/x\r\rcan be:\rh\r\rDo you want to replace it?");
}

TEST(WizardChecks, HardDriveMeansTheRootFileSystem) {
    EXPECT_TRUE(IsOnRootFileSystem("/"));
    EXPECT_TRUE(IsOnRootFileSystem("/no/such/dir/below/root"));  // nearest parent: "/"
    struct stat root {
    }, shm{};
    if (::stat("/", &root) != 0 || ::stat("/dev/shm", &shm) != 0 || root.st_dev == shm.st_dev)
        GTEST_SKIP() << "/dev/shm is not a file system of its own here";
    EXPECT_FALSE(IsOnRootFileSystem("/dev/shm"));
    EXPECT_FALSE(IsOnRootFileSystem("/dev/shm/not/made/yet"));
}

TEST(WizardChecks, ReadOnlyFileSizeInWholeKilobytes) {
    const std::string dir = ::testing::TempDir();
    const auto sized = [&](const char* name, off_t size) {
        const std::string path = dir + name;
        const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        return path;
    };
    const TFileSizeCheck small = CheckReadOnlyFile(sized("wiz_small", 5119999));
    EXPECT_TRUE(small.Opened);
    EXPECT_EQ(small.SizeKb, 4999u);
    EXPECT_TRUE(small.Small());
    const TFileSizeCheck big = CheckReadOnlyFile(sized("wiz_big", 5120000));
    EXPECT_EQ(big.SizeKb, 5000u);
    EXPECT_FALSE(big.Small());
    EXPECT_FALSE(CheckReadOnlyFile(dir + "wiz_missing").Opened);
    EXPECT_FALSE(CheckReadOnlyFile(dir).Opened);  // a directory is no file
    EXPECT_EQ(SmallFileQuestion(4999).substr(0, 31), "The file has size 4999 KB.\r\rFor");
}

TEST(WizardRow, AddWritesEveryCellOfANewRowAndEditKeepsTheSpeeds) {
    TWizardValues v;
    v.Kind = '1';
    v.Path = "/mnt/share";
    v.WriteColor = 0x00FFFF;
    v.ReadColor = 0x123456;
    v.PingDelay = "2000";
    v.DefAuto = false;
    v.SizeOfPacket = "4096";
    v.TimeOut = "500";
    v.MinSpeed = "1.5";
    v.MaxSpeed = "90";
    v.PerformMaxSpeed = true;
    v.MinEvent.RunFileName = "xterm";
    v.MaxEvent.WinTitle = "Dialer";
    v.MaxEvent.ActionKind = "2";
    TResourceTable t;
    const int row = t.AddRow();
    for (int col = 0; col < TResourceTable::ColCount; ++col) t.SetCell(col, row, "old");
    WriteResourceRow(t, row, v, false);
    EXPECT_EQ(t.Cell(colReadText, row), "old");  // edit keeps the shown speeds
    EXPECT_EQ(t.Cell(0, row), "old");
    WriteResourceRow(t, row, v, true);
    const std::pair<int, const char*> cells[] = {
        {0, "old"},      {1, "/mnt/share"}, {2, ""},     {3, ""},        {4, ""},      {5, "1"},
        {6, "clYellow"}, {7, "$00123456"},  {8, "2000"}, {9, "0"},       {10, "4096"}, {11, "500"},
        {12, "1.5"},     {13, "90"},        {14, ""},    {16, "xterm"},  {18, "2"},    {22, "1"},
        {23, "3"},       {26, "0"},         {27, "1"},   {28, ""},       {29, ""},     {30, ""},
        {31, "1"},       {32, "1"},         {33, ""},    {37, "Dialer"},
    };
    for (const auto& [col, text] : cells) EXPECT_EQ(t.Cell(col, row), text) << "column " << col;

    TWizardValues back;
    LoadResourceRow(t, row, back);
    EXPECT_EQ(back.Kind, '1');
    EXPECT_EQ(back.ReadColor, 0x123456u);
    EXPECT_FALSE(back.DefAuto);
    EXPECT_TRUE(back.PerformMaxSpeed);
    EXPECT_EQ(back.MinEvent.RunFileName, "xterm");
    EXPECT_EQ(back.MaxEvent.WinTitle, "Dialer");
    // An unknown kind and unreadable colours keep what the wizard shows.
    t.SetCell(colKind, row, "9");
    t.SetCell(colReadColor, row, "nonsense");
    TWizardValues keep;
    LoadResourceRow(t, row, keep);
    EXPECT_EQ(keep.Kind, '3');
    EXPECT_EQ(keep.ReadColor, 0x00FF00u);
}

TEST(WizardEvents, OnlyTheFourActionTextsSwitchTheEventOn) {
    TSpeedEvent e = TWizardValues::WizardEventStart();
    EXPECT_FALSE(EventHasAction(e));
    e.RunDirectory = "/tmp";
    e.ActionKind = "1";
    EXPECT_FALSE(EventHasAction(e));
    for (std::string TSpeedEvent::*field : {&TSpeedEvent::PlayFileName, &TSpeedEvent::RunFileName,
                                            &TSpeedEvent::CloseFileName, &TSpeedEvent::WinTitle}) {
        TSpeedEvent f = e;
        f.*field = "x";
        EXPECT_TRUE(EventHasAction(f));
    }
}

TEST(WizardDialTable, OneEmptyRowStaysAtTheEnd) {
    std::vector<TConnectWindowsRow> rows{
        {"Dialog Box Title", "Button To Push"}, {"Connect To", "Connect"}, {}};
    DialTableTyped(rows, 1);  // not the last row
    EXPECT_EQ(rows.size(), 3u);
    rows[2][0] = "Redial";
    DialTableTyped(rows, 2);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_FALSE(DialTableSelected(rows));  // second-to-last has a title
    rows[2][0].clear();
    EXPECT_TRUE(DialTableSelected(rows));
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_FALSE(DialTableSelected(rows));  // three rows: nothing removed
}

}  // namespace
}  // namespace tarvik
