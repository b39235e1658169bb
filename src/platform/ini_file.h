// An initialisation file with private-profile semantics, held in memory: one
// parse per Load, keys read and written in memory, one atomic save per Save.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvik {

class TIniFile {
  public:
    // A read returns at most this many bytes of a value.
    static constexpr std::size_t MaxValueBytes = 1023;

    enum class TLoadStatus {
        Loaded,      // the whole file was read
        Missing,     // no such file: the document is empty
        Unreadable,  // the file exists but could not be read (completely)
    };
    // The steps of an atomic save, in order; a fault hook can fail any of them.
    enum class TSaveStep { Create, Write, Sync, Close, Rename };
    // Returns true to make that step fail as if the system had refused it.
    using TFaultHook = std::function<bool(TSaveStep)>;

    // An empty document.
    TIniFile();

    // Reads and parses the file; remembers the path for Save. A missing file
    // gives an empty document; an unreadable one keeps what could be read.
    TLoadStatus Load(const std::string& path);
    // Replaces the document by the parsed text (no file involved). A UTF-8
    // byte-order mark at the start is not part of the first line; Text()
    // writes it back.
    void Parse(std::string_view text);

    // The value of the first matching key in the first matching section
    // (names compared without regard to ASCII case), trimmed, with one pair
    // of enclosing quotes removed, cut to MaxValueBytes; nullopt if absent.
    std::optional<std::string> Read(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    bool HasKey(std::string_view section, std::string_view key) const;
    // The names of the key lines of the first matching section, in file order.
    std::vector<std::string> KeyNames(std::string_view section) const;

    // Replaces the value of the key's first occurrence, or adds the key after
    // the last key line of its section, or adds the section at the end.
    // Line breaks in the value become blanks (a value cannot span lines).
    // Returns false, changing nothing, for names that could not be read back
    // (empty, holding a line break, "]" in a section or "=" in a key, or a
    // key starting with ";" or "[").
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);

    // The document as file bytes; an unchanged document gives the loaded
    // bytes exactly.
    std::string Text() const;

    // Writes the whole document to the loaded path (SaveAs: to path) through
    // a temporary file in the same directory, fsync and rename. On failure
    // the old file is untouched, the temporary file removed, LastError set.
    bool Save();
    bool SaveAs(const std::string& path);

    const std::string& Path() const { return Path_; }
    const std::string& LastError() const { return LastError_; }
    void SetFaultHook(TFaultHook hook) { Fault_ = std::move(hook); }

  private:
    enum class TEol : std::uint8_t { None, Lf, CrLf };
    enum class TKind : std::uint8_t { Other, Section, Key };
    struct TLine {
        std::string Text;  // the line's bytes without its line end
        TEol Eol = TEol::None;
        TKind Kind = TKind::Other;
    };
    // Heterogeneous, ASCII-case-insensitive lookup by string_view.
    struct TNoCaseHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const;
    };
    struct TNoCaseEq {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    using TIndex = std::unordered_map<std::string, std::size_t, TNoCaseHash, TNoCaseEq>;
    struct TSection {
        bool HasHeader = false;        // false only for the lines before the first header
        std::vector<TLine> Lines;      // the header line first when HasHeader
        TIndex Keys;                   // first occurrence of each key -> index into Lines
        std::size_t AfterLastKey = 0;  // where a new key line goes
    };

    const TLine* FindKey(std::string_view section, std::string_view key) const;
    void AddLine(std::string text, TEol eol);

    std::vector<TSection> Sections_;
    TIndex SectionIndex_;  // first occurrence of each section -> index
    TEol NewEol_ = TEol::Lf;
    bool Bom_ = false;  // the text began with a UTF-8 byte-order mark
    std::string Path_;
    std::string LastError_;
    TFaultHook Fault_;
};

}  // namespace tarvik
