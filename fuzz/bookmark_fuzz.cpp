// Bookmark files and Internet shortcuts come from other programs: any text
// must parse without reading outside it, and every row the rules add carries
// an address no longer than the line limit.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "setup/bookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tarvik::TWebAddressList list;
    tarvik::ParseBookmarkText(text, list);
    if (list.Caption.size() > tarvik::MaxBookmarkLine) __builtin_trap();
    for (const auto& row : list.Rows)
        if (row.Address.empty() || row.Address.size() + row.Name.size() > tarvik::MaxBookmarkLine)
            __builtin_trap();
    (void)tarvik::ShortcutUrl(text);
    return 0;
}
