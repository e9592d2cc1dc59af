#include "core/project_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>


using namespace tk770;
namespace fs = std::filesystem;

namespace {

using IpText = std::array<char, device_ip_text_size>;

bool same_bytes(const ParameterImage& a, const ParameterImage& b)
{
    return std::memcmp(a.data(), b.data(), image_size) == 0;
}

std::vector<char> file_bytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put_file(const fs::path& p, const std::vector<char>& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::set<std::string> names_in(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

class ProjectFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::random_device rd;
        dir = fs::temp_directory_path() / ("tk770_project_" + std::to_string(rd()));
        fs::create_directories(dir);
        for (std::size_t i = 0; i < image_size; ++i) image.data()[i] = static_cast<std::uint8_t>(i * 7 + 3);
        // Bytes after the terminating zero are kept too.
        ip = {};
        std::memcpy(ip.data(), "192.168.10.20", 13);
        ip[16] = 'x';
        ip[19] = '\x7f';
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }

    fs::path dir;
    ParameterImage image{};
    IpText ip{};
};

TEST_F(ProjectFileTest, RoundTripRestoresBothRunsAndTheAddressText)
{
    const fs::path path = dir / "hall1.qsdat";
    ASSERT_EQ(write_project_file(path, image, ip), project_ok);

    const auto bytes = file_bytes(path);
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(project_file_size));
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "QSDAT");
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[5]), image.data()[0]);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[258]), image.input_format);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[269]), image.system_spare2);
    EXPECT_TRUE(std::equal(ip.begin(), ip.end(), bytes.begin() + 270));

    ParameterImage loaded{};
    std::memset(loaded.data(), 0xEE, image_size);
    IpText loaded_ip;
    loaded_ip.fill('#');
    ASSERT_EQ(read_project_file(path, loaded, loaded_ip), project_ok);
    EXPECT_TRUE(std::equal(image.data(), image.data() + 265, loaded.data()));
    EXPECT_EQ(loaded_ip, ip);
    // Profile texts and device information stay out of projects.
    EXPECT_TRUE(std::all_of(loaded.data() + 265, loaded.data() + image_size,
                            [](std::uint8_t b) { return b == 0xEE; }));
}

TEST_F(ProjectFileTest, SavingOverAProjectReplacesItAndLeavesNoTemporaryFile)
{
    const fs::path path = dir / "hall1.qsdat";
    put_file(path, std::vector<char>(400, 'z'));
    ASSERT_EQ(write_project_file(path, image, ip), project_ok);
    EXPECT_EQ(file_bytes(path).size(), static_cast<std::size_t>(project_file_size));
    EXPECT_EQ(names_in(dir), std::set<std::string>{"hall1.qsdat"});
}

TEST_F(ProjectFileTest, SavingThroughALinkUpdatesTheLinkedProject)
{
    fs::create_directory(dir / "shared");
    const fs::path real = dir / "shared" / "hall1.qsdat";
    put_file(real, std::vector<char>(290, 'z'));
    const fs::path link = dir / "hall1.qsdat";
    fs::create_symlink(real, link);

    ASSERT_EQ(write_project_file(link, image, ip), project_ok);
    EXPECT_TRUE(fs::is_symlink(link));
    const auto bytes = file_bytes(real);
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(project_file_size));
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[5]), image.data()[0]);
    EXPECT_EQ(names_in(dir / "shared"), std::set<std::string>{"hall1.qsdat"});
}

// ---- what a read accepts ----

struct ReadCase {
    const char* name;
    std::vector<char> contents;
    int result;
    bool loads_runs;
    bool loads_ip;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

// The magic followed by `size - 5` bytes of a pattern unlike the fixture's.
std::vector<char> project_of_size(std::size_t size, const char* magic = "QSDAT")
{
    std::vector<char> b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<char>(0xA0 ^ (i * 11));
    std::copy_n(magic, std::min<std::size_t>(5, size), b.begin());
    return b;
}

class ReadProjectTest : public ProjectFileTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadProjectTest, LoadsOnlyWhatAWholeProjectHolds)
{
    const auto& c = GetParam();
    const fs::path path = dir / "in.qsdat";
    put_file(path, c.contents);
    const ParameterImage before = image;
    const IpText ip_before = ip;

    EXPECT_EQ(read_project_file(path, image, ip), c.result);

