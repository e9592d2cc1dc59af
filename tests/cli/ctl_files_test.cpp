// What the tool does with the files it is given and the texts it prints:
// targets that are not regular files, unreadable sources, all-or-nothing
// outputs, out-of-range projects, escaped device texts, and the messages
// that say what is wrong.
#include "cli/ctl_runner.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString nowhere = QStringLiteral("127.0.0.1:1");
constexpr int file_image_start = 5;

class ToolFiles : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_EQ(::mkfifo(path("fifo").toLocal8Bit().constData(), 0600), 0);
        QDir(m_dir.path()).mkdir("folder");
        ASSERT_TRUE(writeAll(path("old"), "old contents"));
        ASSERT_TRUE(QFile::link(path("old"), path("link")));
        ASSERT_EQ(runTool({"new", "-o", path("project.qsdat")}).status, 0);
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

// Every command that writes a file treats its target alike.
TEST_F(ToolFiles, WritersRefuseTargetsThatAreNotRegularFiles)
{
    struct Target {
        const char* what;
        QString path;
        bool written;
        const char* reason;
    };
    const QString longName = path(QString(255, 'n'));
    const Target targets[] = {
        {"a new file", path("fresh"), true, ""},
        {"a regular file", path("old"), true, ""},
        {"a link to a regular file", path("link"), true, ""},
        {"a name of 255 bytes", longName, true, ""},
        {"a FIFO", path("fifo"), false, "not a regular file"},
        {"a device", QStringLiteral("/dev/full"), false, "not a regular file"},
        {"a folder", path("folder"), false, "not a regular file"},
        {"a missing folder", path("missing/x"), false, "No such file or directory"},
    };
    const QList<QStringList> writers = {
        {"new", "-o"},
        {"curve", path("project.qsdat"), "--channel", "2", "--png"},
    };
    for (const auto& writer : writers) {
        for (const auto& t : targets) {
            SCOPED_TRACE(writer.first().toStdString() + ": " + t.what);
            QFile::remove(path("fresh"));
            const CtlRun r = runTool(writer + QStringList{t.path});
            if (t.written) {
                EXPECT_EQ(r.status, 0) << r.err.toStdString();
                EXPECT_TRUE(QFileInfo(t.path).isFile());
            } else {
                EXPECT_EQ(r.status, 3);
                EXPECT_TRUE(r.err.contains(t.path)) << r.err.toStdString();
                EXPECT_TRUE(r.err.contains(QString::fromLatin1(t.reason))) << r.err.toStdString();
            }
        }
        EXPECT_TRUE(QFileInfo(path("link")).isSymLink());
        EXPECT_EQ(QFileInfo(path("fifo")).isFile(), false);
    }
    EXPECT_FALSE(QFileInfo(QStringLiteral("/dev/full")).isFile()) << "the device node is untouched";
}

// read checks its targets before it asks the processor: nothing is read
// for a result that could not be kept, and nothing is replaced.
TEST_F(ToolFiles, ReadRefusesABadTargetBeforeReachingTheProcessor)
{
    for (const QStringList& outputs : {QStringList{"-o", path("fifo")}, QStringList{"--json", path("folder")},
                                       QStringList{"-o", path("old"), "--json", "/dev/null"}}) {
        const CtlRun r = runTool(QStringList{"read", "--tcp", nowhere} + outputs);
        EXPECT_EQ(r.status, 3) << outputs.join(' ').toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("not a regular file")) << r.err.toStdString();
    }
    EXPECT_EQ(readAll(path("old")), "old contents");
}

TEST_F(ToolFiles, ReadersRefuseWhatIsNotARegularFileAtOnce)
{
    const QString p = path("project.qsdat");
    const QList<QStringList> readers = {
        {"dump"}, {"diff", p}, {"curve", "--channel", "0"}, {"download", "--tcp", nowhere},
    };
    for (const auto& reader : readers) {
        for (const QString& source : {path("fifo"), path("folder"), QStringLiteral("/dev/zero")}) {
            QStringList args = reader;
            args.insert(1, source);
            const CtlRun r = runTool(args);
            EXPECT_EQ(r.status, 3) << args.join(' ').toStdString();
            EXPECT_TRUE(r.err.contains("Can't open this file!")) << r.err.toStdString();
        }
    }
}

