// Help reader and append_grow: the text a "?" answer shows for each kind of
// install.hlp the administrator may have (CR LF, tabs, comments, empty
// sections, prefix-sharing tags, no final line feed), and the one-entry cache.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "questions/help.h"
#include "test_util.h"

namespace {

const char NO_HELP[] = "No specific help is available for this question.";

class HelpReader : public ::testing::Test {
  protected:
    tu::Scratch scratch;
    help_reader h{};

    void TearDown() override { plat_syscall_reset(); }
    void write_help(const std::string &content) { tu::write_file(scratch.path("install.hlp"), content); }
    // Opens a fresh reader on content and looks tag up.
    std::string lookup_in(const std::string &content, const char *tag)
    {
        write_help(content);
        EXPECT_EQ(help_open(&h, ".\\install.hlp"), 1);
        std::string text = help_lookup(&h, tag);
        EXPECT_EQ(help_close(&h), 1);
        return text;
    }
};

TEST_F(HelpReader, FindsTheSectionOfTheTagAmongOthers)
{
    const std::string file = "intro text is never shown\n"
                             "[SCRIPTS]\nWhere the cgi programs live.\n"
                             "[CACHE]\nThe cache directory.\nSecond line.\n"
                             "[UNUSED]\nnever shown\n";
    EXPECT_EQ(lookup_in(file, "CACHE"), "The cache directory.\nSecond line.\n");
    EXPECT_EQ(lookup_in(file, "SCRIPTS"), "Where the cgi programs live.\n");
}

TEST_F(HelpReader, CrLfFileGivesTheSameTextAsLfFile)
{
    const std::string lf = "[DOMAIN]\nYour domain.\n\n  indented\nend\n[END]\nx\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(lookup_in(crlf, "DOMAIN"), lookup_in(lf, "DOMAIN"));
    EXPECT_EQ(lookup_in(crlf, "DOMAIN"), "Your domain.\n\n  indented\nend\n");
}

TEST_F(HelpReader, CtrlZIsAnOrdinaryByteOnEverySystem)
{
    const std::string file = "[DOMAIN]\r\nBefore \x1a after.\r\n\x1a\r\nLast line.\r\n[CACHE]\r\nCache.\r\n";
    EXPECT_EQ(lookup_in(file, "DOMAIN"), "Before \x1a after.\n\x1a\nLast line.\n");
    EXPECT_EQ(lookup_in(file, "CACHE"), "Cache.\n");
}

TEST_F(HelpReader, LeadingTabsGoButBlanksAndEmptyLinesStay)
{
    EXPECT_EQ(lookup_in("[USER]\n\t\tTabbed\n   Blanks\n\n\tMixed\t tab\n", "USER"),
              "Tabbed\n   Blanks\n\nMixed\t tab\n");
}

TEST_F(HelpReader, CommentLinesAreLeftOut)
{
    EXPECT_EQ(lookup_in("[USER]\n# note for translators\nvisible\n#another\nalso\n", "USER"), "visible\nalso\n");
}

TEST_F(HelpReader, HeaderFollowedByHeaderShowsTheNextSectionsText)
{
    const std::string file = "[BACKUP]\n[BACK_ALL]\nBackup text.\n[END]\nend\n";
    EXPECT_EQ(lookup_in(file, "BACKUP"), "Backup text.\n");
}

TEST_F(HelpReader, OneTrailingEmptyLineIsDropped)
{
    EXPECT_EQ(lookup_in("[END]\ntext\n\n[CHANGE]\nx\n", "END"), "text\n");
    EXPECT_EQ(lookup_in("[END]\ntext\n\n\n[CHANGE]\nx\n", "END"), "text\n\n");
}

TEST_F(HelpReader, PrefixOfALongerTagMatchesItsHeaderWhenThatComesFirst)
{
    const std::string longer_first = "[WORKAREA_TRUE]\nYes or no.\n[WORKAREA]\nThe path.\n";
    EXPECT_EQ(lookup_in(longer_first, "WORKAREA"), "Yes or no.\n");
    EXPECT_EQ(lookup_in(longer_first, "WORKAREA_TRUE"), "Yes or no.\n");

    const std::string shorter_first = "[AUTHENT_LOCAL]\nLocal.\n[AUTHENT_LOCAL_CREATE]\nCreate.\n";
    EXPECT_EQ(lookup_in(shorter_first, "AUTHENT_LOCAL"), "Local.\n");
    EXPECT_EQ(lookup_in(shorter_first, "AUTHENT_LOCAL_CREATE"), "Create.\n");
}

TEST_F(HelpReader, LastLineWithoutLineFeedIsShown) { EXPECT_EQ(lookup_in("[END]\nfirst\nlast", "END"), "first\nlast"); }

TEST_F(HelpReader, MissingTagOrEmptyLastSectionGivesNoHelpText)
{
    EXPECT_EQ(lookup_in("[SCRIPTS]\ntext\n", "CACHE"), NO_HELP);
    EXPECT_EQ(lookup_in("[SCRIPTS]\ntext\n[CACHE]\n# only a comment\n", "CACHE"), NO_HELP);
}

TEST_F(HelpReader, LongLinesAreReadInPiecesOf255Bytes)
{
    // The second piece of the line starts with a tab, which goes like any
    // line's leading tabs; a piece starting with "[" ends the section.
    const std::string a(HELP_PIECE, 'a');
    EXPECT_EQ(lookup_in("[USER]\n" + a + "\tb\n", "USER"), a + "b\n");
    EXPECT_EQ(lookup_in("[USER]\n" + a + "\n" + a + "[X]\nrest\n", "USER"), a + "\n" + a);
}

TEST_F(HelpReader, MissingFileGivesNoHelpTextAndNeverFails)
{
    EXPECT_EQ(help_open(&h, ".\\install.hlp"), 0);
    EXPECT_STREQ(help_lookup(&h, "SCRIPTS"), NO_HELP);
    EXPECT_STREQ(help_lookup(&h, "CACHE"), NO_HELP);
    help_close(&h);
    EXPECT_EQ(h.last_tag, nullptr);
    EXPECT_EQ(h.last_text, nullptr);
}

int counted_reads;
char *counting_fgets(char *buf, int size, FILE *f)
{
    counted_reads++;
    return fgets(buf, size, f);
}

TEST_F(HelpReader, SameTagTwiceIsServedFromTheCacheWithoutReading)
{
    write_help("[SCRIPTS]\nscripts\n[CACHE]\ncache\n");
    ASSERT_EQ(help_open(&h, ".\\install.hlp"), 1);
    plat_syscall_table()->fgets = counting_fgets;
    counted_reads = 0;

    const char *first = help_lookup(&h, "CACHE");
    int reads = counted_reads;
    EXPECT_GT(reads, 0);
    const char *again = help_lookup(&h, "CACHE");
    EXPECT_EQ(again, first);
    EXPECT_EQ(counted_reads, reads);

    // A different tag drops the cache and reads from the file's start.
    EXPECT_STREQ(help_lookup(&h, "SCRIPTS"), "scripts\n");
    EXPECT_GT(counted_reads, reads);
    EXPECT_STREQ(help_lookup(&h, "CACHE"), "cache\n");
    EXPECT_EQ(help_close(&h), 1);
    EXPECT_EQ(h.file, nullptr);
}

TEST(AppendGrow, BuildsTheHelpFileNameFromPieces)
{
    char *name = append_grow(nullptr, ".");
    name = append_grow(name, "\\");
    name = append_grow(name, "install.hlp");
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, ".\\install.hlp");
    free(name);
}

TEST(AppendGrow, NullTextLeavesTheStringAsItWas)
{
    char *s = append_grow(nullptr, "abc");
    EXPECT_EQ(append_grow(s, nullptr), s);
    EXPECT_STREQ(s, "abc");
    EXPECT_EQ(append_grow(nullptr, nullptr), nullptr);
    free(s);
}

TEST(AppendGrow, GrowsPastAnyFixedBufferSize)
{
    char *s = nullptr;
    const std::string chunk(300, 'z');
    for (int i = 0; i < 10; i++) s = append_grow(s, chunk.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(strlen(s), 3000u);
    EXPECT_EQ(std::string(s), std::string(3000, 'z'));
    free(s);
}

}  // namespace
