#include "trend/trend_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/ping_thread.h"
#include "engine/speed_text.h"
#include "trend/trend_file.h"

namespace tarvik {
namespace {

constexpr std::size_t kCellMax = 255;

int Digits(const std::string& text) { return ParseCellInt(text); }

// A cell holds at most 255 bytes, cut at a character boundary.
std::string CutCell(std::string text) {
    if (text.size() <= kCellMax) return text;
    std::size_t n = kCellMax;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    text.resize(n);
    return text;
}

std::string Trimmed(const std::string& text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    auto first = std::find_if_not(text.begin(), text.end(), blank);
    auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int FromSlot(const TTrendPeriod& period) {
    return Digits(period.FromHours) * 4 + Digits(period.FromMinutes) / 15;
}

int TillSlot(const TTrendPeriod& period) {
    return Digits(period.TillHours) * 4 + Digits(period.TillMinutes) / 15;
}

std::string SlotLabel(int slot) {
    const int minutes = (slot % 4) * 15;
    return std::to_string(slot / 4) + ":" + (minutes < 10 ? "0" : "") + std::to_string(minutes);
}

TExportTable BuildExportTable(const std::string& dateCaption, const std::vector<TTrendRow>& rows,
                              int fromSlot, int tillSlot) {
    // The period dialog allows up to 24:45, slot 99; more columns than a
    // day has slots are never asked for, and nothing else may be.
    const long long wanted = static_cast<long long>(tillSlot) - fromSlot + 1;
    const int columns = static_cast<int>(std::clamp<long long>(wanted, 1, 200));
    const std::size_t n = rows.size();
    TExportTable table(3 * n + 2, std::vector<std::string>(static_cast<std::size_t>(columns)));
    table[0][0] = CutCell(dateCaption);
    for (int j = 1; j < columns; ++j)
        table[1][static_cast<std::size_t>(j)] = SlotLabel(fromSlot + j);
    for (std::size_t r = 1; r <= n; ++r) {
        const TTrendRow& row = rows[r - 1];
        auto& read = table[3 * r - 1];
        auto& write = table[3 * r];
        auto& ping = table[3 * r + 1];
        read[0] = CutCell(row.Address + " Read (KBps)");
        write[0] = CutCell(row.Address + " Write (KBps)");
        ping[0] = CutCell(row.Address + " Ping (KBps)");
        for (int j = 1; j < columns; ++j) {
            const int slot = fromSlot + j;
            const bool inDay = row.HasThread() && slot >= 1 && slot <= kTrendSlotsPerDay;
            const auto value = [&](const TDayValues* v, bool kindHasIt) {
                return FormatFixed(inDay && kindHasIt ? (*v)[static_cast<std::size_t>(slot)] : 0.0,
                                   9, 2);
            };
            const auto c = static_cast<std::size_t>(j);
            read[c] = value(row.Read, row.Kind == '1' || row.Kind == '2');
            write[c] = value(row.Write, row.Kind == '1');
            ping[c] = value(row.Ping, row.Kind == '3');
        }
    }
    return table;
}

std::string ExportLine(const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
        if (c > 0) line += '\t';
        line += Trimmed(row[c]);
    }
    line += "\r\n";
    return line;
}

std::string ExportText(const TExportTable& table) {
    std::string text;
    for (const auto& row : table) text += ExportLine(row);
    return text;
}

bool CopyTableToFile(const TExportTable& table, const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    for (const auto& row : table) {
        if (!WriteAll(fd, ExportLine(row))) {
            ok = false;
            break;
        }
    }
    // A file system may report a failed write only when the file is closed.
    if (::close(fd) != 0) ok = false;
    return ok;
}

}  // namespace tarvik
