// The gateway's command line: what it takes, and what it refuses before
// anything listens (above all a text or web remote open to the network
// without a token).
#include "gateway/gateway_options.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    }
    QStringList expand(QStringList args)
    {
        for (QString& a : args) {
            if (a == QLatin1String("TOKEN")) a = dir.filePath(QStringLiteral("token"));
            if (a == QLatin1String("EMPTY")) a = dir.filePath(QStringLiteral("empty"));
            if (a == QLatin1String("MISSING")) a = dir.filePath(QStringLiteral("missing"));
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

}  // namespace
