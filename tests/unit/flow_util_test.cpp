// Folder names the flows build below directory answers: whole or not at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "installer/flow_util.h"
#include "installer/flows.h"
#include "test_util.h"

namespace {

// A directory answer of `len` characters, ending with a backslash.
std::string long_dir(size_t len)
{
    std::string d = "\\";
    while (d.size() < len - 1) d += "a";
    return d + "\\";
}

TEST(FlowFolder, FittingNamesAreBuiltWhole)
{
    char field[TEXT_PATH_SIZE] = "\\old\\";
    EXPECT_EQ(flow_set_subfolder(field, "\\quillor\\", "cache", "test"), 1);
    EXPECT_STREQ(field, "\\quillor\\cache\\");

    std::string dir = long_dir(TEXT_PATH_SIZE - 1 - 8);  // "manuals\" just fits 511 characters
    char *folder = flow_folder(dir.c_str(), "manuals", "test");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(std::string(folder), dir + "manuals\\");
    free(folder);
}

TEST(FlowFolder, TooLongNamesAreRefusedReportedAndNeverCut)
{
    tu::Scratch scratch;  // the log goes here
    tu::TestLog log;
    tu::CapturedOutput out;
    std::string dir = long_dir(TEXT_PATH_SIZE - 8);  // one character too many for "manuals\"
    EXPECT_EQ(flow_folder(dir.c_str(), "manuals", "install_flow"), nullptr);

    char field[TEXT_PATH_SIZE] = "\\keep\\";
    EXPECT_EQ(flow_set_subfolder(field, dir.c_str(), "cache\\and\\more", "update_flow"), 0);
    EXPECT_STREQ(field, "\\keep\\");

    int copied = 0;
    EXPECT_EQ(flow_copy_into_subfolder(dir.c_str(), "manuals", "*.htm*", &copied, nullptr, "install_flow", nullptr), 0);
    EXPECT_EQ(copied, 0);

    std::string msg = "install_flow: folder name too long: " + dir + "manuals\\";
    EXPECT_NE(log.text().find(msg), std::string::npos);
    EXPECT_NE(out.text().find("\n" + msg + "\n"), std::string::npos);
    EXPECT_NE(log.text().find("update_flow: folder name too long: " + dir + "cache\\and\\more\\"), std::string::npos);
}

TEST(FlowFolder, AFlowGivenNoTableDoesNothingAndSaysSo)
{
    tu::Scratch scratch;
    tu::TestLog log;
    tu::CapturedOutput out;
    for (auto flow : {install_flow, update_flow, remove_flow}) EXPECT_EQ(flow(nullptr).reached, 0);
    for (const char *who : {"install_flow", "update_flow", "remove_flow"})
        EXPECT_NE(log.text().find(std::string(who) + ": unexpected NULL passed"), std::string::npos) << who;
    EXPECT_EQ(out.text(), "");
}

}  // namespace
