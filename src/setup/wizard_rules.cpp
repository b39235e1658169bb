#include "setup/wizard_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <random>

namespace tarvik {
namespace {

TColor RandomLight(const TChannelRandom& random) {
    const auto channel = [&] { return static_cast<TColor>(128 + (random() % 127 + 127) % 127); };
    const TColor r = channel(), g = channel(), b = channel();
    return r | (g << 8) | (b << 16);
}

bool InUse(const TResourceTable& table, TColor colour) {
    for (int r = 1; r < table.RowCount(); ++r)
        for (int col : {colWriteColor, colReadColor})
            if (const auto c = ColorFromString(table.Cell(col, r)); c && *c == colour) return true;
    return false;
}

// Cuts text up to the delimiter: returns the piece before it and leaves the
// rest after it; without the delimiter the whole rest is the piece.
std::string_view CutUpTo(std::string_view& text, char delimiter) {
    const auto at = text.find(delimiter);
    const std::string_view piece = text.substr(0, at);
    text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    return piece;
}

int CellInt(const TResourceTable& t, int col, int row) {
    return ParseConfigInt(t.Cell(col, row)).value_or(0);
}

}  // namespace

TChannelRandom SystemChannelRandom() {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    return [engine] { return std::uniform_int_distribution<int>(0, 126)(*engine); };
}

TCurveColours ChooseWizardColours(const TResourceTable& table, const TChannelRandom& random) {
    bool haveRead = false, haveWrite = false;
    TCurveColours c;
    for (TColor colour : WizardColours) {
        if (InUse(table, colour)) continue;
        if (!haveRead) {
            c.Read = colour;
            haveRead = true;
        } else {
            c.Write = colour;
            haveWrite = true;
            break;
        }
    }
    // A random write colour must not repeat the read colour either (silver
    // is a light colour the random rule can produce).
    if (!haveWrite) {
        do c.Write = RandomLight(random);
        while (haveRead && c.Write == c.Read);
    }
    if (!haveRead) {
        do c.Read = RandomLight(random);
        while (c.Read == c.Write);
    }
    return c;
}

bool IsOnRootFileSystem(const std::string& path, const std::string& root) {
    struct stat rootStat {};
    if (::stat(root.c_str(), &rootStat) != 0) return false;
    std::string p = path.empty() ? std::string(".") : path;
    struct stat st {};
    while (::stat(p.c_str(), &st) != 0) {
        if (p == "/" || p == ".") return false;
        // The nearest existing parent decides.
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        const auto slash = p.rfind('/');
        p = slash == std::string::npos ? std::string(".")
            : slash == 0               ? std::string("/")
                                       : p.substr(0, slash);
    }
    return st.st_dev == rootStat.st_dev;
}

std::string HostCandidate(std::string_view path) {
    CutUpTo(path, '/');  // the scheme part
    std::string_view piece;
    do piece = CutUpTo(path, '/');
    while (piece.empty() && !path.empty());
    return std::string(piece);
}

const char* const HardDriveQuestion =
    "Probably you try to test a hard drive.\rTarvik will not display the real speed "
    "properly!!!\rDo you want to proceed?";

std::string ReplaceAddressQuestion(std::string_view path, std::string_view candidate) {
    std::string s = "Address:\r";
    s += path;
    s += "\r\rcan be:\r";
    s += candidate;
    s += "\r\rDo you want to replace it?";
    return s;
}

const char* const FileAccessError = "\rFile access error!";

std::string SmallFileQuestion(std::uint64_t sizeKb) {
    return "The file has size " + std::to_string(sizeKb) +
           " KB.\r\rFor prevent reading the file from the Windows Cache, you need a choice of a "
           "file with the size at least 5000 KB or as large as possible.\r\rDo you want to "
           "proceed?";
}

TFileSizeCheck CheckReadOnlyFile(const std::string& path) {
    TFileSizeCheck check;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return check;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) {
        check.Opened = true;
        check.SizeKb = static_cast<std::uint64_t>(st.st_size) / 1024;
    }
    ::close(fd);
    return check;
}

TSpeedEvent TWizardValues::WizardEventStart() {
    TSpeedEvent e;
    e.PerformOnce = "1";
    e.EventTimeout = "3";
    e.EnableOther = "1";
    return e;
}

