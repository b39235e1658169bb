#include "setup/config_file.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace tarvik {
namespace {

constexpr std::string_view ReadErrorText = "An ERROR occured during reading parameters file\r";
constexpr std::string_view WriteErrorText = "An ERROR occurred during writing parameters file\r";

constexpr std::string_view FontPrefixes[] = {"Dialog Text Font ", "String Grid Text Font ",
                                             "Edit Line Font "};

std::string ColWidthKey(std::size_t k) {
    return std::string("ColWidth ").append(std::to_string(k));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The dialog table a first start offers.
const TConnectWindowsRow DefaultDialogs[] = {
    {"Connect To", "Connect"},
    {"Dial-Up Networking", "OK"},
    {"Reestablish Connection", "Reconnect"},
};

int ReadInt(const TIniFile& ini, std::string_view section, std::string_view key, int def) {
    const auto text = ini.Read(section, key);
    if (!text) return def;
    return ParseConfigInt(*text).value_or(def);
}

bool ReadBool(const TIniFile& ini, std::string_view section, std::string_view key, bool def) {
    return ReadInt(ini, section, key, def ? 1 : 0) != 0;
}

double ReadReal(const TIniFile& ini, std::string_view section, std::string_view key) {
    const auto text = ini.Read(section, key);
    return text ? ParseConfigReal(*text) : 0.0;
}

void ReadFont(const TIniFile& ini, std::string_view prefixIn, TFontSetting& font) {
    const std::string prefix(prefixIn);
    font.Name = ini.ReadString("Fonts", prefix + "Name", font.Name);
    font.Size = ReadInt(ini, "Fonts", prefix + "Size", font.Size);
    font.Bold = ReadBool(ini, "Fonts", prefix + "Bold", font.Bold);
    font.Italic = ReadBool(ini, "Fonts", prefix + "Italic", font.Italic);
    // A colour that is neither an identifier nor a number keeps the current one.
    if (const auto text = ini.Read("Fonts", prefix + "Color"))
        if (const auto color = ColorFromString(*text)) font.Color = *color;
    const int charset = ReadInt(ini, "Fonts", prefix + "Charset", font.Charset);
    if (charset >= 0 && charset <= 255) font.Charset = charset;
}

void WriteInt(TIniFile& ini, std::string_view section, std::string_view key, long long v) {
    ini.WriteString(section, key, std::to_string(v));
}

void WriteBool(TIniFile& ini, std::string_view section, std::string_view key, bool v) {
    ini.WriteString(section, key, v ? "1" : "0");
}

// Texts that a read would change (surrounding blanks, which are trimmed, or
// one pair of enclosing quotes, which is removed) are written in quotes, so
// that every cell reads back exactly as it was.
void WriteText(TIniFile& ini, std::string_view section, std::string_view key, std::string_view v) {
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    const bool quote =
        (!v.empty() && (blank(v.front()) || blank(v.back()))) ||
        (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front());
    if (quote)
        ini.WriteString(section, key, std::string("\"").append(v).append("\""));
    else
        ini.WriteString(section, key, v);
}

void WriteFont(TIniFile& ini, std::string_view prefixIn, const TFontSetting& font) {
    const std::string prefix(prefixIn);
    WriteText(ini, "Fonts", prefix + "Name", font.Name);
    WriteInt(ini, "Fonts", prefix + "Size", font.Size);
    WriteBool(ini, "Fonts", prefix + "Bold", font.Bold);
    WriteBool(ini, "Fonts", prefix + "Italic", font.Italic);
    ini.WriteString("Fonts", prefix + "Color", ColorToString(font.Color));
    WriteInt(ini, "Fonts", prefix + "Charset", font.Charset);
}

// The rows the [Objects] section holds, found in one pass over its key
// names: a row is held when the file has a key that the row's read takes.
// Rows from 11 on are read in the unambiguous form when they have a key of
// it, otherwise from the short form of older writers.
struct TStoredRow {
    int Row = 0;
    bool Unambiguous = false;
};

// A row or column number as the key forms write it: decimal without a
// leading zero; nullopt otherwise or when above `max`.
std::optional<int> KeyNumber(std::string_view digits, int max) {
    if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits.front() == '0'))
        return std::nullopt;
    int v = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v > max) return std::nullopt;
    return v;
}

