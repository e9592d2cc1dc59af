// The program as scripts run it: its own main, which makes the application
// object only once a command runs.
#include "support/program_run.h"
#include "support/sim_process.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using tk770::testing::ProgramRun;
using tk770::testing::SimProcess;
using tk770::testing::runProgram;

namespace {

const QString program = QStringLiteral(TK770CTL_PATH);

TEST(ToolProgram, AnswersEveryKindOfRunFromItsOwnPlace)
{
    if (!SimProcess::available()) GTEST_SKIP() << "simulator not built";
    SimProcess sim;
    ASSERT_TRUE(sim.start(SimProcess::tcpArgs())) << sim.error().toStdString();
    const QString target = QStringLiteral("%1:%2").arg(sim.tcpHost()).arg(sim.tcpPort());
    QTemporaryDir dir;

    const ProgramRun help = runProgram(program, {"--help"});
    EXPECT_EQ(help.status, 0);
    // Without the application object the usage line still names the program.
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: %1 [options]").arg(program))) << help.out.left(80).toStdString();

    EXPECT_EQ(runProgram(program, {"new", "-o", dir.filePath("new.qsdat")}).status, 0);
    EXPECT_EQ(QFile(dir.filePath("new.qsdat")).size(), 290);

    const ProgramRun info = runProgram(program, {"info", "--tcp", target});
    EXPECT_EQ(info.status, 0) << info.err.toStdString();
    EXPECT_TRUE(info.out.startsWith(QStringLiteral("model: "))) << info.out.toStdString();

    const ProgramRun read = runProgram(program, {"read", "-o", dir.filePath("read.qsdat"), "--tcp", target});
    EXPECT_EQ(read.status, 0) << read.err.toStdString();
    const ProgramRun diff = runProgram(program, {"diff", dir.filePath("read.qsdat"), "--tcp", target});
    EXPECT_EQ(diff.status, 0) << diff.out.toStdString() << diff.err.toStdString();

    // The link's failures still reach the script as exit 1 with the reason.
    const ProgramRun refused = runProgram(program, {"info", "--tcp", "127.0.0.1:1", "--timeout-ms", "2000"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_FALSE(refused.err.isEmpty());
}

TEST(ToolProgram, ACopyWithNothingBesideItRunsEveryKindOfCommand)
{
    // A copy of the program alone in a folder: it needs nothing of its own
    // beside it, so processor commands reach the link and report its failure.
    QTemporaryDir dir;
    const QString lone = dir.filePath("tk770ctl");
    ASSERT_TRUE(QFile::copy(program, lone));

    const ProgramRun info = runProgram(lone, {"info", "--tcp", "127.0.0.1:1", "--timeout-ms", "2000"});
    EXPECT_EQ(info.status, 1);
    EXPECT_TRUE(info.err.startsWith("tk770ctl: ")) << info.err.toStdString();
    EXPECT_FALSE(info.err.contains("cannot be loaded")) << info.err.toStdString();
    EXPECT_TRUE(info.out.isEmpty());

    // backup reaches processors through its hosts file: a missing one is the
    // file's error, exit 3.
    const ProgramRun backup = runProgram(lone, {"backup", "--hosts", dir.filePath("none"), "--dir", dir.path()});
    EXPECT_EQ(backup.status, 3) << backup.err.toStdString();
    EXPECT_FALSE(backup.err.isEmpty());

    EXPECT_EQ(runProgram(lone, {"--version"}).status, 0);
    EXPECT_EQ(runProgram(lone, {"new", "-o", dir.filePath("new.qsdat")}).status, 0);
    const ProgramRun usage = runProgram(lone, {"info"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_TRUE(usage.err.contains("needs one of --tcp")) << usage.err.toStdString();
}

}  // namespace
