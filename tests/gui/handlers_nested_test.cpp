// Handlers that run other handlers or depend on state the operator does not
// see at once: the flat button, the twin test-signal boxes, the test-signal
// lock on the input section, the low-pass box and slope, toggling buttons,
// and the unguarded handlers that write while a refresh paints.
#include "gui/handlers_fixture.h"

#include "core/captions.h"

#include <functional>

using tk770::fontColor;

namespace {

using Action = std::function<void(TForm1&)>;

// ---------------------------------------------------------------- flat

struct FlatCase {
    const char* name;
    int tab;
    Action setup;  // moves done before the flat click; their frames are dropped
    std::vector<Bytes> expected;
};

void PrintTo(const FlatCase& c, std::ostream* os) { *os << c.name; }

class Flat : public HandlerWindow, public ::testing::WithParamInterface<FlatCase> {};

TEST_P(Flat, SendsOnlyWhatMoves)
{
    const FlatCase& c = GetParam();
    form.suiTabControl1->setTabIndex(c.tab);
    if (c.setup) c.setup(form);
    serial.writes.clear();

    clickButton(form.suiButton22);

    EXPECT_EQ(frames(), c.expected);
    if (c.tab < tk770::eq_channel_count) {
        for (int b = 0; b < tk770::band_count; ++b) EXPECT_EQ(form.image().eq[c.tab][b], 0) << "band " << b;
        EXPECT_EQ(form.TrackBar1->value(), 60 - form.image().tone[c.tab].treble_gain);
    } else {
        EXPECT_EQ(form.image().sw_filter[0].cut, 0);
        EXPECT_EQ(form.image().sw_filter[1].cut, 0);
    }
}

// Channel 2: bands from 0x76, bass pair at 0x2C, treble pair at 0x2E.
INSTANTIATE_TEST_SUITE_P(
    Cases, Flat,
    ::testing::Values(
        // A new project has every band at 0 and both shelves at +0.1 dB:
        // treble first, then bass, each sent with gain 0.
        FlatCase{"NewProjectTonesOnly", 0, nullptr, {writeFrame(0x26, {0, 3}), writeFrame(0x24, {0, 3})}},
        FlatCase{"ThreeBandsOff",
                 2,
                 [](TForm1& f) {
                     f.TrackBar4->setValue(50);
                     f.TrackBar10->setValue(70);
                     f.TrackBar30->setValue(0);
                 },
                 {writeFrame(0x76, {0}), writeFrame(0x7C, {0}), writeFrame(0x90, {0}), writeFrame(0x2E, {0, 3}),
                  writeFrame(0x2C, {0, 3})}},
        FlatCase{"SwOneSectionOff", 7, [](TForm1& f) { f.TrackBar35->setValue(100); }, {writeFrame(33, {80, 0, 2})}},
        FlatCase{"SwBothSectionsOff",
                 7,
                 [](TForm1& f) {
                     f.TrackBar31->setValue(0);
                     f.TrackBar35->setValue(150);
                 },
                 {writeFrame(30, {60, 0, 2}), writeFrame(33, {80, 0, 2})}},
        FlatCase{"SwAlreadyFlat", 7, nullptr, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- twin test-signal boxes

struct TwinCase {
    const char* name;
    int tab;
    Action act;
    std::uint8_t flags;
    bool pageBox;           // suiCheckBox14 afterwards
    std::vector<Bytes> expected;
};

void PrintTo(const TwinCase& c, std::ostream* os) { *os << c.name; }

class TestSignalTwins : public HandlerWindow, public ::testing::WithParamInterface<TwinCase> {};

TEST_P(TestSignalTwins, BoxesFollowEachOther)
{
    const TwinCase& c = GetParam();
    selectTab(c.tab);
    c.act(form);
    EXPECT_EQ(form.image().test_signal_flags, c.flags);
    EXPECT_EQ(form.suiCheckBox14->isChecked(), c.pageBox);
    for (int ch = 0; ch < tk770::channel_count; ++ch)
        EXPECT_EQ(form.TestSignalBoxes[ch]->isChecked(), (c.flags & (1 << ch)) != 0) << "channel " << ch;
    EXPECT_EQ(frames(), c.expected);
    EXPECT_EQ(form.refreshing, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TestSignalTwins,
    ::testing::Values(
        TwinCase{"PageBoxOnSl", 3, [](TForm1& f) { clickItem(f.suiCheckBox14); }, 0x08, true,
                 {writeFrame(0x132, {0x08, 0})}},
        TwinCase{"PageBoxOnSw", 7, [](TForm1& f) { clickItem(f.suiCheckBox14); }, 0x80, true,
                 {writeFrame(0x132, {0x80, 0})}},
        TwinCase{"PageBoxOnAndOff", 3,
                 [](TForm1& f) {
                     clickItem(f.suiCheckBox14);
                     clickItem(f.suiCheckBox14);
                 },
                 0x00, false, {writeFrame(0x132, {0x08, 0}), writeFrame(0x132, {0x00, 0})}},
        TwinCase{"OutputBoxOfShownChannel", 0, [](TForm1& f) { clickItem(f.suiCheckBox6); }, 0x01, true,
                 {writeFrame(0x132, {0x01, 0})}},
        TwinCase{"OutputBoxOfOtherChannel", 0, [](TForm1& f) { clickItem(f.suiCheckBox8); }, 0x04, false,
                 {writeFrame(0x132, {0x04, 0})}},
        TwinCase{"TwoOutputBoxesThenPageOff", 5,
                 [](TForm1& f) {
                     clickItem(f.suiCheckBox11);
                     clickItem(f.suiCheckBox6);
                     clickItem(f.suiCheckBox14);
                 },
                 0x01, false,
                 {writeFrame(0x132, {0x20, 0}), writeFrame(0x132, {0x21, 0}), writeFrame(0x132, {0x01, 0})}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HandlerWindow, SignalGeneratorCaptionsAllNineBoxesAndSendsFlagsFirst)
{
    clickItem(form.suiCheckBox9);
    form.Language = tk770::language_english;
    serial.writes.clear();

    clickItem(form.suiRadioGroup3->item(5));
    EXPECT_EQ(form.image().test_signal, 5);
    EXPECT_EQ(form.suiCheckBox14->text(), "10KHz");
    for (QCheckBox* b : form.TestSignalBoxes) EXPECT_EQ(b->text(), "10KHz");

    clickItem(form.suiRadioGroup3->item(0));
    EXPECT_EQ(form.suiCheckBox14->text(), "Pink");
    for (QCheckBox* b : form.TestSignalBoxes) EXPECT_EQ(b->text(), "Pink");

    EXPECT_EQ(frames(), (std::vector<Bytes>{writeFrame(0x132, {0x08, 5}), writeFrame(0x132, {0x08, 0})}));
}

// ---------------------------------------------------------------- test-signal lock

struct LockCase {
    const char* name;
    Action act;
    std::vector<Bytes> expected;  // empty: the control is locked
};

void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }

class TestSignalLock : public HandlerWindow, public ::testing::WithParamInterface<LockCase> {};

TEST_P(TestSignalLock, InputControlsWaitForTheSignalToStop)
{
    const LockCase& c = GetParam();
    clickItem(form.suiCheckBox7);  // Center plays
    serial.writes.clear();
    const tk770::ParameterImage before = form.image();

    c.act(form);

    EXPECT_EQ(frames(), c.expected);
    if (c.expected.empty()) {
        EXPECT_EQ(form.image(), before);
    }

    // A locked group may show a choice the image does not hold; the next
    // refresh puts the stored one back.
    form.formatDisplayRefresh();
    form.inputSectionRefresh();
    EXPECT_EQ(form.suiRadioGroup1->itemIndex(), form.image().nonsync_source);
    EXPECT_EQ(form.suiRadioGroup2->itemIndex(), form.image().aux_source);
    EXPECT_EQ(form.suiCheckGroup1->checked(0), (form.image().mic_routing & 1) != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TestSignalLock,
    ::testing::Values(LockCase{"FormatButton", [](TForm1& f) { clickButton(f.suiButton1); }, {}},
                      LockCase{"NonSyncSource", [](TForm1& f) { clickItem(f.suiRadioGroup1->item(1)); }, {}},
                      LockCase{"AuxSource", [](TForm1& f) { clickItem(f.suiRadioGroup2->item(1)); }, {}},
                      LockCase{"MicRouting", [](TForm1& f) { clickItem(f.suiCheckGroup1->item(0)); }, {}},
                      // The Format menu is not locked.
                      LockCase{"FormatMenu",
                               [](TForm1& f) { f.N8->trigger(); },
                               {writeFrame(0x12C, {2, 0, 0, 0, 0})}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HandlerWindow, FormatChoicesKeepTheDigitalFlagUntilAnEightChannelChoice)
{
    clickButton(form.suiButton2);
    clickButton(form.suiButton4);
    EXPECT_EQ(form.image().eight_channel_digital, 0);
    clickButton(form.suiButton1);
    EXPECT_EQ(form.image().eight_channel_digital, 1);
    clickButton(form.suiButton5);
    EXPECT_EQ(frames(), (std::vector<Bytes>{writeFrame(0x12C, {0, 0, 0, 0, 0}), writeFrame(0x12C, {2, 0, 0, 0, 0}),
                                            writeFrame(0x12C, {0, 1, 0, 0, 0}), writeFrame(0x12C, {3, 1, 0, 0, 0})}));
    EXPECT_EQ(fontColor(form.suiButton5), 255);
    EXPECT_EQ(fontColor(form.suiButton1), 0);
}

// ---------------------------------------------------------------- writes during a refresh

struct RefreshCase {
    const char* name;
    std::function<void(tk770::ParameterImage&)> change;
    std::vector<Bytes> expected;
};

void PrintTo(const RefreshCase& c, std::ostream* os) { *os << c.name; }

class WritesDuringRefresh : public HandlerWindow, public ::testing::WithParamInterface<RefreshCase> {};

// Opening a project while connected paints the controls with `refreshing`
// set; the preset boxes and the source groups do not test it and send the
// state they now show.
TEST_P(WritesDuringRefresh, OnlyUnguardedHandlersSend)
{
    const RefreshCase& c = GetParam();
    c.change(form.image());
    const tk770::ParameterImage painted = form.image();

    form.refreshing = 1;
    form.displayRefresh();
    form.refreshing = 0;

    EXPECT_EQ(frames(), c.expected);
    EXPECT_EQ(form.image(), painted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WritesDuringRefresh,
    ::testing::Values(
        RefreshCase{"PresetBox", [](tk770::ParameterImage& i) { i.preset_flags = 0x09; },
                    {writeFrame(8, {0x09}), writeFrame(8, {0x09})}},
        RefreshCase{"NonSyncSource", [](tk770::ParameterImage& i) { i.nonsync_source = 1; },
                    {writeFrame(0x12C, {1, 0, 1, 0, 0})}},
        RefreshCase{"AuxSource", [](tk770::ParameterImage& i) { i.aux_source = 2; },
                    {writeFrame(0x12C, {1, 0, 0, 2, 0})}},
        RefreshCase{"MicRoutingGuarded", [](tk770::ParameterImage& i) { i.mic_routing = 7; }, {}},
        RefreshCase{"LevelsAndOutputsGuarded",
                    [](tk770::ParameterImage& i) {
                        i.input_level[2] = 10;
                        i.output_gain[3] = 20;
                        i.output_delay[4] = 50;
                        i.eq[0][5] = 30;
                        i.master_volume = 40;
                    },
                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HandlerWindow, PresetBoxWritesDuringRefreshOnlyWhileConnected)
{
    form.linkState().connected = 0;
    form.image().preset_flags = 0x10;
    form.refreshing = 1;
    form.displayRefresh();
    form.refreshing = 0;
    EXPECT_TRUE(frames().empty());
    EXPECT_TRUE(form.suiCheckBox5->isChecked());
}

// ---------------------------------------------------------------- SW low-pass

TEST_F(HandlerWindow, LowPassBoxAndSlopeSendFrequencyAndMode)
{
    selectTab(7);
    form.TrackBar3->setValue(4);
    serial.writes.clear();

    struct Step {
        const char* what;
        Action act;
        std::uint8_t mode;
    };
    const Step steps[] = {
        {"check the box", [](TForm1& f) { clickItem(f.suiCheckBox15); }, 1},
        {"36 dB/oct", [](TForm1& f) { clickItem(f.suiRadioGroup4->item(2)); }, 3},
        {"uncheck the box", [](TForm1& f) { clickItem(f.suiCheckBox15); }, 0},
        {"slope while unchecked", [](TForm1& f) { clickItem(f.suiRadioGroup4->item(3)); }, 0},
        {"check again", [](TForm1& f) { clickItem(f.suiCheckBox15); }, 4},
    };
    for (const Step& s : steps) {
        serial.writes.clear();
        const int draws = form.drawCount();
        s.act(form);
        EXPECT_EQ(form.image().sw_lpf_mode, s.mode) << s.what;
        EXPECT_EQ(frames(), std::vector<Bytes>{writeFrame(10, {4, s.mode})}) << s.what;
        EXPECT_GT(form.drawCount(), draws) << s.what;
    }
}

TEST_F(HandlerWindow, SwPageRefreshLeavesTheLowPassModeAsStored)
{
    form.image().sw_lpf_mode = 3;
    form.image().sw_lpf_freq = 6;
    selectTab(7);
    EXPECT_EQ(form.image().sw_lpf_mode, 3);
    EXPECT_TRUE(form.suiCheckBox15->isChecked());
    EXPECT_EQ(form.suiRadioGroup4->itemIndex(), 2);
    EXPECT_EQ(form.Edit3->text(), "250Hz");
    EXPECT_TRUE(frames().empty());
}

TEST_F(HandlerWindow, BandSlidersUnderTheSwPanelChangeNothing)
{
    selectTab(7);
    const tk770::ParameterImage before = form.image();
    form.TrackBar10->setValue(0);
    EXPECT_EQ(form.image(), before);
    EXPECT_TRUE(frames().empty());
}

// ---------------------------------------------------------------- toggles

struct ToggleCase {
    const char* name;
    QPushButton* TForm1::*button;
    int address;
    std::uint8_t bit;
};

void PrintTo(const ToggleCase& c, std::ostream* os) { *os << c.name; }

class Toggles : public HandlerWindow, public ::testing::WithParamInterface<ToggleCase> {};

TEST_P(Toggles, TwoClicksRestoreTheByteAndSendTwice)
{
    const ToggleCase& c = GetParam();
    QPushButton* b = form.*c.button;
    const QString caption = b->text();
    const Bytes before = imageAt(c.address, 1);

    clickButton(b);
    clickButton(b);

    EXPECT_EQ(imageAt(c.address, 1), before);
    EXPECT_EQ(fontColor(b), 0);
    EXPECT_EQ(frames(), (std::vector<Bytes>{writeFrame(c.address, {static_cast<std::uint8_t>(before[0] ^ c.bit)}),
                                            writeFrame(c.address, before)}));
    // Polarity captions itself from the table; the others keep their text.
    if (c.address == 28) {
        EXPECT_EQ(b->text(), utf8(tk770::caption(45, 0)));
    } else {
        EXPECT_EQ(b->text(), caption);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Toggles,
                         ::testing::Values(ToggleCase{"PolaritySw", &TForm1::suiButton21, 28, 0x80},
                                           ToggleCase{"MuteBsl", &TForm1::suiButton11, 29, 0x20},
                                           ToggleCase{"MasterMute", &TForm1::suiButton23, 0x136, 0x01}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HandlerWindow, MasterMuteChangesOnlyBitZero)
{
    form.image().master_mute = 0xA4;
    clickButton(form.suiButton23);
    EXPECT_EQ(form.image().master_mute, 0xA5);
    EXPECT_EQ(fontColor(form.suiButton23), 255);
    EXPECT_EQ(frames(), std::vector<Bytes>{writeFrame(0x136, {0xA5})});
}

}  // namespace

// ---------------------------------------------------------------- a failing link

// A TCP connection the processor drops at the first request; it stays down.
struct BrokenTcp : RecordingSim {
    BrokenTcp() { fault("close:1"); }
};

struct FailureCase {
    const char* name;
    int tab;
    QSlider* (*slider)(TForm1&);  // moved silently, then its handler runs
    int position;
    void (TForm1::*handler)(QObject*);
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FailingWrite : public HandlerWindow, public ::testing::WithParamInterface<FailureCase> {};

// The handlers that set `refreshing` around their write must not leave it
// set when the write throws, or every guarded control would stay dead.
TEST_P(FailingWrite, LeavesTheRefreshingGuardCleared)
{
    const FailureCase& c = GetParam();
    selectTab(c.tab);
    BrokenTcp tcp;
    form.setTransports(&serial, &tcp);
    form.linkState().network_mode = 1;

    QSlider* s = c.slider(form);
    {
        const QSignalBlocker quiet(s);
        s->setValue(c.position);
    }
    EXPECT_THROW((form.*c.handler)(s), tk770::LinkError);
    EXPECT_EQ(tcp.sends, 1);
    EXPECT_EQ(form.refreshing, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingWrite,
    ::testing::Values(
        FailureCase{"BassGain", 0, [](TForm1& f) { return f.TrackBar2; }, 30,
                    &TForm1::TrackBar2Change},
        FailureCase{"TrebleTurnover", 1, [](TForm1& f) { return f.TrackBar32; }, 5,
                    &TForm1::TrackBar32Change},
        FailureCase{"SwLowPassFrequency", 7, [](TForm1& f) { return f.TrackBar3; }, 8,
                    &TForm1::TrackBar3Change}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HandlerWindow, FailingTestSignalWritesLeaveTheRefreshingGuardCleared)
{
    BrokenTcp tcp;
    form.setTransports(&serial, &tcp);
    form.linkState().network_mode = 1;
    for (QCheckBox* box : {form.suiCheckBox14, form.suiCheckBox8}) {
        {
            const QSignalBlocker quiet(box);
            box->setChecked(true);
        }
        if (box == form.suiCheckBox14) {
            EXPECT_THROW(form.suiCheckBox14Click(box), tk770::LinkError);
        } else {
            EXPECT_THROW(form.suiCheckBox6Click(box), tk770::LinkError);
        }
        EXPECT_EQ(form.refreshing, 0);
    }
    EXPECT_EQ(tcp.sends, 2);
}
