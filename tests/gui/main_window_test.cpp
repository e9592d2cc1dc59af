// The main window driven as an operator would: start-up state, painting a
// hand-made image, the subwoofer page, the refreshing guard, project
// commands and the response graph read back from the painted widget.
#include "gui/Main.h"

#include "core/captions.h"
#include "core/project_file.h"
#include "support/recording_sim.h"
#include "support/text.h"
#include "support/window.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

using tk770::tagOf;

using tk770::SideChannel;

namespace {

using tk770::testing::qs;
using tk770::testing::RecordingSim;
using tk770::testing::refreshFromImage;
using tk770::testing::withChecksum;

bool isGreen(const QImage& img, int x, int y)
{
    const QColor c = img.pixelColor(x, y);
    return c.red() == 0 && c.green() == 255 && c.blue() == 0;
}

const QColor pure_red(255, 0, 0);
const QColor pure_black(0, 0, 0);

QColor textColour(const QWidget* w) { return w->palette().color(QPalette::ButtonText); }

// Device address of every frame written while the window was connected.
std::vector<int> writtenAddresses(const RecordingSim& serial)
{
    std::vector<int> out;
    for (const auto& f : serial.writes) out.push_back(f.bytes[2] << 8 | f.bytes[3]);
    return out;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { form.setTransports(&serial, nullptr); }

    void connectSerial()
    {
        form.linkState().serial_port = 1;
        form.linkState().network_mode = 0;
        form.linkState().connected = 1;
    }

    TForm1 form;
    RecordingSim serial;
};

// ---------------------------------------------------------------- start-up

TEST_F(MainWindow, StartsUntitledOnTheLeftChannelWithNothingSent)
{
    EXPECT_EQ(form.windowTitle(), qs(tk770::caption(0, 0)) + "   Untitle.QSdat");
    EXPECT_EQ(form.suiTabControl1->tabIndex(), 0);
    EXPECT_EQ(form.SelectedChannel, 0);
    EXPECT_EQ(form.refreshing, 0);
    EXPECT_EQ(form.Language, 0);
    EXPECT_EQ(form.linkState().connected, 0);
    EXPECT_EQ(form.tcpHost(), "192.168.0.8");
    EXPECT_FALSE(form.Panel1->isVisible());
    EXPECT_FALSE(form.Timer1->isActive());

    // Operator changes before any connect reach the image and read-outs only.
    form.BandSliders[5]->setValue(40);
    form.suiTrackBar3->setValue(55);
    form.suiButton14->click();
    EXPECT_EQ(form.image().eq[0][5], 20);
    EXPECT_EQ(form.StaticText3->text(), "5.5");
    EXPECT_EQ(form.image().polarity_flags, 1);
    EXPECT_TRUE(serial.writes.empty());
}

TEST_F(MainWindow, HostOptionReplacesOnlyTheStartUpHost)
{
    TForm1 other(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(other.tcpHost(), "127.0.0.1");
    EXPECT_EQ(other.windowTitle(), form.windowTitle());
}

TEST_F(MainWindow, ControlTablesReachTheirControlsInIndexOrder)
{
    auto names = [](const auto& table) {
        QStringList out;
        for (const auto* w : table) out << w->objectName();
        return out;
    };
    auto numbered = [](const char* prefix, int first, int count) {
        QStringList out;
        for (int i = 0; i < count; ++i) out << QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(first + i);
        return out;
    };
    EXPECT_EQ(names(form.PresetBoxes), numbered("suiCheckBox", 1, 5));
    EXPECT_EQ(names(form.InputLevelTexts), numbered("StaticText", 1, 5));
    EXPECT_EQ(names(form.InputLevelSliders), numbered("suiTrackBar", 1, 5));
    EXPECT_EQ(names(form.OutputGainSliders), numbered("suiTrackBar", 6, 8));
    EXPECT_EQ(names(form.DelaySliders), numbered("TrackBar", 38, 8));
    EXPECT_EQ(names(form.OutputGainTexts), numbered("StaticText", 6, 8));
    EXPECT_EQ(names(form.DelayTexts),
              QStringList({"StaticText60", "StaticText71", "StaticText73", "StaticText74", "StaticText75",
                           "StaticText76", "StaticText77", "StaticText78"}));
    EXPECT_EQ(names(form.PolarityButtons), numbered("suiButton", 14, 8));
    EXPECT_EQ(names(form.MuteButtons), numbered("suiButton", 6, 8));
    EXPECT_EQ(names(form.SubQTexts), QStringList({"Edit33", "Edit36"}));
    EXPECT_EQ(names(form.SubFcTexts), QStringList({"Edit32", "Edit37"}));
    EXPECT_EQ(names(form.SubCutTexts), QStringList({"Edit34", "Edit35"}));
    EXPECT_EQ(names(form.BandTexts), numbered("Edit", 4, 27));
    EXPECT_EQ(names(form.BandSliders), numbered("TrackBar", 4, 27));
    EXPECT_EQ(names(form.TestSignalBoxes), numbered("suiCheckBox", 6, 8));

    // Family members carry their index as tag, which the handlers rely on.
    for (int b = 0; b < 27; ++b) EXPECT_EQ(tagOf(form.BandSliders[b]), b);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(tagOf(form.OutputGainSliders[c]), c);
        EXPECT_EQ(tagOf(form.MuteButtons[c]), c);
        EXPECT_EQ(tagOf(form.TestSignalBoxes[c]), c);
    }
}

TEST_F(MainWindow, StartUpShowsTheDefaultImage)
{
    tk770::ParameterImage expected{};
    expected.reset_to_defaults();
    EXPECT_EQ(std::memcmp(form.image().data(), expected.data(), tk770::image_size), 0);

    for (int b = 0; b < 27; ++b) {
        EXPECT_EQ(form.BandSliders[b]->value(), 60);
        EXPECT_EQ(form.BandTexts[b]->text(), "0.0dB");
    }
    for (int f = 0; f < 5; ++f) {
        EXPECT_EQ(form.InputLevelSliders[f]->value(), 80);
        EXPECT_EQ(form.InputLevelTexts[f]->text(), "8.0");
        EXPECT_FALSE(form.PresetBoxes[f]->isChecked());
    }
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(form.OutputGainSliders[c]->value(), 16);
        EXPECT_EQ(form.OutputGainTexts[c]->text(), "0.0dB");
        EXPECT_EQ(form.PolarityButtons[c]->text(), "正 相");
        EXPECT_EQ(textColour(form.MuteButtons[c]), pure_black);
    }
    // Bass and treble are stored as +0.1 dB, codes 3 and 3.
    EXPECT_EQ(form.TrackBar2->value(), 59);
    EXPECT_EQ(form.Edit1->text(), "0.1dB");
    EXPECT_EQ(form.Edit3->text(), "125Hz");
    EXPECT_EQ(form.Edit31->text(), "2KHz");
    EXPECT_EQ(form.suiTrackBar14->value(), 70);
    EXPECT_EQ(form.StaticText30->text(), "7.0");
    EXPECT_EQ(form.ComboBox1->currentIndex(), 4);
    // input_format 1 is NON/SYNC, analog source; power-on "last selected".
    EXPECT_EQ(form.suiButton3->text(), qs(tk770::caption(76, 0)));
    EXPECT_EQ(textColour(form.suiButton3), pure_red);
    EXPECT_TRUE(form.N7->isChecked());
    EXPECT_TRUE(form.N15->isChecked());
    // The mic routing default 4 has neither the Center nor the Surround bit.
    EXPECT_FALSE(form.suiCheckGroup1->checked(0));
    EXPECT_FALSE(form.suiCheckGroup1->checked(1));
}

