#include "setup/config_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

const char* const ReadError = "An ERROR occured during reading parameters file\r";
const char* const WriteError = "An ERROR occurred during writing parameters file\r";

// A temporary program directory holding QUORBELT.INI.
class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarvik-cfg-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        Path = Dir + "/QUORBELT.INI";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    void Put(const std::string& text) const { std::ofstream(Path, std::ios::binary) << text; }
    std::string Get() const {
        std::ifstream in(Path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    TIniFile Ini() const {
        TIniFile ini;
        ini.Load(Path);
        return ini;
    }
    // Loads Path with hooks that log what the load asked the window to do.
    bool Load(bool firstRun = false) {
        TConfigLoadHooks hooks;
        hooks.RowLoaded = [this](int r) { Log.push_back("row " + std::to_string(r)); };
        hooks.RowsLoaded = [this](int n) { Log.push_back("rows " + std::to_string(n)); };
        hooks.StartMeasuring = [this] { Log.push_back("start"); };
        hooks.ShowReadError = [this](const std::string& text) { Log.push_back(text); };
        return ReadParametersFile(Path, firstRun, Table, Settings, hooks);
    }

    std::string Dir, Path;
    TResourceTable Table;
    TWindowSettings Settings;
    std::vector<std::string> Log;
};

const std::string Valid = "[Main]\nSign=Network speed\n";

TEST_F(ConfigFile, MissingFileTakesTheFirstStartPath) {
    for (bool firstRun : {true, false}) {
        Settings = {};
        Log.clear();
        Settings.Trend = true;
        EXPECT_FALSE(Load(firstRun));
        if (firstRun)
            EXPECT_TRUE(Log.empty());
        else
            EXPECT_EQ(Log, std::vector<std::string>{ReadError + Path});
        EXPECT_TRUE(Settings.FirstStart);
        EXPECT_FALSE(Settings.Trend);
        const std::vector<TConnectWindowsRow> dialogs = {{"", ""},
                                                         {"Connect To", "Connect"},
                                                         {"Dial-Up Networking", "OK"},
                                                         {"Reestablish Connection", "Reconnect"}};
        EXPECT_EQ(Settings.ConnectWindowsTable, dialogs);
        EXPECT_EQ(Settings.MainFont.Color, 0x80000012u);
        EXPECT_EQ(Settings.GridFont.Color, 0x80000012u);
        EXPECT_EQ(Settings.EditLineFont.Color, clLime);
        EXPECT_EQ(Table.RowCount(), 1);
    }
}

// A signature that is not exactly "Network speed" invalidates the whole
// file: no further key is read.
TEST_F(ConfigFile, SignatureIsCaseSensitive) {
    Put("[Main]\nSign=network speed\n[Objects]\nNumber=1\nObject11=host\n[Position]\nLeft=77\n");
    Settings.Left = 5;
    EXPECT_FALSE(Load(false));
    EXPECT_EQ(Log, std::vector<std::string>{ReadError + Path});
    EXPECT_EQ(Table.RowCount(), 1);
    EXPECT_EQ(Settings.Left, 5);
    EXPECT_TRUE(Settings.FirstStart);
}

TEST_F(ConfigFile, ScaleRule) {
    const std::pair<std::optional<std::string>, double> cases[] = {
        {"0", 1000},
        {"abc", 1000},
        {std::nullopt, 1000},
        {"", 1000},
        {"250000", 100000},
        {"-5", -5},
        {" 1.50000000000000E+0003", 1500},
        {"12abc", 12},
        {"  -2.5e1x", -25},
        {".5", 0.5},
        {"nan", 1000},
        {"inf", 1000},
        {"1e400", 100000},
        {"1e-400", 1000},
    };
    for (const auto& [text, expected] : cases) {
        Put(Valid + "[Scale]\n" + (text ? "Scale=" + *text + "\nTrendScale=" + *text : ""));
        ASSERT_TRUE(Load());
        EXPECT_EQ(Settings.Scale, expected) << text.value_or("(missing)");
        EXPECT_EQ(Settings.TrendScale, expected) << text.value_or("(missing)");
    }
}

TEST_F(ConfigFile, IntegerForms) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"10", 10},
        {"-7", -7},
        {"+3", 3},
        {"0x1F", 31},
        {"0X1f", 31},
        {"$FF", 255},
        {"$FFFFFFFF", -1},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"0x", std::nullopt},
        {"12a", std::nullopt},
        {"", std::nullopt},
        {"1.0", std::nullopt},
        {"x10", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(ParseConfigInt(text), expected) << text;

    // An unparsable value keeps the current one; booleans are integers.
    Put(Valid + "[Position]\nLeft=0x10\nTop=abc\n[Buttons]\nHGrdBtn=0\nVGrdBtn=junk\nTrend=2\n");
    Settings.Top = 33;
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.Left, 16);
    EXPECT_EQ(Settings.Top, 33);
    EXPECT_FALSE(Settings.HGrdBtn);
    EXPECT_TRUE(Settings.VGrdBtn);
    EXPECT_TRUE(Settings.Trend);
}