// The held rows from 1 to maxRow, in ascending order.
std::vector<TStoredRow> ScanStoredRows(const TIniFile& ini, int maxRow) {
    constexpr int lastCol = TResourceTable::ColCount - 1;
    std::vector<TStoredRow> rows;
    for (const std::string& name : ini.KeyNames("Objects")) {
        if (name.size() < 7) continue;
        std::string lower = name.substr(0, 6);
        for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (lower != "object") continue;
        const std::string_view rest = std::string_view(name).substr(6);
        const auto sep = rest.find('_');
        if (sep != std::string_view::npos) {
            // "Object" + row + "_" + column: read for rows from 11 on only.
            const auto row = KeyNumber(rest.substr(0, sep), maxRow);
            if (row && *row > 10 && KeyNumber(rest.substr(sep + 1), lastCol))
                rows.push_back({*row, true});
            continue;
        }
        // "Object" + row + column, the column one or two digits. "Object237"
        // is row 2 column 37 or row 23 column 7; the lowest row it can
        // belong to wins, so that a key of rows 1 to 10 never makes a later
        // row. A real row from 11 on still shows through its columns 10 to
        // 37 ("Object1137" can only be row 11 or 113).
        std::optional<int> lowest;
        for (std::size_t colDigits = 1; colDigits <= 2 && colDigits < rest.size(); ++colDigits) {
            const auto row = KeyNumber(rest.substr(0, rest.size() - colDigits), maxRow);
            if (row && *row >= 1 && KeyNumber(rest.substr(rest.size() - colDigits), lastCol))
                lowest = std::min(lowest.value_or(*row), *row);
        }
        if (lowest) rows.push_back({*lowest, false});
    }
    std::sort(rows.begin(), rows.end(), [](const TStoredRow& a, const TStoredRow& b) {
        return a.Row != b.Row ? a.Row < b.Row : a.Unambiguous > b.Unambiguous;
    });
    // One entry per row; the unambiguous one sorts first and is kept.
    rows.erase(std::unique(rows.begin(), rows.end(),
                           [](const TStoredRow& a, const TStoredRow& b) { return a.Row == b.Row; }),
               rows.end());
    if (rows.size() > static_cast<std::size_t>(MaxConfigRows))
        rows.resize(static_cast<std::size_t>(MaxConfigRows));
    return rows;
}

// Reads the stored row into a row of the resource list.
TResourceTable::TRow ReadResourceRow(const TIniFile& ini, const TStoredRow& stored) {
    TResourceTable::TRow row;
    const int r = stored.Row;
    for (int c = 0; c < TResourceTable::ColCount; ++c)
        row[static_cast<std::size_t>(c)] = ini.ReadString(
            "Objects", stored.Unambiguous ? ObjectKey(r, c) : LegacyObjectKey(r, c), "");
    return row;
}

// The highest r with a "Dialog" + r or "Button" + r key in [Dial_Up].
int HighestStoredDialog(const TIniFile& ini) {
    int highest = 0;
    for (const std::string& name : ini.KeyNames("Dial_Up")) {
        std::string lower = name.substr(0, 6);
        for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (lower != "dialog" && lower != "button") continue;
        if (const auto r = KeyNumber(std::string_view(name).substr(lower.size()), MaxConfigRows))
            highest = std::max(highest, *r);
    }
    return highest;
}

