// The gateway's command line: what it takes, and what it refuses before
// anything listens (above all a text or web remote open to the network
// without a token, and files that would block it or leak the token).
#include "gateway/gateway_options.h"
#include "gateway_fixture.h"
#include "support/program_run.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tk770;

namespace {

struct OptionRow {
    QStringList args;  // after the program name; TOKEN stands for a valid token file
    const char* error;  // a part of the refusal, "" for accepted
};

class GatewayArguments : public ::testing::TestWithParam<OptionRow> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile token(dir.filePath(QStringLiteral("token")));
        ASSERT_TRUE(token.open(QIODevice::WriteOnly));
        token.write("  Zq8-token-77\nsecond line ignored\n");
        QFile empty(dir.filePath(QStringLiteral("empty")));
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
    }
    QStringList expand(QStringList args)
    {
        for (QString& a : args) {
            if (a == QLatin1String("TOKEN")) a = dir.filePath(QStringLiteral("token"));
            if (a == QLatin1String("EMPTY")) a = dir.filePath(QStringLiteral("empty"));
            if (a == QLatin1String("MISSING")) a = dir.filePath(QStringLiteral("missing"));
            if (a == QLatin1String("FIFO")) a = dir.filePath(QStringLiteral("fifo"));
            if (a == QLatin1String("DIR")) a = dir.path();
        }
        return QStringList{QStringLiteral("tk770-gateway")} + args;
    }
    QTemporaryDir dir;
};

TEST_P(GatewayArguments, AcceptsOrRefusesWithAReason)
{
    QString error;
    const auto options = parseGatewayArguments(expand(GetParam().args), error);
    const std::string expected = GetParam().error;
    if (expected.empty()) {
        EXPECT_TRUE(options.has_value()) << error.toStdString();
    } else {
        EXPECT_FALSE(options.has_value());
        EXPECT_NE(error.toStdString().find(expected), std::string::npos) << error.toStdString();
    }
}

const QString dev = QStringLiteral("--device");
const QString tcp = QStringLiteral("tcp:192.0.2.8");

INSTANTIATE_TEST_SUITE_P(
    Table, GatewayArguments,
    ::testing::Values(
        OptionRow{{dev, tcp}, ""},
        OptionRow{{dev, QStringLiteral("serial:/dev/ttyUSB0"), QStringLiteral("-v")}, ""},
        OptionRow{{dev, QStringLiteral("serial:COM3"), QStringLiteral("--binary"), QStringLiteral("off")}, ""},
        OptionRow{{}, "--device"},
        OptionRow{{dev, tcp, QStringLiteral("extra")}, "unexpected argument"},
        OptionRow{{dev, tcp, QStringLiteral("--text"), QStringLiteral("127.0.0.1")}, "--text wants ADDR:PORT or off"},
        OptionRow{{dev, tcp, QStringLiteral("--http"), QStringLiteral("here:80")}, "--http wants ADDR:PORT or off"},
        OptionRow{{dev, tcp, QStringLiteral("--binary"), QStringLiteral("127.0.0.1:70000")}, "--binary wants"},
        // Reachable from the network: a token is required for text and web.
        OptionRow{{dev, tcp, QStringLiteral("--text"), QStringLiteral("0.0.0.0:15289")}, "--token-file"},
        OptionRow{{dev, tcp, QStringLiteral("--text"), QStringLiteral("off"), QStringLiteral("--http"),
                   QStringLiteral("192.0.2.1:8770")},
                  "--token-file"},
        OptionRow{{dev, tcp, QStringLiteral("--text"), QStringLiteral("0.0.0.0:0"), QStringLiteral("--http"),
                   QStringLiteral("0.0.0.0:0"), QStringLiteral("--token-file"), QStringLiteral("TOKEN")},
                  ""},
        // The binary listener is guarded by --allow instead.
        OptionRow{{dev, tcp, QStringLiteral("--binary"), QStringLiteral("0.0.0.0:15288")}, ""},
        OptionRow{{dev, tcp, QStringLiteral("--allow"), QStringLiteral("192.0.2.0/24"), QStringLiteral("--allow"),
                   QStringLiteral("10.0.0.0/8")},
                  ""},
        OptionRow{{dev, tcp, QStringLiteral("--allow"), QStringLiteral("192.0.2.0")}, "--allow wants"},
        OptionRow{{dev, tcp, QStringLiteral("--allow"), QStringLiteral("lan")}, "--allow wants"},
        OptionRow{{dev, tcp, QStringLiteral("--token-file"), QStringLiteral("MISSING")}, "cannot read the token file"},
        OptionRow{{dev, tcp, QStringLiteral("--token-file"), QStringLiteral("EMPTY")}, "must hold one word"},
        // Opening a FIFO would block before a word is said.
        OptionRow{{dev, tcp, QStringLiteral("--token-file"), QStringLiteral("FIFO")}, "not a regular file"},
        OptionRow{{dev, tcp, QStringLiteral("--token-file"), QStringLiteral("DIR")}, "not a regular file"},
        OptionRow{{dev, tcp, QStringLiteral("--audit"), QStringLiteral("FIFO")},
                  "cannot use the audit file"},
        OptionRow{{dev, tcp, QStringLiteral("--audit"), QStringLiteral("DIR")}, "not a regular file"},
        OptionRow{{dev, tcp, QStringLiteral("--audit"), QStringLiteral("MISSING")}, ""},
        OptionRow{{dev, tcp, QStringLiteral("--audit"), QStringLiteral("EMPTY")}, ""},
        OptionRow{{dev, tcp, QStringLiteral("--text-idle-ms"), QStringLiteral("0")}, "milliseconds"},
        OptionRow{{dev, tcp, dev, tcp}, "more than once"}),
    [](const auto& info) { return "row" + std::to_string(info.index); });

