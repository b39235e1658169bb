// The configuration file QUORBELT.INI: transfers the resource list and the
// window-side settings between the file and memory, key by key, in the
// program's own order. Qt-free; the main window applies the settings record.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/resource_table.h"
#include "platform/ini_file.h"
#include "setup/colors.h"

namespace tarvik {

struct TFontSetting {
    std::string Name;
    int Size = 8;
    bool Bold = false;
    bool Italic = false;
    TColor Color = clBlack;
    int Charset = 1;  // character-set code 0..255, kept as stored

    bool operator==(const TFontSetting&) const = default;
};

// Rows of the dial-up keeper's dialog table: column 0 the dialog title,
// column 1 the caption of the button to press; row 0 is the header.
using TConnectWindowsRow = std::array<std::string, 2>;

// The main window's settings that the file carries, with their built-in
// values. The window fills the record with its current state before a load
// and applies it afterwards.
struct TWindowSettings {
    int Left = 0;
    int Top = 0;
    bool PingObjects = false;  // the Start button is down: measuring runs
    bool Trend = false;        // trend view button down
    bool HGrdBtn = true;
    bool VGrdBtn = true;
    bool HTrendGrdBtn = true;
    bool VTrendGrdBtn = true;
    bool Shrinked = false;
    bool StayOnTopSetting = false;  // loaded; applied after start-up
    bool StayOnTopDown = false;     // saved: the StayOnTop button's state
    std::array<int, 5> ColWidths{10, 101, 76, 77, 93};
    double Scale = 2.0;
    double TrendScale = 2.0;
    bool DialUpEnabled = false;
    int DialUpInterval = 3000;  // ms
    std::vector<TConnectWindowsRow> ConnectWindowsTable{2};
    TFontSetting MainFont{"Sans Serif", 8, true, false, clBlack, 1};
    TFontSetting GridFont{"Sans Serif", 8, true, false, clBlack, 204};  // StringGridsFont
    TFontSetting EditLineFont{"Sans Serif", 8, true, false, clLime, 1};
    bool TrendEnabled = true;
    bool UserKnownCDFileSize = false;
    bool FirstStart = false;
};

// Steps of the load that the window performs at their moment in the order.
struct TConfigLoadHooks {
    // Row r's cells are read and its event state cleared: create the row's
    // thread and copy the row into it.
    std::function<void(int row)> RowLoaded;
    // All rows are read (rowCount includes the header row): size the visible
    // table and enable or disable the edit and delete buttons.
    std::function<void(int rowCount)> RowsLoaded;
    // The window position is read: move the window there (before Start).
    std::function<void(int left, int top)> PositionLoaded;
    // "Ping objects" was read as on: start measuring now, before any later
    // setting is read.
    std::function<void()> StartMeasuring;
    // The file could not be used and this is not the first run: show the
    // text in a standard error box.
    std::function<void(const std::string& text)> ShowReadError;
};

inline constexpr std::string_view ConfigSignature = "Network speed";
// At most this many resource or dialog rows are loaded. Whatever its Number
// says, a resource row is loaded only when the file holds keys of it, and no
// dialog row beyond the last one the file (or the window) has.
inline constexpr int MaxConfigRows = 10000;

// Loads the file at path (parsed once) into table and settings. A missing
// key or an unparsable value keeps the record's value. Returns true when the
// file was valid; false is the first-start path (FirstStart stays set, the
// default dialog table, button-text font colours). firstRunOnMachine
// suppresses the read error of the first-start path.
bool ReadParametersFile(const std::string& path, bool firstRunOnMachine, TResourceTable& table,
                        TWindowSettings& settings, const TConfigLoadHooks& hooks = {});

// Loads the existing file once, sets every key in order and saves it once,
// atomically. Keys it does not write (rows that no longer exist, foreign
// keys, comments) stay. Returns the write-error text on failure, in which
// case the file on disk is unchanged. fault is a test seam for the save.
std::optional<std::string> WriteParametersFile(const std::string& path, const TResourceTable& table,
                                               const TWindowSettings& settings,
                                               const TIniFile::TFaultHook& fault = nullptr);

// The key of a resource cell: "Object" + row + column for rows 1 to 10 (the
// short form), "Object" + row + "_" + column from row 11 on, where the
// short form is ambiguous.
std::string ObjectKey(int row, int col);
// The short key form for any row, read as a fallback for rows from 11 on.
std::string LegacyObjectKey(int row, int col);

// Value forms of the file. None of them depends on the C or C++ locale.
// Integers: decimal, "$" hex, or "0x"/"0X" hex when longer than two characters.
std::optional<int> ParseConfigInt(std::string_view text);
// Reals: the longest leading number (blanks, sign, decimal or exponent form);
// no leading number gives 0.
double ParseConfigReal(std::string_view text);
// Reals: 23 characters, " 1.00000000000000E+0003" ("-" in place of the blank).
std::string FormatConfigReal(double value);
// 0 becomes 1000, above 100000 becomes 100000, negatives stay.
double ApplyScaleRule(double value);

}  // namespace tarvik