// ---------------------------------------------------------------- refresh

struct ReadoutCase {
    const char* what;
    std::function<void(tk770::ParameterImage&)> set;
    std::function<QString(TForm1&)> shown;
    QString expected;
};

TEST_F(MainWindow, RefreshShowsEveryReadoutFormat)
{
    const ReadoutCase cases[] = {
        {"level 5", [](auto& i) { i.input_level[2] = 5; }, [](auto& f) { return f.StaticText3->text(); }, "0.5"},
        {"level 100", [](auto& i) { i.input_level[0] = 100; }, [](auto& f) { return f.StaticText1->text(); }, "10.0"},
        {"band -9", [](auto& i) { i.eq[0][3] = -9; }, [](auto& f) { return f.Edit7->text(); }, "-0.9dB"},
        {"band -25", [](auto& i) { i.eq[0][26] = -25; }, [](auto& f) { return f.Edit30->text(); }, "-2.5dB"},
        {"band +60", [](auto& i) { i.eq[0][0] = 60; }, [](auto& f) { return f.Edit4->text(); }, "6.0dB"},
        {"output 43", [](auto& i) { i.output_gain[1] = 43; }, [](auto& f) { return f.StaticText7->text(); },
         "-0.5dB"},
        {"output 42", [](auto& i) { i.output_gain[2] = 42; }, [](auto& f) { return f.StaticText8->text(); },
         "-1.0dB"},
        {"output 45", [](auto& i) { i.output_gain[3] = 45; }, [](auto& f) { return f.StaticText9->text(); },
         "0.5dB"},
        {"output 0", [](auto& i) { i.output_gain[7] = 0; }, [](auto& f) { return f.StaticText13->text(); },
         "-22.0dB"},
        {"delay 200", [](auto& i) { i.output_delay[4] = 200; }, [](auto& f) { return f.StaticText75->text(); },
         "200mS"},
        {"bass -60", [](auto& i) { i.tone[0].bass_gain = -60; }, [](auto& f) { return f.Edit1->text(); },
         "-6.0dB"},
        {"bass code 10", [](auto& i) { i.tone[0].bass_freq = 10; }, [](auto& f) { return f.Edit3->text(); },
         "630Hz"},
        {"treble code 1", [](auto& i) { i.tone[0].treble_freq = 1; }, [](auto& f) { return f.Edit31->text(); },
         "1.25K"},
        {"volume 5", [](auto& i) { i.master_volume = 5; }, [](auto& f) { return f.StaticText30->text(); }, "0.5"},
        {"aux optical", [](auto& i) { i.aux_source = 2; }, [](auto& f) { return f.suiButton4->text(); },
         qs(tk770::caption(79, 0))},
        {"nonsync coax", [](auto& i) { i.nonsync_source = 1; }, [](auto& f) { return f.suiButton3->text(); },
         qs(tk770::caption(75, 0))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        form.image().reset_to_defaults();
        c.set(form.image());
        refreshFromImage(form);
        EXPECT_EQ(c.shown(form), c.expected);
    }
}

struct SliderCase {
    const char* what;
    std::function<void(tk770::ParameterImage&)> set;
    std::function<QSlider*(TForm1&)> slider;
    int expected;
};

TEST_F(MainWindow, RefreshMapsAndClampsSliderPositions)
{
    const SliderCase cases[] = {
        {"band -9", [](auto& i) { i.eq[0][4] = -9; }, [](auto& f) { return f.BandSliders[4]; }, 69},
        {"band past +6 dB clamps at the top", [](auto& i) { i.eq[0][4] = 100; },
         [](auto& f) { return f.BandSliders[4]; }, 0},
        {"output gain 60", [](auto& i) { i.output_gain[0] = 60; }, [](auto& f) { return f.OutputGainSliders[0]; },
         0},
        {"output gain 200 clamps", [](auto& i) { i.output_gain[0] = 200; },
         [](auto& f) { return f.OutputGainSliders[0]; }, 0},
        {"delay 0", [](auto& i) { i.output_delay[6] = 0; }, [](auto& f) { return f.DelaySliders[6]; }, 200},
        {"delay 250 clamps", [](auto& i) { i.output_delay[6] = 250; }, [](auto& f) { return f.DelaySliders[6]; },
         0},
        {"treble code", [](auto& i) { i.tone[0].treble_freq = 7; }, [](auto& f) { return f.TrackBar32; }, 7},
        {"master volume", [](auto& i) { i.master_volume = 33; }, [](auto& f) { return f.suiTrackBar14; }, 33},
        {"input level 150 clamps", [](auto& i) { i.input_level[4] = 150; },
         [](auto& f) { return f.InputLevelSliders[4]; }, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        form.image().reset_to_defaults();
        c.set(form.image());
        refreshFromImage(form);
        EXPECT_EQ(c.slider(form)->value(), c.expected);
    }
    // A clamped slider shows the limit, the read-out the stored number
    // (the last case above).
    EXPECT_EQ(form.StaticText5->text(), "15.0");
}

TEST_F(MainWindow, RefreshColoursActiveStatesPureRed)
{
    auto& img = form.image();
    img.input_format = 2;
    img.polarity_flags = 0x81;
    img.mute_flags = 0x02;
    img.master_mute = 1;
    img.power_on_format = 3;
    refreshFromImage(form);

    QPushButton* formats[5] = {form.suiButton1, form.suiButton2, form.suiButton3, form.suiButton4, form.suiButton5};
    QAction* items[5] = {form.N81, form.N82, form.N7, form.N8, form.N9};
    for (int f = 0; f < 5; ++f) {
        EXPECT_EQ(textColour(formats[f]), f == 3 ? pure_red : pure_black) << f;
        EXPECT_EQ(items[f]->isChecked(), f == 3) << f;
    }
    for (int c = 0; c < 8; ++c) {
        const bool inverted = c == 0 || c == 7;
        EXPECT_EQ(form.PolarityButtons[c]->text(), inverted ? "反 相" : "正 相") << c;
        EXPECT_EQ(textColour(form.PolarityButtons[c]), inverted ? pure_red : pure_black) << c;
        EXPECT_EQ(textColour(form.MuteButtons[c]), c == 1 ? pure_red : pure_black) << c;
    }
    EXPECT_EQ(textColour(form.suiButton23), pure_red);
    EXPECT_TRUE(form.N13->isChecked());
    EXPECT_FALSE(form.N15->isChecked());

    // The refresh's polarity captions stay Chinese in English too.
    form.Language = 1;
    refreshFromImage(form);
    EXPECT_EQ(form.PolarityButtons[0]->text(), "反 相");
    EXPECT_EQ(form.suiButton4->text(), qs(tk770::caption(77, 1)));
}

TEST_F(MainWindow, OutOfListValuesMarkNothingNew)
{
    refreshFromImage(form);
    const QString auxCaption = form.suiButton4->text();
    form.image().input_format = 9;
    form.image().aux_source = 7;
    form.image().power_on_format = 6;
    refreshFromImage(form);
    for (QPushButton* b : {form.suiButton1, form.suiButton2, form.suiButton3, form.suiButton4, form.suiButton5})
        EXPECT_EQ(textColour(b), pure_black);
    EXPECT_EQ(form.suiButton4->text(), auxCaption);
    EXPECT_TRUE(form.N15->isChecked());  // the earlier mark stays
}

// ---------------------------------------------------------------- SW page

TEST_F(MainWindow, SubwooferTabShowsFilterPanelAndRelabelsTheScale)
{
    form.show();
    form.suiTabControl1->setTabIndex(7);
    EXPECT_EQ(form.SelectedChannel, 7);
    EXPECT_EQ(form.refreshing, 0);
    EXPECT_TRUE(form.Panel1->isVisible());
    for (QWidget* w : std::initializer_list<QWidget*>{form.TrackBar1, form.TrackBar2, form.TrackBar32, form.Edit1,
                                                      form.Edit2, form.Edit31, form.StaticText32})
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    EXPECT_TRUE(form.TrackBar3->isVisible());
    EXPECT_TRUE(form.Edit3->isVisible());
    const QStringList sw{"+5", "  0", "-5", "-10", "-15"};
    QLabel* left[5] = {form.StaticText92, form.StaticText93, form.StaticText94, form.StaticText95, form.StaticText96};
    QLabel* right[5] = {form.StaticText22, form.StaticText23, form.StaticText24, form.StaticText25, form.StaticText26};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(left[k]->text(), sw[k]);
        EXPECT_EQ(right[k]->text(), sw[k]);
    }
    // Both parametric gains 0 and the low-pass off: flat on row 47.
    const QImage shown = form.PaintBox1->grab().toImage();
    for (int x = 20; x <= 600; x += 20) {
        EXPECT_TRUE(isGreen(shown, x, 47)) << x;
        EXPECT_FALSE(isGreen(shown, x, 45)) << x;
    }

    form.suiTabControl1->setTabIndex(2);
    EXPECT_FALSE(form.Panel1->isVisible());
    EXPECT_TRUE(form.TrackBar1->isVisible());
    EXPECT_EQ(form.StaticText92->text(), "+10");
    EXPECT_EQ(form.StaticText26->text(), "-10");
}

TEST_F(MainWindow, DisplayRefreshLeavesTheSubwooferPageAlone)
{
    form.suiTabControl1->setTabIndex(7);
    const int draws = form.drawCount();
    form.image().sw_filter[0].cut = -60;
    form.image().sw_lpf_mode = 3;
    refreshFromImage(form);
    EXPECT_EQ(form.TrackBar31->value(), 30);
    EXPECT_EQ(form.Edit34->text(), "0.0dB");
    EXPECT_TRUE(form.suiCheckBox15->isChecked() == false);
    EXPECT_EQ(form.drawCount(), draws);

    // Selecting the tab again repaints the page from the image.
    form.suiTabControl1->setTabIndex(0);
    form.suiTabControl1->setTabIndex(7);
    EXPECT_EQ(form.TrackBar31->value(), 90);
    EXPECT_EQ(form.Edit34->text(), "-6.0dB");
    EXPECT_TRUE(form.suiCheckBox15->isChecked());
    EXPECT_EQ(form.suiRadioGroup4->itemIndex(), 2);
    // Setting the panel from the image does not store anything back.
    EXPECT_EQ(form.image().sw_lpf_mode, 3);
}

TEST_F(MainWindow, NewProjectReturnsToTheLeftChannel)
{
    form.suiTabControl1->setTabIndex(4);
    form.image().eq[0][10] = 30;
    form.N2Click();
    EXPECT_EQ(form.suiTabControl1->tabIndex(), 0);
    EXPECT_EQ(form.SelectedChannel, 0);
    EXPECT_EQ(form.BandSliders[10]->value(), 60);
    EXPECT_EQ(form.refreshing, 0);
}

// ---------------------------------------------------------------- guard

TEST_F(MainWindow, RefreshingGuardKeepsImageAndLinkUntouched)
{
    connectSerial();
    tk770::ParameterImage before = form.image();
    form.refreshing = 1;
    const std::function<void()> moves[] = {
        [&] { form.BandSliders[3]->setValue(0); },     [&] { form.TrackBar2->setValue(10); },
        [&] { form.TrackBar1->setValue(10); },         [&] { form.TrackBar3->setValue(9); },
        [&] { form.TrackBar32->setValue(1); },         [&] { form.suiTrackBar2->setValue(3); },
        [&] { form.OutputGainSliders[4]->setValue(0); }, [&] { form.DelaySliders[5]->setValue(10); },
        [&] { form.suiTrackBar14->setValue(12); },     [&] { form.TrackBar31->setValue(100); },
        [&] { form.TrackBar33->setValue(100); },       [&] { form.TrackBar34->setValue(20); },
        [&] { form.suiCheckBox15->setChecked(false); }, [&] { form.suiCheckGroup1->setChecked(0, true); },
        [&] { form.suiCheckBox14->setChecked(true); }, [&] { form.TestSignalBoxes[2]->setChecked(true); },
    };
    for (const auto& move : moves) move();
    EXPECT_EQ(std::memcmp(form.image().data(), before.data(), tk770::image_size), 0);
    EXPECT_TRUE(serial.writes.empty());
    EXPECT_EQ(form.refreshing, 1);

    // Cleared again, a band step stores, shows and writes its one byte.
    form.refreshing = 0;
    form.BandSliders[3]->setValue(70);
    EXPECT_EQ(form.image().eq[0][3], -10);
    EXPECT_EQ(form.BandTexts[3]->text(), "-1.0dB");
    EXPECT_EQ(writtenAddresses(serial), std::vector<int>{0x40 + 3});
}

TEST_F(MainWindow, BandStepOnCenterWritesItsAddress)
{
    connectSerial();
    form.suiTabControl1->setTabIndex(1);
    form.BandSliders[0]->setValue(0);
    EXPECT_EQ(form.image().eq[1][0], 60);
    EXPECT_EQ(form.BandTexts[0]->text(), "6.0dB");
    ASSERT_EQ(serial.writes.size(), 1u);
    const auto& frame = serial.writes[0].bytes;
    EXPECT_EQ(frame, (std::vector<std::uint8_t>{0xCA, 0x06, 0x00, 0x5B, 0x00, 0x01, 60,
                                                static_cast<std::uint8_t>(0xCA + 0x06 + 0x5B + 0x01 + 60)}));
}

// ---------------------------------------------------------------- projects

class ProjectCommands : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        ASSERT_TRUE(dir.isValid());
        form.setDialogRunner([this](QFileDialog* d) {
            lastFilter = d->nameFilters().join(QLatin1Char(';'));
            lastSuffix = d->defaultSuffix();
            return answer;
        });
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    // A project whose values all differ from a new project's.
    void writeProject(const QString& file)
    {
        tk770::ParameterImage img{};
        img.reset_to_defaults();
        img.output_delay[3] = 120;
        img.mute_flags = 0x21;
        img.master_mute = 1;
        img.sw_lpf_freq = 2;
        img.sw_lpf_mode = 4;
        img.eq[0][7] = -40;
        img.input_level[1] = 33;
        std::array<char, tk770::device_ip_text_size> ip{};
        std::strcpy(ip.data(), "10.1.2.3");
        ASSERT_EQ(tk770::write_project_file(QFile::encodeName(file).toStdString(), img, ip), tk770::project_ok);
    }

    QTemporaryDir dir;
    QString answer;
    QString lastFilter;
    QString lastSuffix;
};

