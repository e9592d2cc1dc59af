// The simulator's command line: what it refuses and the reason it gives.
#include "sim/sim_server.h"

#include <gtest/gtest.h>

namespace tk770 {
namespace {

TEST(SimArguments, FaultSpecsSayWhatIsWrong)
{
    struct Case {
        const char* spec;
        const char* message;
    };
    const Case cases[] = {
        {"no-reply:0", "fault no-reply:0: period out of range: 0 (1 to 2147483647)"},
        {"delay:-5", "fault delay:-5: delay in ms out of range: -5 (0 to 2147483647)"},
        {"delay:99999999999", "fault delay:99999999999: delay in ms out of range: 99999999999 (0 to 2147483647)"},
        {"short:x", "fault short:x: period not a whole number: x (1 to 2147483647)"},
        {"close@0", "fault close@0: request number out of range: 0 (1 to 2147483647)"},
        {"jitter:5", "unknown fault jitter:5 ("},
    };
    for (const auto& c : cases) {
        QString error;
        const auto options =
            parseSimArguments({"tk770-sim", "--tcp", "127.0.0.1:0", "--fault", QString::fromLatin1(c.spec)}, error);
        EXPECT_FALSE(options.has_value()) << c.spec;
        EXPECT_TRUE(error.startsWith(QString::fromLatin1(c.message))) << c.spec << ": " << error.toStdString();
    }
    QString error;
    EXPECT_TRUE(parseSimArguments({"tk770-sim", "--tcp", "127.0.0.1:0", "--fault", "delay:0", "--fault", "close@3"},
                                  error)
                    .has_value())
        << error.toStdString();
}

}  // namespace
}  // namespace tk770
