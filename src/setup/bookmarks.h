// The web address list of the resource wizard: browser bookmarks (a
// Netscape-format bookmark file) and Internet shortcut files (*.URL), read
// by simple line rules. Both files are foreign input: any text gives a list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

struct TUrlEntry {
    std::string Name;
    std::string Address;
    bool operator==(const TUrlEntry&) const = default;
};

struct TWebAddressList {
    std::string Caption;  // the bookmark file's title; empty when it has none
    std::vector<TUrlEntry> Rows;
};

// A bookmark file line takes at most this many bytes (cut at a character).
inline constexpr std::size_t MaxBookmarkLine = 255;

// One line: "TITLE" ... ">" caption "<" sets the caption; "HREF" ... '"'
// address '"' ... ">" name "<" adds a row when the address is not empty.
void ParseBookmarkLine(std::string_view line, TWebAddressList& list);
// Every line of a bookmark file (LF, CR LF or CR ends a line).
void ParseBookmarkText(std::string_view text, TWebAddressList& list);

// The URL key of section InternetShortcut of a shortcut file's text.
std::string ShortcutUrl(std::string_view fileText);
// The row name of a shortcut file: its file name up to the first ".".
std::string ShortcutName(std::string_view fileName);

// The bookmark file in a home directory: the first existing of
// .mozilla/firefox/*/bookmarks.html (profiles in name order), bookmarks.html.
std::optional<std::string> FindBookmarkFile(const std::string& homeDir);
// The rows of the *.URL files (any letter case of the extension) directly in
// folder, in file name order; sub-folders are not searched.
std::vector<TUrlEntry> ReadFavorites(const std::string& folder);

// The whole list for a home directory: the bookmark file's rows, then those
// of ~/Favorites/. Missing or unreadable sources add nothing.
TWebAddressList BuildWebAddressList(const std::string& homeDir);

}  // namespace tarvik