void TakeFirstStartPath(const std::string& path, bool firstRunOnMachine, TWindowSettings& settings,
                        const TConfigLoadHooks& hooks) {
    if (!firstRunOnMachine && hooks.ShowReadError)
        hooks.ShowReadError(std::string(ReadErrorText) + path);
    settings.Trend = false;  // the live chart is shown
    auto& dialogs = settings.ConnectWindowsTable;
    dialogs.resize(4);  // keeps the header row 0
    std::copy(std::begin(DefaultDialogs), std::end(DefaultDialogs), dialogs.begin() + 1);
    settings.MainFont.Color = clBtnText;
    settings.GridFont.Color = clBtnText;
}

}  // namespace

std::string ObjectKey(int row, int col) {
    if (row <= 10) return LegacyObjectKey(row, col);
    return std::string("Object")
        .append(std::to_string(row))
        .append("_")
        .append(std::to_string(col));
}

std::string LegacyObjectKey(int row, int col) {
    return std::string("Object").append(std::to_string(row)).append(std::to_string(col));
}

std::optional<int> ParseConfigInt(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    const auto n = ParseIntegerText(t);
    if (!n) return std::nullopt;
    // Decimal must fit a 32-bit integer; hex may use all 32 bits ("$FFFFFFFF" is -1).
    const std::uint64_t limit = n->Hex ? 0xFFFFFFFFu : (n->Negative ? 0x80000000u : 0x7FFFFFFFu);
    if (n->Magnitude > limit) return std::nullopt;
    auto u = static_cast<std::uint32_t>(n->Magnitude);
    if (n->Negative) u = 0u - u;
    return static_cast<int>(static_cast<std::int32_t>(u));
}

double ParseConfigReal(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    // A number starts with a digit or a point and a digit; "inf" and "nan" are none.
    const bool number =
        !t.empty() && (IsDigit(t[0]) || (t[0] == '.' && t.size() > 1 && IsDigit(t[1])));
    if (!number) return 0.0;
    double v = 0.0;
    const auto [end, ec] =
        std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: tell the two apart by the
        // decimal magnitude of the text.
        const std::string_view num = t.substr(0, static_cast<std::size_t>(end - t.data()));
        const auto ePos = num.find_first_of("eE");
        const std::string_view mant = num.substr(0, ePos);
        long long magnitude = 0;
        const auto firstNonZero = mant.find_first_not_of("0.");
        const auto point = mant.find('.');
        if (firstNonZero != std::string_view::npos) {
            const auto intEnd = point == std::string_view::npos ? mant.size() : point;
            magnitude = firstNonZero < intEnd ? static_cast<long long>(intEnd - firstNonZero)
                                              : -static_cast<long long>(firstNonZero - intEnd - 1);
        }
        long long exponent = 0;
        if (ePos != std::string_view::npos) {
            std::string_view e = num.substr(ePos + 1);
            const bool eNeg = !e.empty() && e.front() == '-';
            if (!e.empty() && (e.front() == '-' || e.front() == '+')) e.remove_prefix(1);
            for (char c : e) exponent = std::min(exponent * 10 + (c - '0'), 100000LL);
            if (eNeg) exponent = -exponent;
        }
        v = magnitude + exponent > 0 ? DBL_MAX : 0.0;
    } else if (ec != std::errc()) {
        return 0.0;
    }
    return negative ? -v : v;
}

std::string FormatConfigReal(double value) {
    if (!std::isfinite(value) || value == 0.0) value = 0.0;  // also turns -0 into 0
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));  // "-1.00000000000000e+03"
    std::string out;
    out.reserve(23);
    if (s.front() == '-') {
        out += '-';
        s.remove_prefix(1);
    } else {
        out += ' ';
    }
    const auto e = s.find('e');
    out += s.substr(0, e);
    out += 'E';
    out += s[e + 1];
    const std::string_view digits = s.substr(e + 2);
    out.append(digits.size() < 4 ? 4 - digits.size() : 0, '0');
    out += digits;
    return out;
}

double ApplyScaleRule(double value) {
    if (value == 0.0) return 1000.0;
    if (value > 100000.0) return 100000.0;
    return value;
}