TEST_F(ToolFiles, DownloadRefusesFieldsOutOfRangeUnlessForced)
{
    const QString p = path("project.qsdat");
    // master_volume sits at image offset 0x131 - 300 + 253.
    QByteArray bytes = readAll(p);
    bytes[file_image_start + 253 + (0x131 - 300)] = static_cast<char>(169);
    ASSERT_TRUE(writeAll(p, bytes));

    const CtlRun refused = runTool({"download", p, "--tcp", nowhere});
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.err.contains("master_volume 169 (0..100)")) << refused.err.toStdString();

    const CtlRun forced = runTool({"download", p, "--force", "--tcp", nowhere});
    EXPECT_EQ(forced.status, 1) << "forced on to the link, which nobody answers: " << forced.err.toStdString();

    const CtlRun dumped = runTool({"dump", p});
    EXPECT_EQ(dumped.status, 0);
    EXPECT_TRUE(dumped.err.contains("out of range: master_volume 169 (0..100)")) << dumped.err.toStdString();
    EXPECT_TRUE(dumped.out.contains("\"master_volume\": 169"));
}

TEST_F(ToolFiles, DiffShowsControlCharactersInsteadOfObeyingThem)
{
    const QString a = path("project.qsdat");
    const QString b = path("b.qsdat");
    QByteArray bytes = readAll(a);
    bytes.replace(270, 8, QByteArray("1.2\n\x1b[2J", 8));
    ASSERT_TRUE(writeAll(b, bytes));
    const CtlRun r = runTool({"diff", a, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, QStringLiteral("device_ip_text: \"\" -> \"1.2\\n\\u001b[2J\"\n"));
}

TEST(ToolMessages, SayTheRealReason)
{
    struct Case {
        const char* what;
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        // The program receives bytes that are not UTF-8 as U+FFFD.
        {"serial number not UTF-8", {"serial-number", QStringLiteral("A") + QChar(0xFFFD), "--serial", "/dev/null"},
         "not valid UTF-8"},
        {"serial number of 9 Chinese characters", {"serial-number", QStringLiteral("影厅影厅影厅影厅影"), "--serial", "/dev/null"},
         "is 18 bytes in code page 936; at most 16 fit"},
        {"serial number outside code page 936", {"serial-number", QStringLiteral("A\U0001F600"), "--serial", "/dev/null"},
         "has no code page 936 form"},
        {"serial number with a control character", {"serial-number", QStringLiteral("SN\n1"), "--serial", "/dev/null"},
         "holds a control character (U+000A)"},
        {"profile text with an escape", {"set", "profile_text[0]", QStringLiteral("a\x1b[2J"), "--tcp", nowhere},
         "holds a control character (U+001B)"},
        {"-o on a command without it", {"info", "-o", "x", "--tcp", nowhere}, "option -o/--output does not apply to info"},
        {"--output on a command without it", {"info", "--output", "x", "--tcp", nowhere},
         "option -o/--output does not apply to info"},
    };
    for (const auto& c : cases) {
        const CtlRun r = runTool(c.args);
        EXPECT_EQ(r.status, 2) << c.what;
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << c.what << ": " << r.err.toStdString();
    }
}

}  // namespace

#include "cli/DeviceSession.h"

namespace {

TEST(SerialDeviceNames, OnlyCom1ToCom10AreNumberedPorts)
{
    const std::pair<const char*, int> cases[] = {
        {"COM1", 1}, {"COM9", 9},   {"COM10", 10}, {"COM0", 0},       {"COM01", 0}, {"COM11", 0},
        {"COM", 0},  {"com1", 0},   {"COM1x", 0},  {"COM-1", 0},      {" COM1", 0}, {"/dev/ttyS0", 0},
    };
    for (const auto& [name, port] : cases) EXPECT_EQ(tk770::comPortNumber(QString::fromLatin1(name)), port) << name;
}

}  // namespace
