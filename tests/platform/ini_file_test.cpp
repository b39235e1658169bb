#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// A fresh directory under /tmp, removed with everything in it.
class TTempDir {
  public:
    TTempDir() {
        char tmpl[] = "/tmp/tarvik-ini-XXXXXX";
        if (::mkdtemp(tmpl)) Path_ = tmpl;
    }
    ~TTempDir() {
        std::error_code ec;
        if (!Path_.empty()) fs::remove_all(Path_, ec);
    }
    const std::string& Path() const { return Path_; }
    std::string File(const std::string& name) const { return Path_ + "/" + name; }
    std::size_t EntryCount() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(Path_), fs::directory_iterator()));
    }

  private:
    std::string Path_;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct TReadCase {
    const char* Name;
    std::string Text;
    const char* Section;
    const char* Key;
    std::optional<std::string> Expected;
};

TEST(IniFile, ReadSemantics) {
    const std::string longValue(2000, 'x');
    const std::string nearLimit = std::string(1022, 'y') + "\xC3\xA9";  // "é" crosses 1023
    const TReadCase cases[] = {
        {"plain", "[Main]\nSign=Network speed\n", "Main", "Sign", "Network speed"},
        {"names ignore case", "[MAIN]\nSIGN=x\n", "main", "sign", "x"},
        {"first section wins", "[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "k", "1"},
        {"later duplicate section unseen", "[A]\nk=1\n[a]\nj=3\n", "A", "j", std::nullopt},
        {"first key wins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"blanks trimmed", "  [ A ]  \n \t k  =   v w \t \n", "A", "k", "v w"},
        {"double quotes removed", "[A]\nk= \"  v  \" \n", "A", "k", "  v  "},
        {"single quotes removed", "[A]\nk='x'\n", "A", "k", "x"},
        {"unmatched quotes kept", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
        {"lone quote kept", "[A]\nk=\"\n", "A", "k", "\""},
        {"comment ignored", "[A]\n;k=1\nk=2\n", "A", "k", "2"},
        {"indented comment ignored", "[A]\n  ;k=1\n", "A", "k", std::nullopt},
        {"line without = ignored", "[A]\nk\n", "A", "k", std::nullopt},
        {"empty value", "[A]\nk=\n", "A", "k", ""},
        {"= inside value", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"CR LF", "[A]\r\nk=v\r\n", "A", "k", "v"},
        {"no final newline", "[A]\nk=v", "A", "k", "v"},
        {"key before any section", "k=1\n[A]\n", "A", "k", std::nullopt},
        {"header without ] is no section", "[A\nk=1\n", "A", "k", std::nullopt},
        {"missing section", "[A]\nk=1\n", "B", "k", std::nullopt},
        {"value cut to 1023 bytes", "[A]\nk=" + longValue + "\n", "A", "k", std::string(1023, 'x')},
        {"cut keeps whole characters", "[A]\nk=" + nearLimit + "\n", "A", "k",
         std::string(1022, 'y')},
        {"NUL bytes are ordinary bytes", std::string("[A]\nk=v\0w\n", 10), "A", "k",
         std::string("v\0w", 3)},
    };
    for (const auto& c : cases) {
        TIniFile ini;
        ini.Parse(c.Text);
        EXPECT_EQ(ini.Read(c.Section, c.Key), c.Expected) << c.Name;
        EXPECT_EQ(ini.HasKey(c.Section, c.Key), c.Expected.has_value()) << c.Name;
    }
}

struct TWriteCase {
    const char* Name;
    std::string Before;
    const char* Section;
    const char* Key;
    const char* Value;
    std::string After;
};

TEST(IniFile, WriteSemantics) {
    const TWriteCase cases[] = {
        {"replaces the first occurrence only", "; c\n[A]\nk=1\nK=2\n", "A", "k", "9",
         "; c\n[A]\nk=9\nK=2\n"},
        {"keeps the stored key spelling", "[A]\n  Key = 1 \n", "A", "KEY", "2", "[A]\nKey=2\n"},
        {"new key after the last key line", "[A]\nk=1\n; end of A\n\n[B]\nx=1\n", "A", "j", "2",
         "[A]\nk=1\nj=2\n; end of A\n\n[B]\nx=1\n"},
        {"new key in a section without keys", "[A]\n\n[B]\n", "A", "k", "1", "[A]\nk=1\n\n[B]\n"},
        {"new section at the end", "[A]\nk=1\n", "B", "x", "1", "[A]\nk=1\n\n[B]\nx=1\n"},
        {"new section after a last line without newline", "[A]\nk=1", "B", "x", "1",
         "[A]\nk=1\n\n[B]\nx=1\n"},
        {"new key after a last line without newline", "[A]\nk=1", "A", "j", "2", "[A]\nk=1\nj=2\n"},
        {"CR LF file gets CR LF lines", "[A]\r\nk=1\r\n", "A", "j", "2", "[A]\r\nk=1\r\nj=2\r\n"},
        {"empty file", "", "A", "k", "1", "[A]\nk=1\n"},
        {"duplicate section: the first one is written", "[A]\nk=1\n[a]\nj=1\n", "A", "j", "2",
         "[A]\nk=1\nj=2\n[a]\nj=1\n"},
        {"line breaks in a value become blanks", "", "A", "k", "a\r\nb", "[A]\nk=a  b\n"},
        {"comments and foreign sections stay in order", ";top\n[X]\ny=2\n;mid\n[A]\nk=1\n", "A",
         "k", "3", ";top\n[X]\ny=2\n;mid\n[A]\nk=3\n"},
    };
    for (const auto& c : cases) {
        TIniFile ini;
        ini.Parse(c.Before);
        EXPECT_TRUE(ini.WriteString(c.Section, c.Key, c.Value)) << c.Name;
        EXPECT_EQ(ini.Text(), c.After) << c.Name;
    }
}

TEST(IniFile, RejectsNamesThatCannotBeReadBack) {
    TIniFile ini;
    ini.Parse("[A]\nk=1\n");
    for (const auto& [section, key] :
         std::initializer_list<std::pair<const char*, const char*>>{{"", "k"},
                                                                    {"A]", "k"},
                                                                    {"A\nB", "k"},
                                                                    {"A", ""},
                                                                    {"A", "a=b"},
                                                                    {"A", ";k"},
                                                                    {"A", "[k"},
                                                                    {"A", "k\n"}}) {
        EXPECT_FALSE(ini.WriteString(section, key, "x")) << section << "/" << key;
    }
    EXPECT_EQ(ini.Text(), "[A]\nk=1\n");
}

TEST(IniFile, WrittenValuesReadBack) {
    TIniFile ini;
    ini.Parse(";c\n[A]\nk=1\n");
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(
            ini.WriteString("Objects", "Object" + std::to_string(i), std::to_string(i * 7)));
    ASSERT_TRUE(ini.WriteString("a", "K", "2"));
    TIniFile back;
    back.Parse(ini.Text());
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(back.Read("objects", "OBJECT" + std::to_string(i)), std::to_string(i * 7));
    EXPECT_EQ(back.Read("A", "k"), "2");
}

// Whatever bytes a file holds, an untouched document writes them back exactly.
TEST(IniFile, UntouchedDocumentKeepsEveryByte) {
    std::mt19937 rng(12345);
    std::vector<std::string> inputs = {
        "",
        "\n\n",
        "; only a comment",
        "[A]\r\nk = 1 \r\n\n[a]\nmixed\rends\n=novalue\n[B\nx=1",
        std::string("\0\0[A]\0\nk=\0\n", 11),
        "[A]\n" + std::string(1 << 20, 'x') + "\nk=v",
    };
    std::string random(1 << 16, '\0');
    for (char& c : random) c = static_cast<char>(rng() % 256);
    inputs.push_back(random);
    for (const auto& in : inputs) {
        TIniFile ini;
        ini.Parse(in);
        EXPECT_EQ(ini.Text(), in);
    }
    TIniFile longLine;
    longLine.Parse(inputs[5]);
    EXPECT_EQ(longLine.Read("A", "k"), "v");
}

// A UTF-8 byte-order mark before the first header belongs to no line: the
// section is found, a write goes into it, and the mark is written back.
TEST(IniFile, ByteOrderMarkIsSkippedAndKept) {
    const std::string bom = "\xEF\xBB\xBF";
    TIniFile ini;
    ini.Parse(bom + "[Main]\r\nSign=Network speed\r\n");
    EXPECT_EQ(ini.Read("Main", "Sign"), "Network speed");
    EXPECT_EQ(ini.Text(), bom + "[Main]\r\nSign=Network speed\r\n");
    ASSERT_TRUE(ini.WriteString("main", "Other", "1"));
    EXPECT_EQ(ini.Text(), bom + "[Main]\r\nSign=Network speed\r\nOther=1\r\n");

    // Only a mark at the very start is one; elsewhere it is text of its line.
    ini.Parse("\n" + bom + "[Main]\nSign=x\n");
    EXPECT_EQ(ini.Read("Main", "Sign"), std::nullopt);
    ini.Parse(bom);
    EXPECT_EQ(ini.Text(), bom);
    ini.Parse("[Main]\n");
    EXPECT_EQ(ini.Text(), "[Main]\n");  // a file without one does not get one
}

TEST(IniFile, LoadMissingThenSaveCreatesFile) {
    TTempDir dir;
    const std::string path = dir.File("QUORBELT.INI");
    TIniFile ini;
    EXPECT_EQ(ini.Load(path), TIniFile::TLoadStatus::Missing);
    EXPECT_EQ(ini.Text(), "");
    ini.WriteString("Main", "Sign", "Network speed");
    ASSERT_TRUE(ini.Save()) << ini.LastError();
    EXPECT_EQ(Slurp(path), "[Main]\nSign=Network speed\n");
    EXPECT_EQ(dir.EntryCount(), 1u);  // no temporary file left

    TIniFile back;
    EXPECT_EQ(back.Load(path), TIniFile::TLoadStatus::Loaded);
    EXPECT_EQ(back.Read("Main", "Sign"), "Network speed");
}

TEST(IniFile, SaveKeepsModeAndWritesThroughSymlink) {
    TTempDir dir;
    const std::string target = dir.File("real.ini");
    const std::string link = dir.File("QUORBELT.INI");
    Spit(target, "[A]\nk=1\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

    TIniFile ini;
    ASSERT_EQ(ini.Load(link), TIniFile::TLoadStatus::Loaded);
    ini.WriteString("A", "k", "2");
    ASSERT_TRUE(ini.Save()) << ini.LastError();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Slurp(target), "[A]\nk=2\n");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.EntryCount(), 2u);
}

// A save that fails at any step leaves the old file exactly as it was and
// leaves no temporary file behind.
TEST(IniFile, FailedSaveLeavesOldFileUnchanged) {
    using S = TIniFile::TSaveStep;
    const std::string old = "; keep me\r\n[A]\r\nk=old\r\nbinary\0tail";
    for (S failing : {S::Create, S::Write, S::Sync, S::Close, S::Rename}) {
        TTempDir dir;
        const std::string path = dir.File("QUORBELT.INI");
        Spit(path, old);
        TIniFile ini;
        ASSERT_EQ(ini.Load(path), TIniFile::TLoadStatus::Loaded);
        ini.WriteString("A", "k", "new");
        ini.WriteString("B", "x", "1");
        std::vector<S> seen;
        ini.SetFaultHook([&](S step) {
            seen.push_back(step);
            return step == failing;
        });
        EXPECT_FALSE(ini.Save());
        EXPECT_FALSE(ini.LastError().empty());
        EXPECT_EQ(seen.back(), failing);
        EXPECT_EQ(Slurp(path), old);
        EXPECT_EQ(dir.EntryCount(), 1u);
    }
}

TEST(IniFile, SaveFailsIntoMissingDirectory) {
    TTempDir dir;
    TIniFile ini;
    ini.WriteString("A", "k", "1");
    EXPECT_FALSE(ini.SaveAs(dir.File("no/such/dir/QUORBELT.INI")));
    EXPECT_NE(ini.LastError().find("no/such/dir"), std::string::npos);
}

TEST(IniFile, UnreadableFileLoadsEmpty) {
    TTempDir dir;
    TIniFile ini;
    EXPECT_EQ(ini.Load(dir.Path()), TIniFile::TLoadStatus::Unreadable);  // a directory
    EXPECT_EQ(ini.Text(), "");
    EXPECT_FALSE(ini.LastError().empty());
}

}  // namespace
}  // namespace tarvik
