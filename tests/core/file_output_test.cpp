// Files written all or nothing, and the targets and sources refused before
// anything is touched.
#include "core/file_output.h"
#include "core/project_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

using namespace tk770;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string contents(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

class FileOutputTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("tk770_output_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::set<std::string> names() const
    {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
        return out;
    }
    fs::path dir;
    const Bytes payload{'n', 'e', 'w'};
};

TEST_F(FileOutputTest, WhatATargetMayBe)
{
    put(dir / "old", "old");
    fs::create_symlink(dir / "old", dir / "link");
    fs::create_symlink(dir / "loop_a", dir / "loop_b");
    fs::create_symlink(dir / "loop_b", dir / "loop_a");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    const std::string long_name(255, 'x');

    struct Case {
        const char* what;
        fs::path target;
        bool written;
        std::string reason;  // part of the error when refused
    };
    const Case cases[] = {
        {"a new file", dir / "new", true, ""},
        {"an existing regular file", dir / "old", true, ""},
        {"a link to a regular file", dir / "link", true, ""},
        {"a name of 255 bytes", dir / long_name, true, ""},
        {"a FIFO", dir / "fifo", false, "not a regular file"},
        {"a device", "/dev/null", false, "not a regular file"},
        {"a folder", dir / "folder", false, "not a regular file"},
        {"a link loop", dir / "loop_a", false, "symbolic links"},
        {"a missing folder", dir / "missing" / "x", false, "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_EQ(write_file_atomically(c.target, payload, error), c.written);
        if (c.written) {
            EXPECT_EQ(contents(c.target), "new");
        } else {
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
            EXPECT_NE(error.find(c.target.string()), std::string::npos) << "the message names the target";
        }
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link")) << "the link is kept, the linked file replaced";
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "loop_a")));
    EXPECT_EQ(names(), (std::set<std::string>{"new", "old", "link", long_name, "fifo", "folder", "loop_a",
                                              "loop_b"}))
        << "no temporary file is left behind";
}

TEST_F(FileOutputTest, ReadOnlyTargetIsRefusedWithTheSystemsReason)
{
    const fs::path target = dir / "locked";
    put(target, "old");
    fs::permissions(target, fs::perms::owner_read, fs::perm_options::replace);
    if (std::ofstream(target, std::ios::app).is_open()) GTEST_SKIP() << "permission bits do not hold back this user";
    std::string error;
    EXPECT_FALSE(write_file_atomically(target, payload, error));
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    EXPECT_EQ(contents(target), "old");
}

TEST_F(FileOutputTest, NothingIsReplacedUnlessEveryFileCanBeWritten)
{
    put(dir / "good.qsdat", "old project");
    OutputFiles files;
    EXPECT_TRUE(files.stage(dir / "good.qsdat", payload));
    EXPECT_FALSE(files.stage(dir / "missing" / "x.json", payload));
    EXPECT_FALSE(files.commit());
    EXPECT_NE(files.error().find("x.json"), std::string::npos) << files.error();
    EXPECT_EQ(contents(dir / "good.qsdat"), "old project");

    OutputFiles both;
    ASSERT_TRUE(both.stage(dir / "good.qsdat", payload));
    ASSERT_TRUE(both.stage(dir / "x.json", Bytes{'{', '}'}));
    EXPECT_TRUE(both.commit());
    EXPECT_EQ(contents(dir / "good.qsdat"), "new");
    EXPECT_EQ(contents(dir / "x.json"), "{}");
}

TEST_F(FileOutputTest, OnlyRegularFilesAreRead)
{
    put(dir / "plain", "x");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    struct Case {
        fs::path path;
        bool readable;
    };
    const Case cases[] = {{dir / "plain", true}, {dir / "fifo", false}, {"/dev/zero", false}, {dir, false},
                          {dir / "missing", false}};
    for (const auto& c : cases) EXPECT_EQ(input_file_problem(c.path).empty(), c.readable) << c.path;

    // A FIFO with no writer would block an open for ever; the project
    // reader refuses it at once.
    ParameterImage image{};
    std::array<char, device_ip_text_size> ip{};
    EXPECT_EQ(read_project_file(dir / "fifo", image, ip), project_cannot_open);
}

TEST_F(FileOutputTest, ProjectSaveGivesTheReason)
{
    ParameterImage image{};
    std::array<char, device_ip_text_size> ip{};
    std::string reason;
    EXPECT_EQ(write_project_file(dir / "nowhere" / "hall.qsdat", image, ip, &reason), project_cannot_write);
    EXPECT_NE(reason.find("No such file or directory"), std::string::npos) << reason;
    EXPECT_EQ(write_project_file(dir / std::string(255, 'p'), image, ip), project_ok) << "long names save";
}

}  // namespace