TEST(GatewayArgumentsValues, DefaultsAndTheTokensFirstLine)
{
    QTemporaryDir dir;
    QFile token(dir.filePath(QStringLiteral("t")));
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write("  Zq8-token-77\r\nsecond\n");
    token.close();
    QString error;
    auto options = parseGatewayArguments({QStringLiteral("tk770-gateway"), dev, tcp, QStringLiteral("--token-file"),
                                          token.fileName()},
                                         error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_EQ(options->token, QByteArray("Zq8-token-77"));
    EXPECT_EQ(options->binary.text(), QStringLiteral("127.0.0.1:15288"));
    EXPECT_EQ(options->text.text(), QStringLiteral("127.0.0.1:15289"));
    EXPECT_EQ(options->http.text(), QStringLiteral("127.0.0.1:8770"));
    EXPECT_TRUE(options->binary.on && options->text.on && options->http.on);
    EXPECT_EQ(options->textIdleMs, 10 * 60 * 1000);
}

TEST(GatewayTokenFile, OneOthersMayReadIsTakenWithAWarning)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("token"));
    QFile token(path);
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write("Zq8-token-77\n");
    token.close();
    struct Mode {
        QFileDevice::Permissions permissions;
        bool warns;
    };
    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const Mode modes[] = {{owner, false},
                          {owner | QFileDevice::ReadGroup, true},
                          {owner | QFileDevice::ReadOther, true},
                          {owner | QFileDevice::WriteGroup, false}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(static_cast<int>(m.permissions));
        ASSERT_TRUE(QFile::setPermissions(path, m.permissions));
        QString error;
        const auto options =
            parseGatewayArguments({QStringLiteral("tk770-gateway"), dev, tcp, QStringLiteral("--token-file"), path}, error);
        ASSERT_TRUE(options) << error.toStdString();
        EXPECT_EQ(options->token, QByteArray("Zq8-token-77"));
        ASSERT_EQ(options->warnings.size(), m.warns ? 1 : 0);
        if (m.warns) {
            EXPECT_TRUE(options->warnings[0].contains(path)) << options->warnings[0].toStdString();
            EXPECT_TRUE(options->warnings[0].contains(QStringLiteral("read by other users")));
        }
    }
}

// The program itself: a FIFO is refused at once with the usage status, and
// the warning reaches stderr before anything else happens.
TEST(GatewayProgramFiles, FifoIsRefusedBeforeAnythingBlocksAndAReadableTokenIsWarnedOf)
{
    if (tk770::testing::gatewayProgram().isEmpty()) GTEST_SKIP() << "gateway not built";
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const char* option : {"--token-file", "--audit"}) {
        SCOPED_TRACE(option);
        const auto run = tk770::testing::runProgram(tk770::testing::gatewayProgram(),
                                                    {dev, tcp, QString::fromLatin1(option), fifo, QStringLiteral("--http"),
                                                     QStringLiteral("off")});
        EXPECT_EQ(run.status, 2) << "-1: it blocked or crashed";
        EXPECT_TRUE(run.err.contains(fifo + QStringLiteral(": not a regular file"))) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }

    const QString token = dir.filePath(QStringLiteral("token"));
    QFile file(token);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Zq8-token-77\n");
    file.close();
    ASSERT_TRUE(QFile::setPermissions(token, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    // An address it cannot listen on ends the run after the warning.
    const auto run = tk770::testing::runProgram(
        tk770::testing::gatewayProgram(),
        {dev, tcp, QStringLiteral("--token-file"), token, QStringLiteral("--binary"), QStringLiteral("192.0.2.254:0"),
         QStringLiteral("--text"), QStringLiteral("off"), QStringLiteral("--http"), QStringLiteral("off")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("tk770-gateway: warning: the token file ") + token))
        << run.err.toStdString();
}

}  // namespace
