// The tool's commands that need no processor: new, dump, diff, curve, and
// the argument checking that must refuse bad input before any link is made.
#include "cli/ctl_runner.h"

#include "core/parameter_image.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tk770;

namespace {

constexpr int file_image_start = 5;  // image offset o lies at file offset 5 + o
constexpr int file_ip_start = 270;

class OfflineTool : public testing::Test {
protected:
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // A new project, then the given image bytes patched in.
    QString project(const char* name, std::initializer_list<std::pair<int, int>> patches = {},
                    const QByteArray& ip = {})
    {
        const QString p = path(name);
        EXPECT_EQ(runTool({"new", "-o", p}).status, 0);
        QByteArray bytes = readAll(p);
        for (const auto& [offset, value] : patches) bytes[file_image_start + offset] = static_cast<char>(value);
        for (int i = 0; i < ip.size(); ++i) bytes[file_ip_start + i] = ip[i];
        EXPECT_TRUE(writeAll(p, bytes));
        return p;
    }

    QJsonObject dump(const QString& p)
    {
        const CtlRun r = runTool({"dump", p});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        QJsonParseError error{};
        const auto doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        return doc.object();
    }

    QTemporaryDir m_dir;
};

// ---- argument checking ----

struct UsageCase {
    const char* what;
    QStringList args;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.what; }

class UsageErrors : public testing::TestWithParam<UsageCase> {};

// The link options point at a port nobody listens on: a command that tried to
// connect would end with status 1, so status 2 also shows nothing was tried.
TEST_P(UsageErrors, ExitTwoWithAMessageAndNoLink)
{
    const CtlRun r = runTool(GetParam().args);
    EXPECT_EQ(r.status, 2) << GetParam().what << "\n" << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << GetParam().what;
    EXPECT_FALSE(r.err.isEmpty()) << GetParam().what;
}

const QString nowhere = QStringLiteral("127.0.0.1:1");

INSTANTIATE_TEST_SUITE_P(
    Arguments, UsageErrors,
    testing::Values(
        UsageCase{"no command", {}}, UsageCase{"unknown command", {"frobnicate"}},
        UsageCase{"unknown option", {"info", "--tcp", nowhere, "--bogus"}},
        UsageCase{"too many arguments", {"dump", "a", "b"}}, UsageCase{"too few arguments", {"diff", "a"}},
        UsageCase{"option of another command", {"dump", "x.qsdat", "--channel", "1"}},
        UsageCase{"link option on an offline command", {"dump", "x.qsdat", "--tcp", nowhere}},
        UsageCase{"device command without a link", {"info"}},
        UsageCase{"both links", {"info", "--tcp", nowhere, "--serial", "/dev/null"}},
        UsageCase{"port out of range", {"info", "--tcp", "127.0.0.1:70000"}},
        UsageCase{"port not a number", {"info", "--tcp", "127.0.0.1:x1"}},
        UsageCase{"empty host", {"info", "--tcp", ":15288"}},
        UsageCase{"second port", {"info", "--tcp", "127.0.0.1:21001:5"}},
        UsageCase{"IPv6 without brackets", {"info", "--tcp", "::1"}},
        UsageCase{"serial port past COM10", {"info", "--serial", "COM11"}},
        UsageCase{"serial port COM0", {"info", "--serial", "COM0"}},
        UsageCase{"bad time-out", {"info", "--tcp", nowhere, "--timeout-ms", "-5"}},
        UsageCase{"set value above range", {"set", "eq[3][14]", "61", "--tcp", nowhere}},
        UsageCase{"set value below range", {"set", "sw_filter[0].cut", "-121", "--tcp", nowhere}},
        UsageCase{"set value not a number", {"set", "master_volume", "loud", "--tcp", nowhere}},
        UsageCase{"set unknown field", {"set", "eq[7][0]", "0", "--tcp", nowhere}},
        UsageCase{"set read-only field", {"set", "device_serial", "X", "--tcp", nowhere}},
        UsageCase{"set field no control sends", {"set", "system_spare2", "1", "--tcp", nowhere}},
        UsageCase{"set profile text too long", {"set", "profile_text[0]", QString(40, 'x'), "--tcp", nowhere}},
        UsageCase{"get unknown field", {"get", "tone[1]", "--tcp", nowhere}},
        UsageCase{"netconfig over TCP", {"netconfig", "--tcp", nowhere}},
        UsageCase{"netconfig with two addresses", {"netconfig", "1.2.3.4", "1.2.3.4", "--serial", "/dev/null"}},
        UsageCase{"netconfig octet above 255", {"netconfig", "256.0.0.1", "255.0.0.0", "1.2.3.4", "--serial", "/dev/null"}},
        UsageCase{"netconfig two dots", {"netconfig", "10.0.1", "255.0.0.0", "1.2.3.4", "--serial", "/dev/null"}},
        UsageCase{"serial number over 16", {"serial-number", "12345678901234567", "--serial", "/dev/null"}},
        UsageCase{"serial number over TCP", {"serial-number", "1", "--tcp", nowhere}},
        UsageCase{"new without -o", {"new"}}, UsageCase{"read without output", {"read", "--tcp", nowhere}},
        UsageCase{"curve without channel", {"curve", "x.qsdat"}},
        UsageCase{"curve channel 8", {"curve", "x.qsdat", "--channel", "8"}},
        UsageCase{"diff of two files with a link", {"diff", "a", "b", "--tcp", nowhere}},
        UsageCase{"verify on read", {"read", "-o", "x.qsdat", "--verify", "--tcp", nowhere}},
        UsageCase{"backup without hosts", {"backup", "--dir", "."}},
        UsageCase{"backup without folder", {"backup", "--hosts", "h"}},
        UsageCase{"backup with a link", {"backup", "--hosts", "h", "--dir", ".", "--tcp", nowhere}},
        UsageCase{"backup with an argument", {"backup", "x", "--hosts", "h", "--dir", "."}},
        UsageCase{"backup jobs 0", {"backup", "--hosts", "h", "--dir", ".", "--jobs", "0"}},
        UsageCase{"backup jobs 65", {"backup", "--hosts", "h", "--dir", ".", "--jobs", "65"}},
        UsageCase{"backup jobs not a number", {"backup", "--hosts", "h", "--dir", ".", "--jobs", "4x"}},
        UsageCase{"backup bad time-out", {"backup", "--hosts", "h", "--dir", ".", "--timeout-ms", "0"}}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (auto& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(ToolHelp, PrintsTheCommandsAndSucceeds)
{
    const CtlRun r = runTool({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* command : {"info", "download", "netconfig", "serial-number", "curve", "diff", "backup", "--verify",
                                "--hosts", "--dir", "--jobs", "NAME tcp:HOST[:PORT]"})
        EXPECT_TRUE(r.out.contains(QString::fromLatin1(command))) << command;
}

// ---- new and dump ----

TEST_F(OfflineTool, NewProjectDumpsTheNewProjectValues)
{
    const QString p = path("new.qsdat");
    const CtlRun r = runTool({"new", "-o", p});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(readAll(p).size(), 290);

    const QJsonObject json = dump(p);
    EXPECT_EQ(json["master_volume"].toInt(), 70);
    EXPECT_EQ(json["system_spare2"].toInt(), 83);
    EXPECT_EQ(json["mic_routing"].toInt(), 4);
    EXPECT_EQ(json["power_on_format"].toInt(), 5);
    EXPECT_EQ(json["fade_time"].toInt(), 4);
    EXPECT_EQ(json["input_level"].toArray(), (QJsonArray{80, 80, 80, 80, 80}));
    EXPECT_EQ(json["level_spare"].toArray(), (QJsonArray{80, 80, 80}));
    EXPECT_EQ(json["output_gain"].toArray(), (QJsonArray{44, 44, 44, 44, 44, 44, 44, 44}));
    EXPECT_EQ(json["output_delay"].toArray(), (QJsonArray{0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(json["device_ip_text"].toString(), QString());
}

TEST_F(OfflineTool, DumpShapeFollowsTheImage)
{
    // eq[3][14] = -60, sw_filter[1].cut = -120, tone[6].treble_freq = 9.
    const QString p = project("shape.qsdat",
                              {{TK770_OFFSET(eq[3][14]), 0xC4}, {TK770_OFFSET(sw_filter[1].cut), 0x88},
                               {TK770_OFFSET(tone[6].treble_freq), 9}},
                              "10.1.2.3");
    const QJsonObject json = dump(p);

    const QJsonArray eq = json["eq"].toArray();
    ASSERT_EQ(eq.size(), 7);
    for (const auto& row : eq) EXPECT_EQ(row.toArray().size(), 27);
    EXPECT_EQ(eq[3].toArray()[14].toInt(), -60);
    EXPECT_EQ(eq[3].toArray()[13].toInt(), 0);

    const QJsonArray tone = json["tone"].toArray();
    ASSERT_EQ(tone.size(), 7);
    EXPECT_EQ(tone[0].toObject(), (QJsonObject{{"bass_gain", 1}, {"bass_freq", 3}, {"treble_gain", 1}, {"treble_freq", 3}}));
    EXPECT_EQ(tone[6].toObject()["treble_freq"].toInt(), 9);

    const QJsonArray filters = json["sw_filter"].toArray();
    ASSERT_EQ(filters.size(), 2);
    EXPECT_EQ(filters[0].toObject(), (QJsonObject{{"fc", 60}, {"cut", 0}, {"q", 2}}));
    EXPECT_EQ(filters[1].toObject(), (QJsonObject{{"fc", 80}, {"cut", -120}, {"q", 2}}));

    EXPECT_EQ(json["device_ip_text"].toString(), QStringLiteral("10.1.2.3"));
    // A project holds no profile texts or device information.
    for (const char* key : {"profile_text", "device_model", "device_serial", "firmware_version", "firmware_date"})
        EXPECT_FALSE(json.contains(QString::fromLatin1(key))) << key;
}

struct FileErrorCase {
    const char* what;
    QByteArray content;  // empty with missing: no file at all
    bool missing;
    const char* message;
};

void PrintTo(const FileErrorCase& c, std::ostream* os) { *os << c.what; }

class DumpFileErrors : public testing::TestWithParam<FileErrorCase> {};

TEST_P(DumpFileErrors, ExitThreeWithTheFileMessage)
{
    QTemporaryDir dir;
    const QString p = dir.filePath("x.qsdat");
    if (!GetParam().missing) {
        ASSERT_TRUE(writeAll(p, GetParam().content));
    }
    for (const QStringList& args : {QStringList{"dump", p}, QStringList{"curve", p, "--channel", "0"},
                                    QStringList{"download", p, "--tcp", "127.0.0.1:1"}}) {
        const CtlRun r = runTool(args);
        EXPECT_EQ(r.status, 3) << GetParam().what << " " << args.first().toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(GetParam().message))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Files, DumpFileErrors,
                         testing::Values(FileErrorCase{"missing", {}, true, "Can't open this file!"},
                                         FileErrorCase{"empty", {}, false, "File Format Error!"},
                                         FileErrorCase{"four_bytes", "QSDA", false, "File Format Error!"},
                                         FileErrorCase{"wrong_magic", QByteArray("QSDAX") + QByteArray(285, 0),
                                                       false, "File Format Error!"}),
                         [](const testing::TestParamInfo<FileErrorCase>& info) { return std::string(info.param.what); });

TEST_F(OfflineTool, NewIntoAnUnwritablePlaceIsAFileError)
{
    const CtlRun r = runTool({"new", "-o", path("no/such/dir/x.qsdat")});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.err.contains("Can't write this file!"));
}

// ---- diff ----

struct DiffCase {
    const char* what;
    std::vector<std::pair<int, int>> patches;  // applied to B only
    QByteArray ipB;
    QStringList lines;
};

void PrintTo(const DiffCase& c, std::ostream* os) { *os << c.what; }

class ProjectDiff : public OfflineTool, public testing::WithParamInterface<DiffCase> {};

TEST_P(ProjectDiff, ListsEachDifferingFieldByName)
{
    const auto& c = GetParam();
    const QString a = project("a.qsdat");
    const QString b = path("b.qsdat");
    ASSERT_EQ(runTool({"new", "-o", b}).status, 0);
    QByteArray bytes = readAll(b);
    for (const auto& [offset, value] : c.patches) bytes[file_image_start + offset] = static_cast<char>(value);
    for (int i = 0; i < c.ipB.size(); ++i) bytes[file_ip_start + i] = c.ipB[i];
    ASSERT_TRUE(writeAll(b, bytes));

    const CtlRun r = runTool({"diff", a, b});
    EXPECT_EQ(r.status, c.lines.isEmpty() ? 0 : 1) << r.err.toStdString();
    QStringList got = r.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(got, c.lines) << r.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProjectDiff,
    testing::Values(DiffCase{"equal", {}, {}, {}},
                    DiffCase{"eq_band", {{TK770_OFFSET(eq[3][14]), 0xC4}}, {}, {"eq[3][14]: 0 -> -60"}},
                    DiffCase{"record_member", {{TK770_OFFSET(tone[1].bass_gain), 5}}, {}, {"tone[1].bass_gain: 1 -> 5"}},
                    DiffCase{"subwoofer_and_last_byte",
                             {{TK770_OFFSET(sw_filter[1].cut), 0x88}, {TK770_OFFSET(system_spare2), 0}},
                             {},
                             {"sw_filter[1].cut: 0 -> -120", "system_spare2: 83 -> 0"}},
                    DiffCase{"spare_and_index", {{TK770_OFFSET(level_spare[2]), 1}, {TK770_OFFSET(output_delay[7]), 200}},
                             {}, {"level_spare[2]: 80 -> 1", "output_delay[7]: 0 -> 200"}},
                    DiffCase{"device_ip_text", {}, "192.168.0.8", {"device_ip_text: \"\" -> \"192.168.0.8\""}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(OfflineTool, DiffWithAMissingFileIsAFileError)
{
    const QString a = project("a.qsdat");
    const CtlRun r = runTool({"diff", a, path("missing.qsdat")});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.out.isEmpty());
}

// ---- curve ----

struct CsvPoint {
    int k;
    double frequency;
    double db;
    int row;
};

std::vector<CsvPoint> parseCsv(const QString& text)
{
    std::vector<CsvPoint> points;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split(',');
        if (f.size() != 4) return {};
        points.push_back({f[0].toInt(), f[1].toDouble(), f[2].toDouble(), f[3].toInt()});
    }
    return points;
}

struct FlatCase {
    int channel;
    int row;
};

void PrintTo(const FlatCase& c, std::ostream* os) { *os << "channel " << c.channel << " on row " << c.row; }

class FlatCurve : public OfflineTool, public testing::WithParamInterface<FlatCase> {};

// A new project has flat EQ and +0.1 dB shelves (flat subwoofer sections):
// the whole curve lies on one row, 96 on the channel pages, 47 on SW.
TEST_P(FlatCurve, LiesOnOneRow)
{
    const QString p = project("flat.qsdat");
    const CtlRun r = runTool({"curve", p, "--channel", QString::number(GetParam().channel)});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const auto points = parseCsv(r.out);
    ASSERT_EQ(points.size(), 315u);
    for (std::size_t k = 0; k < points.size(); ++k) {
        EXPECT_EQ(points[k].k, static_cast<int>(k));
        EXPECT_EQ(points[k].row, GetParam().row) << "k " << k;
    }
    EXPECT_NEAR(points[6].frequency, 20.0, 0.001);
    EXPECT_GT(points[314].frequency, 24000.0);
    EXPECT_LT(points[313].frequency, 24000.0);
}

INSTANTIATE_TEST_SUITE_P(Channels, FlatCurve,
                         testing::Values(FlatCase{0, 96}, FlatCase{3, 96}, FlatCase{6, 96}, FlatCase{7, 47}),
                         [](const testing::TestParamInfo<FlatCase>& info) {
                             return "channel_" + std::to_string(info.param.channel) + "_row_" +
                                    std::to_string(info.param.row);
                         });

TEST_F(OfflineTool, CurveFollowsTheChannelsOwnSettings)
{
    // +6.0 dB at 1000 Hz on channel 2 only.
    const QString p = project("band.qsdat", {{TK770_OFFSET(eq[2][14]), 60}});
    const auto right = parseCsv(runTool({"curve", p, "--channel", "2"}).out);
    const auto left = parseCsv(runTool({"curve", p, "--channel", "0"}).out);
    ASSERT_EQ(right.size(), 315u);
    ASSERT_EQ(left.size(), 315u);
    // Column 358 (1002 Hz) is point 176; the band edges are columns 348 and 368.
    EXPECT_EQ(right[176].row, 41);
    EXPECT_NEAR(right[176].frequency, 1002.0, 0.5);
    EXPECT_NEAR(right[176].db, 6.0, 0.05);
    EXPECT_TRUE(right[171].row == 59 || right[171].row == 60) << right[171].row;
    EXPECT_TRUE(right[181].row == 59 || right[181].row == 60) << right[181].row;
    EXPECT_EQ(left[176].row, 96);
}

TEST_F(OfflineTool, ShelfRuleLeavesTheFileAlone)
{
    // A bass gain of 0 is drawn as +0.1 dB, but only in the tool's copy.
    const QString p = project("zero.qsdat", {{TK770_OFFSET(tone[0].bass_gain), 0}});
    const QByteArray before = readAll(p);
    const CtlRun r = runTool({"curve", p, "--channel", "0"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(parseCsv(r.out)[0].row, 96);
    EXPECT_EQ(readAll(p), before);
}

TEST_F(OfflineTool, PngIsTheGraphWithItsCurve)
{
    const QString p = project("flat.qsdat");
    const QString png = path("graph.png");
    const CtlRun r = runTool({"curve", p, "--channel", "7", "--png", png});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), 315);
    QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(635, 195));
    // The SW curve runs on row 47 (2-pixel pen: rows 47 and 48) over the grey grid.
    EXPECT_EQ(image.pixel(18, 47) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(image.pixel(1, 97) & 0xFFFFFF, 0x808080u);
    EXPECT_EQ(image.pixel(300, 150) & 0xFFFFFF, 0x000000u);
}

TEST_F(OfflineTool, PngIntoAnUnwritablePlaceIsAFileError)
{
    const QString p = project("flat.qsdat");
    const CtlRun r = runTool({"curve", p, "--channel", "1", "--png", path("no/dir/g.png")});
    EXPECT_EQ(r.status, 3);
}

}  // namespace