bool ReadParametersFile(const std::string& path, bool firstRunOnMachine, TResourceTable& table,
                        TWindowSettings& s, const TConfigLoadHooks& hooks) {
    s.FirstStart = true;
    TIniFile ini;
    ini.Load(path);  // an absent or unreadable file reads as an empty one
    if (ini.ReadString("Main", "Sign", "") != ConfigSignature) {
        TakeFirstStartPath(path, firstRunOnMachine, s, hooks);
        return false;
    }

    // A damaged Number must not create rows (and threads) the file does not
    // hold: the rows loaded are the held rows up to Number, in order. The
    // program writes every cell of rows 1 to Number, so a file it wrote
    // loads row for row; a row a damaged file lacks is left out, not made.
    const int number = ReadInt(ini, "Objects", "Number", 0);
    const std::vector<TStoredRow> stored = ScanStoredRows(ini, std::max(number, 0));
    const int n = static_cast<int>(stored.size());
    table.SetRowCount(1);  // every resource row starts empty
    table.SetRowCount(n + 1);
    for (int r = 1; r <= n; ++r) {
        table.SetRow(r, ReadResourceRow(ini, stored[static_cast<std::size_t>(r - 1)]));
        table.ClearEventState(r);
        if (hooks.RowLoaded) hooks.RowLoaded(r);
    }
    if (hooks.RowsLoaded) hooks.RowsLoaded(table.RowCount());

    s.Left = ReadInt(ini, "Position", "Left", s.Left);
    s.Top = ReadInt(ini, "Position", "Top", s.Top);
    if (hooks.PositionLoaded) hooks.PositionLoaded(s.Left, s.Top);

    s.PingObjects = ReadBool(ini, "Buttons", "Ping objects", s.PingObjects);
    if (s.PingObjects && hooks.StartMeasuring) hooks.StartMeasuring();
    s.Trend = ReadBool(ini, "Buttons", "Trend", s.Trend);
    s.HGrdBtn = ReadBool(ini, "Buttons", "HGrdBtn", s.HGrdBtn);
    s.VGrdBtn = ReadBool(ini, "Buttons", "VGrdBtn", s.VGrdBtn);
    s.HTrendGrdBtn = ReadBool(ini, "Buttons", "HTrendGrdBtn", s.HTrendGrdBtn);
    s.VTrendGrdBtn = ReadBool(ini, "Buttons", "VTrendGrdBtn", s.VTrendGrdBtn);
    s.Shrinked = ReadBool(ini, "Buttons", "Shrinked", s.Shrinked);
    s.StayOnTopSetting = ReadBool(ini, "Buttons", "StayOnTop", s.StayOnTopSetting);

    for (std::size_t k = 0; k < s.ColWidths.size(); ++k)
        s.ColWidths[k] = ReadInt(ini, "Resource Window", ColWidthKey(k + 1), s.ColWidths[k]);

    s.Scale = ApplyScaleRule(ReadReal(ini, "Scale", "Scale"));
    s.TrendScale = ApplyScaleRule(ReadReal(ini, "Scale", "TrendScale"));

    s.DialUpEnabled = ReadBool(ini, "Dial_Up", "Enabled", s.DialUpEnabled);
    s.DialUpInterval = ReadInt(ini, "Dial_Up", "Interval", s.DialUpInterval);
    auto& dialogs = s.ConnectWindowsTable;
    const int current = static_cast<int>(dialogs.size());
    // A damaged Number gets no rows beyond those the file or the window has.
    const int rows = std::min(ReadInt(ini, "Dial_Up", "Number", current),
                              std::max(HighestStoredDialog(ini), current - 1) + 1);
    // The header row always stays; rows cut off here come back empty below.
    dialogs.resize(static_cast<std::size_t>(std::max(rows, 1)));
    for (std::size_t r = 1; r < dialogs.size(); ++r) {
        const std::string num = std::to_string(r);
        dialogs[r][0] = ini.ReadString("Dial_Up", "Dialog" + num, dialogs[r][0]);
        dialogs[r][1] = ini.ReadString("Dial_Up", "Button" + num, dialogs[r][1]);
    }
    if (dialogs.size() < 2) dialogs.resize(2);

    ReadFont(ini, FontPrefixes[0], s.MainFont);
    ReadFont(ini, FontPrefixes[1], s.GridFont);
    ReadFont(ini, FontPrefixes[2], s.EditLineFont);

    s.TrendEnabled = ReadBool(ini, "Trend", "Enabled", s.TrendEnabled);
    s.UserKnownCDFileSize = ReadBool(ini, "Misc", "UserKnownCDFileSize", s.UserKnownCDFileSize);
    s.FirstStart = false;
    return true;
}