TEST_F(ProjectCommands, OpenShowsTheProjectAndNamesTheWindow)
{
    const QString file = path("room.qsdat");
    writeProject(file);
    answer = file;
    form.N3Click();
    EXPECT_EQ(lastFilter, "*.qsdat");
    EXPECT_EQ(lastSuffix, "qsdat");
    EXPECT_EQ(form.windowTitle(), qs(tk770::caption(0, 0)) + "   " + file);
    EXPECT_EQ(form.messageText(), "Open File Success");
    EXPECT_EQ(form.BandSliders[7]->value(), 100);
    EXPECT_EQ(form.InputLevelTexts[1]->text(), "3.3");
    EXPECT_EQ(form.DelayTexts[3]->text(), "120mS");
    EXPECT_EQ(form.refreshing, 0);
    EXPECT_STREQ(form.deviceIpText().data(), "10.1.2.3");
}

// The loaded project differs from the screen in an input level, a band, a
// delay and the mutes; only the input-level slider's handler runs unguarded
// during the open, so the levels unit is the one frame that goes out.
TEST_F(ProjectCommands, OpenWhileConnectedWritesOnlyTheInputLevels)
{
    const QString file = path("live.qsdat");
    writeProject(file);
    answer = file;
    connectSerial();
    form.N3Click();

    const std::vector<std::uint8_t> levels = withChecksum({0xCA, 0x06, 0x00, 0x00, 0x00, 0x05, 80, 33, 80, 80, 80});
    ASSERT_EQ(serial.writes.size(), 1u);
    EXPECT_EQ(serial.writes[0].bytes, levels);
    EXPECT_EQ(form.image().input_level[1], 33);
    EXPECT_EQ(form.image().eq[0][7], -40);
}