    ParameterImage expected = before;
    if (c.loads_runs) std::copy_n(c.contents.begin() + 5, 265, expected.data());
    EXPECT_TRUE(same_bytes(expected, image)) << "image offsets 0..264 from the file only when loaded; run C never";
    IpText expected_ip = ip_before;
    if (c.loads_ip) std::copy_n(c.contents.begin() + 270, 20, expected_ip.begin());
    EXPECT_EQ(ip, expected_ip);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ReadProjectTest,
    testing::Values(ReadCase{"Empty", {}, project_format_error, false, false},
                    ReadCase{"FourBytesOfMagic", project_of_size(4), project_format_error, false, false},
                    ReadCase{"WrongFifthByte", project_of_size(290, "QSDAX"), project_format_error, false, false},
                    ReadCase{"LowerCaseMagic", project_of_size(290, "qsdat"), project_format_error, false, false},
                    ReadCase{"MagicOnly", project_of_size(5), project_format_error, false, false},
                    ReadCase{"HundredBytes", project_of_size(100), project_format_error, false, false},
                    ReadCase{"OneShortOfBothRuns", project_of_size(269), project_format_error, false, false},
                    ReadCase{"BothRunsNoAddress", project_of_size(270), project_ok, true, false},
                    ReadCase{"AddressCutShort", project_of_size(289), project_ok, true, false},
                    ReadCase{"Whole", project_of_size(290), project_ok, true, true},
                    ReadCase{"TrailingBytesIgnored", project_of_size(300), project_ok, true, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(ProjectFileTest, UnopenableFilesChangeNothing)
{
    const ParameterImage before = image;
    const IpText ip_before = ip;
    EXPECT_EQ(read_project_file(dir / "missing.qsdat", image, ip), project_cannot_open);
    EXPECT_EQ(read_project_file(dir, image, ip), project_cannot_open) << "a folder is not a project";
    EXPECT_TRUE(same_bytes(image, before));
    EXPECT_EQ(ip, ip_before);
}

// ---- failed saves ----

TEST_F(ProjectFileTest, SaveWhereNoFileCanBeCreatedFails)
{
    put_file(dir / "plain", {'a'});
    const std::vector<fs::path> targets{
        dir / "plain" / "x.qsdat",          // parent is a regular file
        dir / "no_such_folder" / "x.qsdat",
        "/proc/tk770_project.qsdat",
    };
    for (const auto& target : targets) {
        EXPECT_EQ(write_project_file(target, image, ip), project_cannot_write) << target;
        EXPECT_FALSE(fs::exists(target)) << target;
    }
    EXPECT_EQ(names_in(dir), std::set<std::string>{"plain"});
    EXPECT_EQ(file_bytes(dir / "plain"), std::vector<char>{'a'});
}

TEST_F(ProjectFileTest, FailedReplaceKeepsTheTargetAndRemovesTheTemporaryFile)
{
    // The temporary file is written, but cannot be renamed over a folder.
    const fs::path target = dir / "taken.qsdat";
    fs::create_directory(target);
    put_file(target / "inside", {'k'});

    EXPECT_EQ(write_project_file(target, image, ip), project_cannot_write);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(file_bytes(target / "inside"), std::vector<char>{'k'});
    EXPECT_EQ(names_in(dir), std::set<std::string>{"taken.qsdat"});
}

TEST_F(ProjectFileTest, SaveIntoReadOnlyFolderKeepsTheExistingProject)
{
    const fs::path path = dir / "hall1.qsdat";
    const auto old_contents = project_of_size(290);
    put_file(path, old_contents);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    {
        // Permission bits do not hold back a privileged user.
        std::ofstream probe(dir / "probe");
        if (probe.is_open()) {
            probe.close();
            fs::remove(dir / "probe");
            GTEST_SKIP() << "folder permissions are not enforced for this user";
        }
    }
    EXPECT_EQ(write_project_file(path, image, ip), project_cannot_write);
    EXPECT_EQ(file_bytes(path), old_contents);
    EXPECT_EQ(names_in(dir), std::set<std::string>{"hall1.qsdat"});
}

TEST(FileResultMessage, FixedEnglishTextPerCode)
{
    EXPECT_EQ(file_result_message(project_cannot_open), "Can't open this file!");
    EXPECT_EQ(file_result_message(project_cannot_write), "Can't write this file!");
    EXPECT_EQ(file_result_message(project_format_error), "File Format Error!");
    EXPECT_EQ(file_result_message(project_ok), "");
    EXPECT_EQ(file_result_message(3), "");
}

}  // namespace
