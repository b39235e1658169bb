#include "setup/bookmarks.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ini_file.h"
#include "platform/utf8.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// The piece before the first delimiter; the line continues after it.
// Without the delimiter the whole rest is the piece and the line is empty.
std::string_view CutUpTo(std::string_view& line, std::string_view delimiter) {
    const auto at = line.find(delimiter);
    const std::string_view piece = line.substr(0, at);
    line = at == std::string_view::npos ? std::string_view() : line.substr(at + delimiter.size());
    return piece;
}

std::optional<std::string> ReadWholeFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return std::move(s).str();
}

}  // namespace

void ParseBookmarkLine(std::string_view whole, TWebAddressList& list) {
    const std::string cut = CutUtf8(std::string(whole), MaxBookmarkLine);
    std::string_view line = cut;
    if (line.find("TITLE") != std::string_view::npos) {
        CutUpTo(line, "TITLE");
        CutUpTo(line, ">");
        list.Caption = std::string(CutUpTo(line, "<"));
    }
    if (line.find("HREF") != std::string_view::npos) {
        CutUpTo(line, "HREF");
        CutUpTo(line, "\"");
        const std::string_view address = CutUpTo(line, "\"");
        CutUpTo(line, ">");
        const std::string_view name = CutUpTo(line, "<");
        if (!address.empty()) list.Rows.push_back({std::string(name), std::string(address)});
    }
}

void ParseBookmarkText(std::string_view text, TWebAddressList& list) {
    while (!text.empty()) {
        const auto end = text.find_first_of("\r\n");
        ParseBookmarkLine(text.substr(0, end), list);
        if (end == std::string_view::npos) break;
        const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
        text.remove_prefix(end + (crlf ? 2 : 1));
    }
}

std::string ShortcutUrl(std::string_view fileText) {
    TIniFile ini;
    ini.Parse(fileText);
    return ini.ReadString("InternetShortcut", "URL", "");
}

std::string ShortcutName(std::string_view fileName) {
    return std::string(fileName.substr(0, fileName.find('.')));
}

std::optional<std::string> FindBookmarkFile(const std::string& homeDir) {
    std::error_code ec;
    const fs::path home(homeDir);
    std::vector<fs::path> profiles;
    for (fs::directory_iterator it(home / ".mozilla" / "firefox", ec), end; !ec && it != end;
         it.increment(ec))
        profiles.push_back(it->path());
    std::sort(profiles.begin(), profiles.end());
    for (const auto& p : profiles)
        if (fs::is_regular_file(p / "bookmarks.html", ec)) return (p / "bookmarks.html").string();
    if (fs::is_regular_file(home / "bookmarks.html", ec)) return (home / "bookmarks.html").string();
    return std::nullopt;
}

std::vector<TUrlEntry> ReadFavorites(const std::string& folder) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) {
            return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        });
        std::error_code typeEc;
        if (ext == ".url" && !it->is_directory(typeEc)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    std::vector<TUrlEntry> rows;
    for (const auto& f : files) {
        const auto text = ReadWholeFile(f);
        if (!text) continue;
        std::string url = ShortcutUrl(*text);
        if (!url.empty()) rows.push_back({ShortcutName(f.filename().string()), std::move(url)});
    }
    return rows;
}

TWebAddressList BuildWebAddressList(const std::string& homeDir) {
    TWebAddressList list;
    if (const auto file = FindBookmarkFile(homeDir))
        if (const auto text = ReadWholeFile(*file)) ParseBookmarkText(*text, list);
    for (auto& row : ReadFavorites((fs::path(homeDir) / "Favorites").string()))
        list.Rows.push_back(std::move(row));
    return list;
}

}  // namespace tarvik