void WriteResourceRow(TResourceTable& t, int row, const TWizardValues& v, bool add) {
    t.SetCell(colAddress, row, v.Path);
    if (add)
        for (int col : {colWriteText, colReadText, colPingText}) t.SetCell(col, row, {});
    t.SetCell(colKind, row, std::string(1, v.Kind));
    t.SetCell(colWriteColor, row, ColorToString(v.WriteColor));
    t.SetCell(colReadColor, row, ColorToString(v.ReadColor));
    t.SetCell(colInterval, row, v.PingDelay);
    t.SetCell(colAutoSize, row, v.DefAuto ? "1" : "0");
    t.SetCell(colTestSize, row, v.SizeOfPacket);
    t.SetCell(colTimeout, row, v.TimeOut);
    t.SetCell(colMinThreshold, row, v.MinSpeed);
    t.SetCell(colMaxThreshold, row, v.MaxSpeed);
    for (int which : {kMinEvent, kMaxEvent}) {
        const TSpeedEvent& e = which == kMinEvent ? v.MinEvent : v.MaxEvent;
        const TSpeedEventColumns& c = SpeedEventColumns(which);
        t.SetCell(c.PerformOnce, row, e.PerformOnce);
        t.SetCell(c.EventTimeout, row, e.EventTimeout);
        t.SetCell(c.ActionKind, row, e.ActionKind);
        t.SetCell(c.EnableOther, row, e.EnableOther);
        t.SetCell(c.PlayFileName, row, e.PlayFileName);
        t.SetCell(c.RunFileName, row, e.RunFileName);
        t.SetCell(c.RunDirectory, row, e.RunDirectory);
        t.SetCell(c.CloseFileName, row, e.CloseFileName);
        t.SetCell(c.WinTitle, row, e.WinTitle);
    }
    t.SetCell(colMinEnabled, row, v.PerformMinSpeed ? "1" : "0");
    t.SetCell(colMaxEnabled, row, v.PerformMaxSpeed ? "1" : "0");
    t.ClearEventState(row);
}

void LoadResourceRow(const TResourceTable& t, int row, TWizardValues& v) {
    v.Path = t.Cell(colAddress, row);
    const std::string& kind = t.Cell(colKind, row);
    if (!kind.empty() && kind[0] >= '1' && kind[0] <= '3') v.Kind = kind[0];
    if (const auto c = ColorFromString(t.Cell(colWriteColor, row))) v.WriteColor = *c;
    if (const auto c = ColorFromString(t.Cell(colReadColor, row))) v.ReadColor = *c;
    v.PingDelay = t.Cell(colInterval, row);
    v.SizeOfPacket = t.Cell(colTestSize, row);
    v.TimeOut = t.Cell(colTimeout, row);
    v.MinSpeed = t.Cell(colMinThreshold, row);
    v.MaxSpeed = t.Cell(colMaxThreshold, row);
    v.DefAuto = CellInt(t, colAutoSize, row) != 0;
    v.PerformMinSpeed = CellInt(t, colMinEnabled, row) != 0;
    v.PerformMaxSpeed = CellInt(t, colMaxEnabled, row) != 0;
    for (int which : {kMinEvent, kMaxEvent}) {
        TSpeedEvent& e = which == kMinEvent ? v.MinEvent : v.MaxEvent;
        const TSpeedEventColumns& c = SpeedEventColumns(which);
        e.PerformOnce = t.Cell(c.PerformOnce, row);
        e.EventTimeout = t.Cell(c.EventTimeout, row);
        e.ActionKind = t.Cell(c.ActionKind, row);
        e.EnableOther = t.Cell(c.EnableOther, row);
        e.PlayFileName = t.Cell(c.PlayFileName, row);
        e.RunFileName = t.Cell(c.RunFileName, row);
        e.RunDirectory = t.Cell(c.RunDirectory, row);
        e.CloseFileName = t.Cell(c.CloseFileName, row);
        e.WinTitle = t.Cell(c.WinTitle, row);
    }
}

bool EventHasAction(const TSpeedEvent& e) {
    return !e.RunFileName.empty() || !e.PlayFileName.empty() || !e.CloseFileName.empty() ||
           !e.WinTitle.empty();
}

void DialTableTyped(std::vector<TConnectWindowsRow>& rows, int row) {
    if (row >= 1 && row == static_cast<int>(rows.size()) - 1) rows.emplace_back();
}

bool DialTableSelected(std::vector<TConnectWindowsRow>& rows) {
    const std::size_t n = rows.size();
    if (n > 3 && rows[n - 2][0].empty()) {
        rows.pop_back();
        return true;
    }
    return false;
}

}  // namespace tarvik
