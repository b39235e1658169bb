#include "setup/bookmarks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

TEST(Bookmarks, LineRules) {
    struct TCase {
        std::string Line;
        std::string Caption;
        std::vector<TUrlEntry> Rows;
    };
    const TCase cases[] = {
        {"<TITLE>Bookmarks</TITLE>", "Bookmarks", {}},
        {R"(<DT><A HREF="https://www.debian.org/" ADD_DATE="1">Debian</A>)",
         "",
         {{"Debian", "https://www.debian.org/"}}},
        {"<DT><A HREF=https://no.quotes/>Broken</A>", "", {}},  // no quotes: empty address
        {R"(<A HREF="">Empty</A>)", "", {}},
        {R"(<A HREF="x">)", "", {{"", "x"}}},
        {R"(<A href="lower">case</A>)", "", {}},
        {R"(<TITLE>T</TITLE><A HREF="a">n</A>)", "T", {{"n", "a"}}},
        {R"(<DT><A HREF="http://a/" LAST_MODIFIED="2">  Spaced  name </A>)",
         "",
         {{"  Spaced  name ", "http://a/"}}},
        // Cut at 255 bytes: the closing quote is lost, so the address runs to the cut.
        {R"(<A HREF=")" + std::string(300, 'a') + R"(">n</A>)", "", {{"", std::string(246, 'a')}}},
    };
    for (const auto& c : cases) {
        TWebAddressList list;
        ParseBookmarkLine(c.Line, list);
        EXPECT_EQ(list.Caption, c.Caption) << c.Line;
        EXPECT_EQ(list.Rows, c.Rows) << c.Line;
    }
}

TEST(Bookmarks, TextLinesEndInLfCrLfOrCr) {
    TWebAddressList list;
    ParseBookmarkText(
        "<A HREF=\"1\">a</A>\r\n<A HREF=\"2\">b</A>\r<A HREF=\"3\">c</A>\n"
        "<A HREF=\"4\">d</A>",
        list);
    ASSERT_EQ(list.Rows.size(), 4u);
    EXPECT_EQ(list.Rows[3], (TUrlEntry{"d", "4"}));
}

TEST(Bookmarks, ShortcutFiles) {
    EXPECT_EQ(ShortcutUrl("[InternetShortcut]\r\nURL=http://ftp.example.org/pub\r\n"),
              "http://ftp.example.org/pub");
    EXPECT_EQ(ShortcutUrl("[Other]\nURL=x\n"), "");
    EXPECT_EQ(ShortcutName("Debian.Home.URL"), "Debian");
}

class BookmarkHome : public ::testing::Test {
  protected:
    void SetUp() override {
        Home = fs::path(::testing::TempDir()) / ("home_" + std::to_string(::getpid()));
        fs::remove_all(Home);
        fs::create_directories(Home);
    }
    void TearDown() override { fs::remove_all(Home); }
    void Write(const fs::path& rel, const std::string& text) {
        fs::create_directories((Home / rel).parent_path());
        std::ofstream(Home / rel, std::ios::binary) << text;
    }
    fs::path Home;
};

TEST_F(BookmarkHome, FirefoxExportThenFavorites) {
    EXPECT_TRUE(BuildWebAddressList(Home.string()).Rows.empty());  // nothing there: no rows
    Write("bookmarks.html", "<A HREF=\"home\">fallback</A>\n");
    Write(".mozilla/firefox/b.default/bookmarks.html",
          "<TITLE>Bookmarks</TITLE>\n<DT><A HREF=\"https://b/\">B</A>\n");
    Write(".mozilla/firefox/a.other/prefs.js", "");
    Write("Favorites/Zed.url", "[InternetShortcut]\nURL=http://zed/\n");
    Write("Favorites/Alpha.URL", "[InternetShortcut]\nURL=http://alpha/\n");
    Write("Favorites/NoUrl.URL", "[InternetShortcut]\n");
    Write("Favorites/notes.txt", "[InternetShortcut]\nURL=http://txt/\n");
    Write("Favorites/Dir.URL/inner.URL", "[InternetShortcut]\nURL=http://inner/\n");
    const TWebAddressList list = BuildWebAddressList(Home.string());
    EXPECT_EQ(list.Caption, "Bookmarks");
    const std::vector<TUrlEntry> want{
        {"B", "https://b/"}, {"Alpha", "http://alpha/"}, {"Zed", "http://zed/"}};
    EXPECT_EQ(list.Rows, want);
    // Without a browser profile the home directory's file is read.
    fs::remove_all(Home / ".mozilla");
    EXPECT_EQ(BuildWebAddressList(Home.string()).Rows.front(), (TUrlEntry{"fallback", "home"}));
}

}  // namespace
}  // namespace tarvik
