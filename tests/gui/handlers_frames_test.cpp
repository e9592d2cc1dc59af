// One table of operator actions, one per handler path, each with the image
// bytes it must leave, the one frame it must send and the read-out it must
// show. The same table runs three ways: connected, disconnected (image and
// read-outs change, nothing is sent) and while a refresh is painting
// (guarded handlers change nothing, the others act as usual).
#include "gui/handlers_fixture.h"

#include "core/captions.h"

#include <functional>
#include <string>

using tk770::fontColor;

namespace {

struct HandlerCase {
    const char* name;
    int tab;  // channel page selected first; -1 leaves the start-up page
    std::function<void(TForm1&)> act;
    std::uint8_t cmd;
    int address;
    Bytes sent;    // data of the frame
    Bytes stored;  // image bytes at `address` afterwards; empty: as sent
    std::function<QString(TForm1&)> readout;
    std::string_view text;
    bool guarded;  // ignored while `refreshing` is set
    bool redraws;
};

QString red(QWidget* w) { return fontColor(w) == 255 ? QStringLiteral("red") : QStringLiteral("black"); }

// A fresh project: levels 80, output gains 44, tone {1, 3, 1, 3}, bands 0,
// SW sections {60, 0, 2} and {80, 0, 2}, format NON/SYNC on analog, mic
// routing 4, volume 70, fade 4, power-on 5.
const std::vector<HandlerCase> cases = {
    // ---- input section ----
    {"InputLevelNonSync", -1, [](TForm1& f) { f.suiTrackBar3->setValue(5); }, cmd_write, 0, {80, 80, 5, 80, 80}, {},
     [](TForm1& f) { return f.StaticText3->text(); }, "0.5", true, false},
    {"InputLevelDigitalTop", -1, [](TForm1& f) { f.suiTrackBar1->setValue(100); }, cmd_write, 0,
     {100, 80, 80, 80, 80}, {}, [](TForm1& f) { return f.StaticText1->text(); }, "10.0", true, false},
    {"InputLevelMicBottom", -1, [](TForm1& f) { f.suiTrackBar5->setValue(0); }, cmd_write, 0, {80, 80, 80, 80, 0}, {},
     [](TForm1& f) { return f.StaticText5->text(); }, "0.0", true, false},
    {"PresetBoxAux", -1, [](TForm1& f) { clickItem(f.suiCheckBox4); }, cmd_write, 8, {0x08}, {},
     [](TForm1& f) { return QString::number(f.suiCheckBox4->isChecked()); }, "1", false, false},
    {"FormatButtonDigital", -1, [](TForm1& f) { clickButton(f.suiButton1); }, cmd_write, 0x12C, {0, 1, 0, 0, 0}, {},
     [](TForm1& f) { return red(f.suiButton1); }, "red", false, false},
    {"FormatButtonAuxKeepsAnalog", -1, [](TForm1& f) { clickButton(f.suiButton4); }, cmd_write, 0x12C,
     {2, 0, 0, 0, 0}, {}, [](TForm1& f) { return red(f.suiButton4); }, "red", false, false},
    {"FormatMenuMic", -1, [](TForm1& f) { f.N9->trigger(); }, cmd_write, 0x12C, {3, 0, 0, 0, 0}, {},
     [](TForm1& f) { return red(f.suiButton5); }, "red", true, false},
    {"FormatMenuDigital", -1, [](TForm1& f) { f.N81->trigger(); }, cmd_write, 0x12C, {0, 1, 0, 0, 0}, {},
     [](TForm1& f) { return QString::number(f.N81->isChecked()); }, "1", true, false},
    {"NonSyncSourceCoaxial", -1, [](TForm1& f) { clickItem(f.suiRadioGroup1->item(1)); }, cmd_write, 0x12C,
     {1, 0, 1, 0, 0}, {}, [](TForm1& f) { return f.suiButton3->text(); }, tk770::caption(75, 0), false, false},
    {"AuxSourceOptical", -1, [](TForm1& f) { clickItem(f.suiRadioGroup2->item(2)); }, cmd_write, 0x12C,
     {1, 0, 0, 2, 0}, {}, [](TForm1& f) { return f.suiButton4->text(); }, tk770::caption(79, 0), false, false},
    {"MicRoutingSurroundKeepsBit2", -1, [](TForm1& f) { clickItem(f.suiCheckGroup1->item(1)); }, cmd_write, 9,
     {0x06}, {}, nullptr, {}, true, false},
    {"MicRoutingCenter", -1, [](TForm1& f) { clickItem(f.suiCheckGroup1->item(0)); }, cmd_write, 9, {0x05}, {},
     nullptr, {}, true, false},

    // ---- graphic EQ and tone ----
    {"BandCenterTop", 1, [](TForm1& f) { f.TrackBar4->setValue(0); }, cmd_write, 0x5B, {60}, {},
     [](TForm1& f) { return f.Edit4->text(); }, "6.0dB", true, true},
    {"BandRightElevenDown", 2, [](TForm1& f) { f.TrackBar15->setValue(70); }, cmd_write, 129, {0xF6}, {},
     [](TForm1& f) { return f.Edit15->text(); }, "-1.0dB", true, true},
    {"BandBsrLastHalfDb", 6, [](TForm1& f) { f.TrackBar30->setValue(65); }, cmd_write, 0xFC, {0xFB}, {},
     [](TForm1& f) { return f.Edit30->text(); }, "-0.5dB", true, true},
    // The shelf computation turns a stored 0 into +0.1 dB after the write.
    {"BassGainZeroSentImageKeepsTenth", 0, [](TForm1& f) { f.TrackBar2->setValue(60); }, cmd_write, 0x24, {0, 3},
     {1, 3}, [](TForm1& f) { return f.Edit1->text(); }, "0.0dB", true, true},
    {"BassGainSurroundRight", 4, [](TForm1& f) { f.TrackBar2->setValue(30); }, cmd_write, 0x34, {30, 3}, {},
     [](TForm1& f) { return f.Edit1->text(); }, "3.0dB", true, true},
    {"TrebleGainRight", 2, [](TForm1& f) { f.TrackBar1->setValue(90); }, cmd_write, 0x2E, {0xE2, 3}, {},
     [](TForm1& f) { return f.Edit2->text(); }, "-3.0dB", true, true},
    {"BassTurnoverLeft", 0, [](TForm1& f) { f.TrackBar3->setValue(7); }, cmd_write, 0x24, {1, 7}, {},
     [](TForm1& f) { return f.Edit3->text(); }, "315Hz", true, true},
    {"TrebleTurnoverCenter", 1, [](TForm1& f) { f.TrackBar32->setValue(1); }, cmd_write, 0x2A, {1, 1}, {},
     [](TForm1& f) { return f.Edit31->text(); }, "1.25K", true, true},

    // ---- subwoofer ----
    {"SwLowPassFrequency", 7, [](TForm1& f) { f.TrackBar3->setValue(5); }, cmd_write, 10, {5, 0}, {},
     [](TForm1& f) { return f.Edit3->text(); }, "200Hz", true, true},
    {"SwCutZeroTop", 7, [](TForm1& f) { f.TrackBar31->setValue(0); }, cmd_write, 30, {60, 30, 2}, {},
     [](TForm1& f) { return f.Edit34->text(); }, "3.0dB", true, true},
    {"SwCutOneBottom", 7, [](TForm1& f) { f.TrackBar35->setValue(150); }, cmd_write, 33, {80, 0x88, 2}, {},
     [](TForm1& f) { return f.Edit35->text(); }, "-12.0dB", true, true},
    {"SwCutZeroHalfDb", 7, [](TForm1& f) { f.TrackBar31->setValue(35); }, cmd_write, 30, {60, 0xFB, 2}, {},
     [](TForm1& f) { return f.Edit34->text(); }, "-0.5dB", true, true},
    {"SwFrequencyOne", 7, [](TForm1& f) { f.TrackBar37->setValue(100); }, cmd_write, 33, {100, 0, 2}, {},
     [](TForm1& f) { return f.Edit37->text(); }, "100Hz", true, true},
    {"SwQZero", 7, [](TForm1& f) { f.TrackBar34->setValue(6); }, cmd_write, 30, {60, 0, 6}, {},
     [](TForm1& f) { return f.Edit33->text(); }, "2.0", true, true},
    {"SwQOne", 7, [](TForm1& f) { f.TrackBar36->setValue(4); }, cmd_write, 33, {80, 0, 4}, {},
     [](TForm1& f) { return f.Edit36->text(); }, "1.50", true, true},
    {"SwLowPassOn", 7, [](TForm1& f) { clickItem(f.suiCheckBox15); }, cmd_write, 10, {0, 1}, {}, nullptr, {}, true,
     true},

    // ---- outputs ----
    {"OutputGainRightHalfDbDown", -1, [](TForm1& f) { f.suiTrackBar8->setValue(17); }, cmd_write, 14, {43}, {},
     [](TForm1& f) { return f.StaticText8->text(); }, "-0.5dB", true, false},
    {"OutputGainRightTop", -1, [](TForm1& f) { f.suiTrackBar8->setValue(0); }, cmd_write, 14, {60}, {},
     [](TForm1& f) { return f.StaticText8->text(); }, "8.0dB", true, false},
    {"OutputGainSwBottom", -1, [](TForm1& f) { f.suiTrackBar13->setValue(60); }, cmd_write, 19, {0}, {},
     [](TForm1& f) { return f.StaticText13->text(); }, "-22.0dB", true, false},
    {"DelayRightLongest", -1, [](TForm1& f) { f.TrackBar40->setValue(0); }, cmd_write, 22, {200}, {},
     [](TForm1& f) { return f.StaticText73->text(); }, "200mS", true, false},
    {"PolaritySw", -1, [](TForm1& f) { clickButton(f.suiButton21); }, cmd_write, 28, {0x80}, {},
     [](TForm1& f) { return f.suiButton21->text() + red(f.suiButton21); }, "反相red", false, false},
    {"MuteLeft", -1, [](TForm1& f) { clickButton(f.suiButton6); }, cmd_write, 29, {0x01}, {},
     [](TForm1& f) { return red(f.suiButton6); }, "red", false, false},
    {"TestSignalBoxSl", -1, [](TForm1& f) { clickItem(f.suiCheckBox9); }, cmd_write, 0x132, {0x08, 0}, {},
     [](TForm1& f) { return QString::number(f.suiCheckBox9->isChecked()); }, "1", true, false},
    {"SignalGenerator1k", -1, [](TForm1& f) { clickItem(f.suiRadioGroup3->item(3)); }, cmd_write, 0x132, {0, 3},
     {}, [](TForm1& f) { return f.suiCheckBox6->text(); }, "1KHz", false, false},

    // ---- master ----
    {"MasterVolumeTop", -1, [](TForm1& f) { f.suiTrackBar14->setValue(100); }, cmd_write, 0x131, {100}, {},
     [](TForm1& f) { return f.StaticText30->text(); }, "10.0", true, false},
    {"MasterVolumeBottom", -1, [](TForm1& f) { f.suiTrackBar14->setValue(0); }, cmd_write, 0x131, {0}, {},
     [](TForm1& f) { return f.StaticText30->text(); }, "0.0", true, false},
    {"FadeTimeStored", -1, [](TForm1& f) { QTest::keyClick(f.ComboBox1, Qt::Key_Up); }, cmd_store, 0x134, {3}, {},
     [](TForm1& f) { return f.ComboBox1->currentText(); }, "淡入淡出4秒", false, false},
    {"PowerOnAuxStored", -1, [](TForm1& f) { f.N13->trigger(); }, cmd_store, 0x135, {3}, {},
     [](TForm1& f) { return QString::number(f.N13->isChecked()); }, "1", false, false},
    // Choosing the value already stored still sends it.
    {"PowerOnKeepLastStored", -1, [](TForm1& f) { f.N15->trigger(); }, cmd_store, 0x135, {5}, {}, nullptr, {}, false,
     false},
    {"MasterMute", -1, [](TForm1& f) { clickButton(f.suiButton23); }, cmd_write, 0x136, {0x01}, {},
     [](TForm1& f) { return red(f.suiButton23); }, "red", false, false},
};

enum class Mode { connected, disconnected, refreshing };

// Failures name the case instead of dumping its bytes.
void PrintTo(const HandlerCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(Mode m, std::ostream* os)
{
    static const char* const modes[] = {"connected", "disconnected", "refreshing"};
    *os << modes[static_cast<int>(m)];
}

class HandlerFrames : public HandlerWindow, public ::testing::WithParamInterface<std::tuple<HandlerCase, Mode>> {};

TEST_P(HandlerFrames, ImageReadoutAndFrame)
{
    const auto& [c, mode] = GetParam();
    if (c.tab >= 0) selectTab(c.tab);
    if (mode == Mode::disconnected) form.linkState().connected = 0;
    if (mode == Mode::refreshing) form.refreshing = 1;

    const tk770::ParameterImage before = form.image();
    const int draws = form.drawCount();
    c.act(form);

    if (mode == Mode::refreshing && c.guarded) {
        EXPECT_EQ(form.image(), before);
        EXPECT_TRUE(frames().empty());
        EXPECT_EQ(form.drawCount(), draws);
        return;
    }

    // Exactly the unit's bytes change; the rest of the image stays.
    const Bytes& stored = c.stored.empty() ? c.sent : c.stored;
    tk770::ParameterImage expected = before;
    std::copy(stored.begin(), stored.end(), expected.data() + *tk770::image_offset_of(c.address));
    EXPECT_EQ(imageAt(c.address, static_cast<int>(stored.size())), stored);
    EXPECT_EQ(form.image(), expected);
    if (c.readout) {
        EXPECT_EQ(c.readout(form), utf8(c.text));
    }

    if (mode == Mode::disconnected) {
        EXPECT_TRUE(frames().empty());
    } else {
        EXPECT_EQ(frames(), std::vector<Bytes>{serialFrame(c.cmd, c.address, c.sent)});
    }
    if (c.redraws) {
        EXPECT_GT(form.drawCount(), draws);
    }
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<HandlerCase, Mode>>& info)
{
    static const char* const modes[] = {"Connected", "Disconnected", "Refreshing"};
    return std::string(std::get<0>(info.param).name) + "_" + modes[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(EveryHandler, HandlerFrames,
                         ::testing::Combine(::testing::ValuesIn(cases),
                                            ::testing::Values(Mode::connected, Mode::disconnected,
                                                              Mode::refreshing)),
                         caseName);

}  // namespace