TEST_F(ProjectCommands, NewAfterOpenKeepsTheFieldsANewProjectLeaves)
{
    std::strcpy(form.image().profile_text[2], "Hall 3");
    const QString file = path("keep.qsdat");
    writeProject(file);
    answer = file;
    form.N3Click();
    form.N2Click();

    const auto& img = form.image();
    EXPECT_EQ(img.output_delay[3], 120);
    EXPECT_EQ(img.mute_flags, 0x21);
    EXPECT_EQ(img.master_mute, 1);
    EXPECT_EQ(img.sw_lpf_freq, 2);
    EXPECT_EQ(img.sw_lpf_mode, 4);
    EXPECT_STREQ(img.profile_text[2], "Hall 3");
    EXPECT_STREQ(form.deviceIpText().data(), "10.1.2.3");
    // What a new project does reset is reset, and shown.
    EXPECT_EQ(img.eq[0][7], 0);
    EXPECT_EQ(form.BandSliders[7]->value(), 60);
    EXPECT_EQ(form.DelayTexts[3]->text(), "120mS");
    EXPECT_EQ(textColour(form.MuteButtons[5]), pure_red);
    EXPECT_EQ(form.currentFileName(), "Untitle.QSdat");
    EXPECT_EQ(form.windowTitle(), qs(tk770::caption(0, 0)) + "   Untitle.QSdat");
}