std::optional<std::string> WriteParametersFile(const std::string& path, const TResourceTable& table,
                                               const TWindowSettings& s,
                                               const TIniFile::TFaultHook& fault) {
    const std::string error = std::string(WriteErrorText) + path;
    TIniFile ini;
    // A file that exists but cannot be read is not replaced: its content
    // would be lost.
    if (ini.Load(path) == TIniFile::TLoadStatus::Unreadable) return error;
    ini.SetFaultHook(fault);

    ini.WriteString("Main", "Sign", ConfigSignature);

    const int n = table.RowCount() - 1;
    WriteInt(ini, "Objects", "Number", n);
    for (int r = 1; r <= n; ++r)
        for (int c = 0; c < TResourceTable::ColCount; ++c)
            WriteText(ini, "Objects", ObjectKey(r, c), table.Cell(c, r));

    WriteInt(ini, "Position", "Left", s.Left);
    WriteInt(ini, "Position", "Top", s.Top);

    WriteBool(ini, "Buttons", "Ping objects", s.PingObjects);
    WriteBool(ini, "Buttons", "Trend", s.Trend);
    WriteBool(ini, "Buttons", "HGrdBtn", s.HGrdBtn);
    WriteBool(ini, "Buttons", "VGrdBtn", s.VGrdBtn);
    WriteBool(ini, "Buttons", "HTrendGrdBtn", s.HTrendGrdBtn);
    WriteBool(ini, "Buttons", "VTrendGrdBtn", s.VTrendGrdBtn);
    WriteBool(ini, "Buttons", "Shrinked", s.Shrinked);
    WriteBool(ini, "Buttons", "StayOnTop", s.StayOnTopDown);

    for (std::size_t k = 0; k < s.ColWidths.size(); ++k)
        WriteInt(ini, "Resource Window", ColWidthKey(k + 1), s.ColWidths[k]);

    ini.WriteString("Scale", "Scale", FormatConfigReal(s.Scale));
    ini.WriteString("Scale", "TrendScale", FormatConfigReal(s.TrendScale));

    WriteBool(ini, "Dial_Up", "Enabled", s.DialUpEnabled);
    WriteInt(ini, "Dial_Up", "Interval", s.DialUpInterval);
    const auto& dialogs = s.ConnectWindowsTable;
    WriteInt(ini, "Dial_Up", "Number", static_cast<long long>(dialogs.size()));
    for (std::size_t r = 1; r < dialogs.size(); ++r) {
        const std::string num = std::to_string(r);
        WriteText(ini, "Dial_Up", "Dialog" + num, dialogs[r][0]);
        WriteText(ini, "Dial_Up", "Button" + num, dialogs[r][1]);
    }

    WriteFont(ini, FontPrefixes[0], s.MainFont);
    WriteFont(ini, FontPrefixes[1], s.GridFont);
    WriteFont(ini, FontPrefixes[2], s.EditLineFont);

    WriteBool(ini, "Trend", "Enabled", s.TrendEnabled);
    WriteBool(ini, "Misc", "UserKnownCDFileSize", s.UserKnownCDFileSize);

    if (!ini.Save()) return error;
    return std::nullopt;
}

}  // namespace tarvik