TEST_F(ConfigFile, RealFormat) {
    const std::pair<double, const char*> cases[] = {
        {1000, " 1.00000000000000E+0003"},       {2, " 2.00000000000000E+0000"},
        {-5, "-5.00000000000000E+0000"},         {0, " 0.00000000000000E+0000"},
        {-0.0, " 0.00000000000000E+0000"},       {0.001, " 1.00000000000000E-0003"},
        {123456.789, " 1.23456789000000E+0005"}, {1e300, " 1.00000000000000E+0300"},
        {-2.5e-300, "-2.50000000000000E-0300"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(FormatConfigReal(value), text);
        EXPECT_EQ(std::string(text).size(), 23u);
        EXPECT_EQ(ParseConfigReal(text), value) << text;
    }
    EXPECT_EQ(FormatConfigReal(NAN), " 0.00000000000000E+0000");
}

// Numbers use a point whatever the process locale says. Only the C locale
// is switched: the conversions use neither iostreams nor std::locale, and a
// named std::locale keeps a cache that LeakSanitizer reports.
TEST_F(ConfigFile, NumbersIgnoreTheLocale) {
    const char* comma = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE"})
        if (std::setlocale(LC_ALL, name)) {
            comma = name;
            break;
        }
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma is installed";
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.1f", 1.5);
    EXPECT_STREQ(printed, "1,5");  // the C library now writes a comma
    EXPECT_EQ(FormatConfigReal(1500.25), " 1.50025000000000E+0003");
    EXPECT_EQ(ParseConfigReal("1.5"), 1.5);
    Settings.Scale = 1234.5;
    const auto written = WriteParametersFile(Path, Table, Settings);
    Settings.Scale = 0;
    const bool loaded = Load();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(written, std::nullopt);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(Settings.Scale, 1234.5);
}

TEST_F(ConfigFile, ButtonsWindowAndDialUp) {
    Put(Valid +
        "[Position]\nLeft=-20\nTop=300\n"
        "[Buttons]\nPing objects=0\nTrend=1\nHGrdBtn=0\nVGrdBtn=0\nHTrendGrdBtn=0\n"
        "VTrendGrdBtn=0\nShrinked=1\nStayOnTop=1\n"
        "[Resource Window]\nColWidth 1=11\nColWidth 3=33\nColWidth 5=55\n"
        "[Dial_Up]\nEnabled=1\nInterval=5000\nNumber=3\nDialog1=Connect To\nButton1=Connect\n"
        "Dialog2=Verbinden\nDialog3=beyond Number\n"
        "[Trend]\nEnabled=0\n[Misc]\nUserKnownCDFileSize=1\n");
    Settings.ConnectWindowsTable = {{"Title", "Button"}, {"a", "b"}, {"c", "kept"}};
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.Left, -20);
    EXPECT_EQ(Settings.Top, 300);
    EXPECT_FALSE(Settings.PingObjects);
    EXPECT_TRUE(Settings.Trend);
    EXPECT_FALSE(Settings.HGrdBtn || Settings.VGrdBtn || Settings.HTrendGrdBtn ||
                 Settings.VTrendGrdBtn);
    EXPECT_TRUE(Settings.Shrinked);
    EXPECT_TRUE(Settings.StayOnTopSetting);
    EXPECT_FALSE(Settings.StayOnTopDown);
    EXPECT_EQ(Settings.ColWidths, (std::array<int, 5>{11, 101, 33, 77, 55}));
    EXPECT_TRUE(Settings.DialUpEnabled);
    EXPECT_EQ(Settings.DialUpInterval, 5000);
    const std::vector<TConnectWindowsRow> dialogs = {
        {"Title", "Button"}, {"Connect To", "Connect"}, {"Verbinden", "kept"}};
    EXPECT_EQ(Settings.ConnectWindowsTable, dialogs);
    EXPECT_FALSE(Settings.TrendEnabled);
    EXPECT_TRUE(Settings.UserKnownCDFileSize);
    EXPECT_FALSE(Settings.FirstStart);
    EXPECT_EQ(Log, (std::vector<std::string>{"rows 1"}));
}

