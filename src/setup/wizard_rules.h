// The resource wizard's rules without any window: the colours of a new
// resource, the checks when leaving the resource page, the question texts,
// writing and loading a settings row, and the dial-up table's editing rules.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/resource_table.h"
#include "monitor/speed_event.h"
#include "setup/colors.h"
#include "setup/config_file.h"

namespace tarvik {

// Preferred curve colours of new resources, in the order they are offered:
// lime, yellow, aqua, fuchsia, blue, purple, red, silver, white.
inline constexpr std::array<TColor, 9> WizardColours{
    0x00FF00, 0x00FFFF, 0xFFFF00, 0xFF00FF, 0xFF0000, 0x800080, 0x0000FF, 0xC0C0C0, 0xFFFFFF};

// Returns a random integer 0..126 for one colour channel.
using TChannelRandom = std::function<int()>;
// The random source of the program (a seeded Mersenne twister).
TChannelRandom SystemChannelRandom();

struct TCurveColours {
    TColor Read = 0;
    TColor Write = 0;
};
// The first two wizard colours no row of the table uses (column 6 or 7,
// compared as colour values) become Read and Write. Where none is left the
// colour is a random light one (each channel 128 + 0..126), and the two
// always differ.
TCurveColours ChooseWizardColours(const TResourceTable& table, const TChannelRandom& random);

// True when path lies on the file system of "/" (same device as root; a
// path that does not exist counts as its nearest existing parent): the
// drive resource would measure the local disk.
bool IsOnRootFileSystem(const std::string& path, const std::string& root = "/");

// The host part offered for an Internet address holding "/": the scheme part
// up to the first "/" is dropped, then the first non-empty piece between
// slashes. "http://host/dir/page" gives "host", "host/dir" gives "dir",
// "http://" gives "". Call only when the text holds a "/".
std::string HostCandidate(std::string_view path);

// Question texts (a carriage return breaks the line).
extern const char* const HardDriveQuestion;
std::string ReplaceAddressQuestion(std::string_view path, std::string_view candidate);
extern const char* const FileAccessError;
std::string SmallFileQuestion(std::uint64_t sizeKb);

// The read-only file check: smaller files than this many KB ask whether to go on.
inline constexpr std::uint64_t CacheProofFileKb = 5000;
struct TFileSizeCheck {
    bool Opened = false;
    std::uint64_t SizeKb = 0;  // byte size / 1024
    bool Small() const { return Opened && SizeKb < CacheProofFileKb; }
};
TFileSizeCheck CheckReadOnlyFile(const std::string& path);

// What the wizard hands over after OK, in settings-grid text.
struct TWizardValues {
    char Kind = '3';  // '1' drive, '2' read-only file, '3' host
    std::string Path = "localhost";
    TColor WriteColor = 0x00FFFF;
    TColor ReadColor = 0x00FF00;
    std::string PingDelay = "1000";
    std::string SizeOfPacket = "1024";
    std::string TimeOut = "30000";
    std::string MinSpeed = "0";
    std::string MaxSpeed = "2";
    bool DefAuto = true;
    bool PerformMinSpeed = false;
    bool PerformMaxSpeed = false;
    TSpeedEvent MinEvent = WizardEventStart();
    TSpeedEvent MaxEvent = WizardEventStart();

    // PerformOnce "1", EventTimeout "3", EnableOther "1", the rest empty.
    static TSpeedEvent WizardEventStart();
};

// Writes the wizard's values into a row. Add empties the speed texts
// (columns 2 to 4); edit keeps them. Both clear the run-time event cells.
void WriteResourceRow(TResourceTable& table, int row, const TWizardValues& v, bool add);
// Loads a row into the values for editing. An unknown kind, or a colour
// that cannot be read, keeps what values holds.
void LoadResourceRow(const TResourceTable& table, int row, TWizardValues& v);

// The event setup dialog's result switches the wizard's event on when any
// of the four action texts is set (the directory does not count).
bool EventHasAction(const TSpeedEvent& e);

// The dial-up table (row 0 the header). Typing into a cell of the last row
// appends an empty row.
void DialTableTyped(std::vector<TConnectWindowsRow>& rows, int row);
// Selecting a cell removes the last row when there are more than three rows
// and the second-to-last row has no title; true when it removed one.
bool DialTableSelected(std::vector<TConnectWindowsRow>& rows);

}  // namespace tarvik