TEST_F(ProjectCommands, RefusedOpensChangeNothing)
{
    QFile bad(path("bad.qsdat"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(290, 'x'));
    bad.close();
    const QString title = form.windowTitle();
    const tk770::ParameterImage before = form.image();

    struct Case {
        const char* what;
        QString answer;
        QString message;
    };
    const Case cases[] = {
        {"wrong magic", path("bad.qsdat"), "File Format Error!"},
        {"missing file", path("absent.qsdat"), "Can't open this file!"},
        {"path over 255 bytes", path(QString(260, QLatin1Char('a')) + ".qsdat"), "File Name Too Long!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        answer = c.answer;
        form.N3Click();
        EXPECT_EQ(form.messageText(), c.message);
        EXPECT_EQ(form.windowTitle(), title);
        EXPECT_EQ(std::memcmp(form.image().data(), before.data(), tk770::image_size), 0);
    }

    // Cancelling leaves everything but clears the guard.
    form.refreshing = 1;
    answer.clear();
    form.N3Click();
    EXPECT_EQ(form.refreshing, 0);
    EXPECT_EQ(form.windowTitle(), title);
}

TEST_F(ProjectCommands, SaveAsNamesTheWindowAndSaveWritesBackThere)
{
    answer = path("saved.qsdat");
    form.BandSliders[2]->setValue(20);
    form.N5Click();
    EXPECT_EQ(form.currentFileName(), answer);
    EXPECT_EQ(form.windowTitle(), qs(tk770::caption(0, 0)) + "   " + answer);

    form.BandSliders[2]->setValue(30);
    form.N4Click();
    tk770::ParameterImage loaded{};
    std::array<char, tk770::device_ip_text_size> ip{};
    ASSERT_EQ(tk770::read_project_file(QFile::encodeName(answer).toStdString(), loaded, ip), tk770::project_ok);
    EXPECT_EQ(loaded.eq[0][2], 30);

    // A refused name keeps the current one.
    answer = path(QString(300, QLatin1Char('b')));
    form.N5Click();
    EXPECT_EQ(form.messageText(), "File Name Too Long!");
    EXPECT_EQ(form.currentFileName(), path("saved.qsdat"));
}

TEST_F(ProjectCommands, SaveAsOverSomethingThatIsNotAFileIsRefusedWithTheReason)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    answer = path("folder");
    form.N5Click();
    EXPECT_EQ(form.messageText(), "Can't write this file!");
    EXPECT_TRUE(form.StatusPanel0->toolTip().contains(answer + ": not a regular file"))
        << form.StatusPanel0->toolTip().toStdString();
    EXPECT_TRUE(QFileInfo(answer).isDir());
    EXPECT_NE(form.currentFileName(), answer);

    answer = path(QString(300, QLatin1Char('b')));
    form.N5Click();
    EXPECT_EQ(form.messageText(), "File Name Too Long!");
    EXPECT_TRUE(form.StatusPanel0->toolTip().isEmpty()) << "the next message drops the old reason";
}

TEST_F(ProjectCommands, SaveWithoutANameWritesUntitledInTheWorkingDirectory)
{
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    form.N4Click();
    QDir::setCurrent(old);
    EXPECT_TRUE(QFile::exists(path("Untitle.QSdat")));
    EXPECT_EQ(QFileInfo(path("Untitle.QSdat")).size(), tk770::project_file_size);
}

// ---------------------------------------------------------------- graph

TEST_F(MainWindow, FlatChannelDrawsOnRow96)
{
    form.show();
    const QImage shown = form.PaintBox1->grab().toImage();
    ASSERT_EQ(shown.height(), 195);
    for (int x = 18; x <= 618; x += 2) {
        EXPECT_TRUE(isGreen(shown, x, 96)) << x;
        EXPECT_FALSE(isGreen(shown, x, 94)) << x;
        EXPECT_FALSE(isGreen(shown, x, 99)) << x;
    }
    // The grey 0 dB grid row is covered by the pen, the frame is not.
    EXPECT_EQ(shown.pixelColor(1, 150), QColor(128, 128, 128));
}

TEST_F(MainWindow, BandAtPlusSixPeaksAtItsCentreColumn)
{
    form.show();
    form.BandSliders[14]->setValue(0);  // 1000 Hz, +6.0 dB
    const QImage shown = form.PaintBox1->grab().toImage();
    EXPECT_TRUE(isGreen(shown, 358, 41));
    EXPECT_FALSE(isGreen(shown, 358, 39));
    EXPECT_TRUE(isGreen(shown, 348, 59) || isGreen(shown, 348, 60));
    EXPECT_TRUE(isGreen(shown, 368, 59) || isGreen(shown, 368, 60));
    // Far from the band the curve is back near 0 dB.
    EXPECT_TRUE(isGreen(shown, 40, 96));
}

TEST_F(MainWindow, RepaintShowsTheStoredCurveWithoutRedrawing)
{
    form.show();
    form.BandSliders[0]->setValue(120);
    const int draws = form.drawCount();
    const QImage before = form.PaintBox1->grab().toImage();
    // An image change that no handler saw must not appear on a repaint.
    form.image().eq[0][0] = 60;
    form.PaintBox1->repaint();
    EXPECT_EQ(form.drawCount(), draws);
    EXPECT_EQ(form.PaintBox1->grab().toImage(), before);
}

// ---------------------------------------------------------------- menus, panels

TEST_F(MainWindow, FunctionKeysChooseTheFormats)
{
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const struct {
        Qt::Key key;
        int input_format;
        int digital;
        QAction* item;
    } cases[] = {
        {Qt::Key_F5, 0, 1, form.N81}, {Qt::Key_F6, 0, 0, form.N82}, {Qt::Key_F7, 1, 0, form.N7},
        {Qt::Key_F8, 2, 0, form.N8},  {Qt::Key_F9, 3, 0, form.N9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        QTest::keyClick(&form, c.key);
        EXPECT_EQ(form.image().input_format, c.input_format);
        EXPECT_EQ(form.image().eight_channel_digital, c.digital);
        EXPECT_TRUE(c.item->isChecked());
    }
}

TEST_F(MainWindow, RadioMenusKeepExactlyOneMark)
{
    form.COM31->trigger();
    EXPECT_TRUE(form.COM31->isChecked());
    form.NET1->trigger();
    EXPECT_TRUE(form.NET1->isChecked());
    EXPECT_FALSE(form.COM31->isChecked());

    form.N12->trigger();
    EXPECT_EQ(form.image().power_on_format, 2);
    for (QAction* a : {form.N83, form.N84, form.N13, form.N14, form.N15}) EXPECT_FALSE(a->isChecked());

    // A format item the guard refuses does not mark itself.
    form.refreshing = 1;
    form.N9->trigger();
    EXPECT_FALSE(form.N9->isChecked());
    EXPECT_TRUE(form.N7->isChecked());

    EXPECT_FALSE(form.N19->isEnabled());
    EXPECT_FALSE(form.N26->isEnabled());
}

TEST_F(MainWindow, SidePanelsOpenOnHoverAndStayWhilePinned)
{
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto enter = [](QWidget* w) {
        QEnterEvent e(QPointF(2, 100), QPointF(2, 100), w->mapToGlobal(QPointF(2, 100)));
        QApplication::sendEvent(w, &e);
    };
    auto leave = [](QWidget* w) {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(w, &e);
    };
    for (SideChannel* panel : {form.suiSideChannel1, form.suiSideChannel2}) {
        SCOPED_TRACE(panel->objectName().toStdString());
        EXPECT_EQ(panel->width(), SideChannel::bar_width);
        enter(panel);
        EXPECT_TRUE(panel->isOpen());
        leave(panel);
        EXPECT_FALSE(panel->isOpen());
        enter(panel);
        panel->setPinned(true);
        leave(panel);
        EXPECT_TRUE(panel->isOpen());
        panel->setPinned(false);
        EXPECT_FALSE(panel->isOpen());
    }
    // Collapsed, the bars sit at the window edges clear of the controls.
    EXPECT_EQ(form.suiSideChannel1->geometry(), QRect(0, 53, 10, 533));
    EXPECT_EQ(form.suiSideChannel2->geometry(), QRect(942, 53, 10, 533));
    EXPECT_GT(form.suiButton1->x(), 10);
}

}  // namespace