TEST_F(ConfigFile, DialUpTableKeepsTwoRowsAtLeast) {
    for (const char* number : {"0", "1", "-3"}) {
        Put(Valid + "[Dial_Up]\nNumber=" + number + "\nDialog1=ignored\nButton1=ignored\n");
        Settings.ConnectWindowsTable = {{"Title", "Button"}, {"Connect To", "Connect"}};
        ASSERT_TRUE(Load());
        const std::vector<TConnectWindowsRow> dialogs = {{"Title", "Button"}, {"", ""}};
        EXPECT_EQ(Settings.ConnectWindowsTable, dialogs) << number;
    }
}

TEST_F(ConfigFile, Fonts) {
    Put(Valid +
        "[Fonts]\nDialog Text Font Name=DejaVu Sans\nDialog Text Font Size=10\n"
        "Dialog Text Font Bold=0\nDialog Text Font Italic=1\nDialog Text Font Color=clRed\n"
        "Dialog Text Font Charset=0\n"
        "String Grid Text Font Color=$00123456\nString Grid Text Font Charset=300\n"
        "Edit Line Font Color=no colour\nEdit Line Font Bold=junk\nEdit Line Font Charset=0x10\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.MainFont, (TFontSetting{"DejaVu Sans", 10, false, true, 0x0000FF, 0}));
    EXPECT_EQ(Settings.GridFont, (TFontSetting{"Sans Serif", 8, true, false, 0x123456, 204}));
    EXPECT_EQ(Settings.EditLineFont, (TFontSetting{"Sans Serif", 8, true, false, clLime, 16}));
}

// Measuring starts right after "Ping objects" is read: the position is in
// place, the dial-up and font settings are not read yet.
TEST_F(ConfigFile, MeasuringStartsBeforeLaterSettingsAreRead) {
    Put(Valid +
        "[Objects]\nNumber=2\nObject11=/mnt/a\nObject21=host\n"
        "[Position]\nLeft=40\n[Buttons]\nPing objects=1\nTrend=1\n"
        "[Dial_Up]\nEnabled=1\n[Fonts]\nDialog Text Font Name=Other\n");
    TWindowSettings atStart;
    TConfigLoadHooks hooks;
    std::vector<std::string> order;
    hooks.RowLoaded = [&](int r) { order.push_back("row " + std::to_string(r)); };
    hooks.RowsLoaded = [&](int) { order.push_back("rows"); };
    hooks.PositionLoaded = [&](int left, int) { order.push_back("move " + std::to_string(left)); };
    hooks.StartMeasuring = [&] {
        order.push_back("start");
        atStart = Settings;
    };
    ASSERT_TRUE(ReadParametersFile(Path, false, Table, Settings, hooks));
    EXPECT_EQ(order, (std::vector<std::string>{"row 1", "row 2", "rows", "move 40", "start"}));
    EXPECT_EQ(atStart.Left, 40);
    EXPECT_TRUE(atStart.PingObjects);
    EXPECT_FALSE(atStart.Trend);
    EXPECT_FALSE(atStart.DialUpEnabled);
    EXPECT_EQ(atStart.MainFont.Name, "Sans Serif");
    EXPECT_TRUE(Settings.DialUpEnabled);
    EXPECT_EQ(Settings.MainFont.Name, "Other");
}

// Number decides how many rows are read; keys of further rows are ignored,
// and they stay in the file when it is rewritten, as do foreign lines.
TEST_F(ConfigFile, RowsBeyondNumberAreIgnoredAndKept) {
    std::string text = "; written by hand\n" + Valid + "[Objects]\nNumber=2\n";
    for (int r = 1; r <= 5; ++r)
        for (int c : {1, 5, 28, 29, 30, 33})
            text += "Object" + std::to_string(r) + std::to_string(c) + "=r" + std::to_string(r) +
                    "c" + std::to_string(c) + "\n";
    Put(text + "[Extra]\nforeign=1\n");
    ASSERT_TRUE(Load());
    ASSERT_EQ(Table.RowCount(), 3);
    EXPECT_EQ(Table.Cell(colAddress, 2), "r2c1");
    EXPECT_EQ(Table.Cell(colKind, 1), "r1c5");
    for (int c : {28, 29, 30, 33}) EXPECT_EQ(Table.Cell(c, 1), "") << c;  // run-time state
    EXPECT_EQ(Log, (std::vector<std::string>{"row 1", "row 2", "rows 3"}));

    // Delete row 1 and close: Number drops, the old last row's keys remain.
    Table.DeleteRow(1);
    ASSERT_EQ(WriteParametersFile(Path, Table, Settings), std::nullopt);
    const TIniFile ini = Ini();
    EXPECT_EQ(ini.Read("Objects", "Number"), "1");
    EXPECT_EQ(ini.Read("Objects", "Object11"), "r2c1");
    EXPECT_EQ(ini.Read("Objects", "Object21"), "r2c1");
    EXPECT_EQ(ini.Read("Objects", "Object51"), "r5c1");
    EXPECT_EQ(ini.Read("Extra", "foreign"), "1");
    EXPECT_EQ(Get().rfind("; written by hand\n[Main]\nSign=Network speed\n", 0), 0u);

    TResourceTable again;
    TWindowSettings s;
    ASSERT_TRUE(ReadParametersFile(Path, false, again, s));
    EXPECT_EQ(again.RowCount(), 2);
}

TResourceTable SampleTable(int resources) {
    TResourceTable t;
    t.SetRowCount(resources + 1);
    for (int r = 1; r <= resources; ++r)
        for (int c = 0; c < TResourceTable::ColCount; ++c)
            if (c != 0 && c != 28 && c != 29 && c != 30 && c != 33)
                t.SetCell(c, r, "r" + std::to_string(r) + "c" + std::to_string(c));
    return t;
}

TEST_F(ConfigFile, FullRoundTrip) {
    TResourceTable table = SampleTable(3);
    table.SetCell(colWriteText, 1, "   123.45 KBps");  // display texts are right-aligned
    table.SetCell(colAddress, 2, "\"quoted\"");
    table.SetCell(colAddress, 3, "/mnt/\xC3\xA9t\xC3\xA9 dir ");
    table.SetCell(colMinWinTitle, 3, "");
    TWindowSettings s;
    s.Left = 12;
    s.Top = -3;
    s.PingObjects = true;
    s.Trend = true;
    s.HGrdBtn = false;
    s.VTrendGrdBtn = false;
    s.Shrinked = true;
    s.StayOnTopDown = true;
    s.ColWidths = {1, 2, 3, 4, 5};
    s.Scale = 1234.5;
    s.TrendScale = -7;
    s.DialUpEnabled = true;
    s.DialUpInterval = 0;
    s.ConnectWindowsTable = {{"", ""}, {"Connect To", "Connect"}, {" padded ", "'x'"}, {"", ""}};
    s.MainFont = {"DejaVu Serif", 11, false, true, 0x00ABCDEF, 0};
    s.GridFont = {"Sans Serif", 9, true, true, clBtnText, 204};
    s.EditLineFont = {"Mono", 7, false, false, clLime, 238};
    s.TrendEnabled = false;
    s.UserKnownCDFileSize = true;
    ASSERT_EQ(WriteParametersFile(Path, table, s), std::nullopt);
    const std::string first = Get();
    EXPECT_EQ(first.rfind("[Main]\nSign=Network speed\n\n[Objects]\nNumber=3\nObject10=\n"
                          "Object11=r1c1\nObject12=\"   123.45 KBps\"\n",
                          0),
              0u);
    // Sections appear in the program's own order.
    std::size_t at = 0;
    for (const char* section : {"[Objects]", "[Position]", "[Buttons]", "[Resource Window]",
                                "[Scale]", "[Dial_Up]", "[Fonts]", "[Trend]", "[Misc]"}) {
        const auto found = first.find(section, at);
        ASSERT_NE(found, std::string::npos) << section;
        at = found;
    }
    EXPECT_NE(first.find("Scale= 1.23450000000000E+0003\nTrendScale=-7.00000000000000E+0000\n"),
              std::string::npos);
    EXPECT_NE(first.find("Dialog Text Font Name=DejaVu Serif\nDialog Text Font Size=11\n"
                         "Dialog Text Font Bold=0\nDialog Text Font Italic=1\n"
                         "Dialog Text Font Color=$00ABCDEF\nDialog Text Font Charset=0\n"),
              std::string::npos);
    EXPECT_NE(first.find("String Grid Text Font Color=clBtnText\n"), std::string::npos);
    EXPECT_NE(first.find("Ping objects=1\nTrend=1\nHGrdBtn=0\nVGrdBtn=1\nHTrendGrdBtn=1\n"
                         "VTrendGrdBtn=0\nShrinked=1\nStayOnTop=1\n"),
              std::string::npos);

    TResourceTable backTable;
    TWindowSettings back;
    ASSERT_TRUE(ReadParametersFile(Path, false, backTable, back));
    ASSERT_EQ(backTable.RowCount(), 4);
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(backTable.Row(r), table.Row(r)) << r;
    EXPECT_TRUE(back.StayOnTopSetting);
    back.StayOnTopDown = true;
    back.StayOnTopSetting = false;
    EXPECT_EQ(back.Left, s.Left);
    EXPECT_EQ(back.Top, s.Top);
    EXPECT_EQ(back.ColWidths, s.ColWidths);
    EXPECT_EQ(back.Scale, s.Scale);
    EXPECT_EQ(back.TrendScale, s.TrendScale);
    EXPECT_EQ(back.ConnectWindowsTable, s.ConnectWindowsTable);
    EXPECT_EQ(back.MainFont, s.MainFont);
    EXPECT_EQ(back.GridFont, s.GridFont);
    EXPECT_EQ(back.EditLineFont, s.EditLineFont);
    EXPECT_EQ(std::tie(back.PingObjects, back.Trend, back.HGrdBtn, back.VGrdBtn, back.HTrendGrdBtn,
                       back.VTrendGrdBtn, back.Shrinked, back.DialUpEnabled, back.DialUpInterval,
                       back.TrendEnabled, back.UserKnownCDFileSize),
              std::tie(s.PingObjects, s.Trend, s.HGrdBtn, s.VGrdBtn, s.HTrendGrdBtn, s.VTrendGrdBtn,
                       s.Shrinked, s.DialUpEnabled, s.DialUpInterval, s.TrendEnabled,
                       s.UserKnownCDFileSize));

    // Saving what was loaded changes nothing.
    ASSERT_EQ(WriteParametersFile(Path, backTable, back), std::nullopt);
    EXPECT_EQ(Get(), first);
}

// Rows 1 to 10 keep the short keys; from row 11 on the short form is
// ambiguous ("Object110" is row 1 column 10 and row 11 column 0), so those
// rows are written as "Object" + row + "_" + column.
TEST_F(ConfigFile, MoreThanTenResources) {
    const TResourceTable table = SampleTable(12);
    ASSERT_EQ(WriteParametersFile(Path, table, Settings), std::nullopt);
    const TIniFile ini = Ini();
    EXPECT_EQ(ini.Read("Objects", "Object110"), "r1c10");
    EXPECT_EQ(ini.Read("Objects", "Object1037"), "r10c37");
    EXPECT_EQ(ini.Read("Objects", "Object11_1"), "r11c1");
    EXPECT_EQ(ini.Read("Objects", "Object12_37"), "r12c37");
    EXPECT_FALSE(ini.HasKey("Objects", "Object1112"));  // row 11 column 12, short form
    EXPECT_FALSE(ini.HasKey("Objects", "Object1237"));

    ASSERT_TRUE(Load());
    ASSERT_EQ(Table.RowCount(), 13);
    for (int r = 1; r <= 12; ++r) EXPECT_EQ(Table.Row(r), table.Row(r)) << r;
}

// A file from a writer that used the short form for every row: rows
// from 11 on are read from those keys, which hold their last written value.
TEST_F(ConfigFile, ShortKeysFromRowElevenOnAreRead) {
    // Rows 2 to 10 are not in the file: rows 1, 11 and 12 load as 1, 2 and 3.
    Put(Valid +
        "[Objects]\nNumber=12\nObject11=first\nObject1112=r11c12\nObject111=host11\n"
        "object12_1=any letter case\n");
    ASSERT_TRUE(Load());
    ASSERT_EQ(Table.RowCount(), 4);
    EXPECT_EQ(Table.Cell(colAddress, 3), "any letter case");
    EXPECT_EQ(Table.Cell(colAddress, 1), "first");
    EXPECT_EQ(Table.Cell(colAddress, 2), "host11");
    EXPECT_EQ(Table.Cell(colMinThreshold, 2), "r11c12");
    EXPECT_EQ(Table.Cell(colTimeout, 1), "host11");  // the collision the new form avoids
}

// Every cell of a row in the short key form, column 1 holding the address.
std::string ShortFormRow(int r, const std::string& address) {
    std::string keys;
    for (int c = 0; c < TResourceTable::ColCount; ++c)
        keys += "Object" + std::to_string(r) + std::to_string(c) + "=" +
                (c == colAddress ? address : "r" + std::to_string(r) + "c" + std::to_string(c)) +
                "\n";
    return keys;
}

// A damaged Number loads the rows the file holds, in order, and makes none
// it does not hold; saving them writes those rows back and nothing more.
TEST_F(ConfigFile, DamagedNumberLoadsOnlyTheRowsTheFileHolds) {
    // An older writer's twelve rows, all in the short form: a later key
    // that coincides with an earlier one replaces its value.
    TIniFile older;
    for (int r = 1; r <= 12; ++r) {
        TIniFile row;
        row.Parse("[Objects]\n" + ShortFormRow(r, "h" + std::to_string(r)));
        for (const std::string& key : row.KeyNames("Objects"))
            older.WriteString("Objects", key, *row.Read("Objects", key));
    }
    const std::string twelve = older.Text().substr(std::string("[Objects]\n").size());
    const struct {
        const char* What;
        std::string Objects;
        std::vector<std::string> Addresses;
    } cases[] = {
        {"one far key", "Number=10000\nObject10000_1=far\n", {"far"}},
        {"huge Number, two rows",
         "Number=2147483647\n" + ShortFormRow(1, "a") + ShortFormRow(2, "b"),
         {"a", "b"}},
        {"a row missing in between", "Number=3\nObject11=a\nObject31=c\n", {"a", "c"}},
        {"short form beyond row ten",
         "Number=2147483647\n" + twelve,
         {"h1", "h2", "h3", "h4", "h5", "h6", "h7", "h8", "h9", "h10", "h11", "h12"}},
        {"keys no row reads",
         "Number=50\nObject011=x\nObject3_1=y\nObject1_38=z\nObject05=w\n",
         {}},
        {"negative Number", "Number=-5\n" + ShortFormRow(1, "a"), {}},
    };
    for (const auto& c : cases) {
        Log.clear();
        Put(Valid + "[Objects]\n" + c.Objects + "[Dial_Up]\nNumber=99999999\nDialog2=d\n");
        ASSERT_TRUE(Load()) << c.What;
        std::vector<std::string> addresses;
        for (int r = 1; r < Table.RowCount(); ++r) addresses.push_back(Table.Cell(colAddress, r));
        EXPECT_EQ(addresses, c.Addresses) << c.What;
        EXPECT_EQ(Log.size(), c.Addresses.size() + 1) << c.What;  // a thread per row, no more
        EXPECT_EQ(Settings.ConnectWindowsTable.size(), 3u) << c.What;
        EXPECT_EQ(Settings.ConnectWindowsTable[2][0], "d") << c.What;

        ASSERT_EQ(WriteParametersFile(Path, Table, Settings), std::nullopt) << c.What;
        EXPECT_LT(Get().size(), 64u << 10) << c.What;
        TResourceTable again;
        TWindowSettings s;
        ASSERT_TRUE(ReadParametersFile(Path, false, again, s)) << c.What;
        ASSERT_EQ(again.RowCount(), Table.RowCount()) << c.What;
        for (int r = 1; r < Table.RowCount(); ++r) EXPECT_EQ(again.Row(r), Table.Row(r)) << c.What;
        fs::remove(Path);
    }
}

// An editor that saves UTF-8 with a byte-order mark puts it before [Main]:
// the file still loads, and the close writes into its sections, keeping
// the mark, instead of adding a second [Main] with no resources.
TEST_F(ConfigFile, ByteOrderMarkBeforeMainRoundTrips) {
    const std::string bom = "\xEF\xBB\xBF";
    Put(bom +
        "[Main]\r\nSign=Network speed\r\n[Objects]\r\nNumber=1\r\nObject11=host\r\n"
        "[Position]\r\nLeft=77\r\n");
    ASSERT_TRUE(Load(false));
    EXPECT_FALSE(Settings.FirstStart);
    EXPECT_EQ(Log, (std::vector<std::string>{"row 1", "rows 2"}));  // no read error
    ASSERT_EQ(Table.RowCount(), 2);
    EXPECT_EQ(Table.Cell(colAddress, 1), "host");
    EXPECT_EQ(Settings.Left, 77);

    ASSERT_EQ(WriteParametersFile(Path, Table, Settings), std::nullopt);
    const std::string saved = Get();
    EXPECT_EQ(saved.rfind(bom + "[Main]\r\nSign=Network speed\r\n[Objects]\r\nNumber=1\r\n", 0),
              0u);
    EXPECT_EQ(saved.find("[Main]", 4), std::string::npos);
    EXPECT_EQ(saved.find("Number=0"), std::string::npos);

    TResourceTable again;
    TWindowSettings s;
    ASSERT_TRUE(ReadParametersFile(Path, false, again, s));
    ASSERT_EQ(again.RowCount(), 2);
    EXPECT_EQ(again.Cell(colAddress, 1), "host");
    EXPECT_EQ(s.Left, 77);
}

TEST_F(ConfigFile, FailedWriteKeepsTheOldFile) {
    const std::string old = Valid + "[Objects]\nNumber=1\nObject11=old\n";
    Put(old);
    const TResourceTable table = SampleTable(2);
    const auto error = WriteParametersFile(Path, table, Settings, [](TIniFile::TSaveStep step) {
        return step == TIniFile::TSaveStep::Rename;
    });
    EXPECT_EQ(error, WriteError + Path);
    EXPECT_EQ(Get(), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);

    // An existing file that cannot be read is not replaced either.
    const std::string dirPath = Dir + "/sub";
    fs::create_directory(dirPath);
    EXPECT_EQ(WriteParametersFile(dirPath, table, Settings), WriteError + dirPath);
    EXPECT_TRUE(fs::is_directory(dirPath));
    // Nor is a file in a directory that does not exist created.
    const std::string nowhere = Dir + "/none/QUORBELT.INI";
    EXPECT_EQ(WriteParametersFile(nowhere, table, Settings), WriteError + nowhere);
}

}  // namespace
}  // namespace tarvik
