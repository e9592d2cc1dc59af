// Painting the controls from the parameter image. The controls hold no
// settings of their own; everything shown here is derived from the image.
//
// Setting a slider, check box or radio group runs its handler at once. The
// stages that must not be taken for operator input set `refreshing` and
// leave it set; the callers clear it (see each caller).
#include "gui/Main.h"
#include "gui/MainSupport.h"

#include "core/readout.h"

using tk770::setFontColor;

using tk770::FlagControl;
using tk770::qs;
using tk770::SliderControl;

namespace {

constexpr int red = 255;
constexpr int black = 0;

}  // namespace

void TForm1::setWindowTitleFromName()
{
    m_titleMarked = projectModified();
    const QString title = caption(tk770::pair_window_title) + QString::fromLatin1(tk770::window_title_separator.data())
                          + currentFileName() + (m_titleMarked ? QStringLiteral("*") : QString());
    setWindowTitle(title);
    suiForm1->setText(title);
}

void TForm1::displayRefresh()
{
    formatDisplayRefresh();
    inputSectionRefresh();
    equaliserPageRefresh();
    toneRefresh();
    outputRefresh();
}

void TForm1::formatDisplayRefresh()
{
    QPushButton* formatButtons[5] = {suiButton1, suiButton2, suiButton3, suiButton4, suiButton5};
    for (QPushButton* b : formatButtons) setFontColor(b, black);

    suiButton3->setText(caption(m_image.nonsync_source != 0 ? tk770::pair_nonsync_source_on
                                                            : tk770::pair_nonsync_source_off));
    // An unknown source leaves the caption as it is.
    if (m_image.aux_source < 3) suiButton4->setText(caption(tk770::pair_aux_sources + m_image.aux_source));
    suiButton5->setText(caption(tk770::pair_mic_format_button));
    suiButton1->setText(caption(tk770::pair_format_button_digital));
    suiButton2->setText(caption(tk770::pair_format_button_analog));

    // Format code -> button and menu item. Code 0 is split by the
    // digital/analog byte; anything past 3 marks nothing.
    int shown = -1;
    switch (m_image.input_format) {
    case 0: shown = m_image.eight_channel_digital != 0 ? 0 : 1; break;
    case 1: shown = 2; break;
    case 2: shown = 3; break;
    case 3: shown = 4; break;
    default: break;
    }
    QAction* formatItems[5] = {N81, N82, N7, N8, N9};
    if (shown >= 0) {
        setFontColor(formatButtons[shown], red);
        formatItems[shown]->setChecked(true);
    }

    suiRadioGroup1->setItemIndex(m_image.nonsync_source);
    suiRadioGroup2->setItemIndex(m_image.aux_source);

    QAction* powerItems[6] = {N83, N84, N12, N13, N14, N15};
    if (m_image.power_on_format < 6) powerItems[m_image.power_on_format]->setChecked(true);

    showSliderPosition(SliderControl::master_volume, 0, 0);
    showSliderReadout(SliderControl::master_volume, 0, 0);

    // Selecting from code raises nothing (the handler is bound to the
    // operator's choice); a stored value past the list selects nothing.
    ComboBox1->setCurrentIndex(m_image.fade_time < ComboBox1->count() ? m_image.fade_time : -1);
}

void TForm1::inputSectionRefresh()
{
    // No refreshing here: each level slider and preset box that moves runs
    // its handler, which sends its unit.
    for (int f = 0; f < tk770::format_count; ++f) {
        showSliderReadout(SliderControl::input_level, f, f);
        showSliderPosition(SliderControl::input_level, f, f);
        PresetBoxes[f]->setChecked(flagIsSet(FlagControl::preset, f));
    }
    suiCheckGroup1->setChecked(0, (m_image.mic_routing & 1) != 0);
    suiCheckGroup1->setChecked(1, (m_image.mic_routing & 2) != 0);
}

void TForm1::equaliserPageRefresh()
{
    const int c = SelectedChannel;
    if (c >= tk770::eq_channel_count) return;
    refreshing = 1;
    for (int b = 0; b < tk770::band_count; ++b) {
        showSliderPosition(SliderControl::band, b, c, b);
        showSliderReadout(SliderControl::band, b, c, b);
        ComputeSection(c, b, tk770::kind_band);
    }
    ComputeSection(c, 0, tk770::kind_bass_shelf);
    ComputeSection(c, 0, tk770::kind_treble_shelf);
    DrawResponse();
    suiCheckBox14->setChecked(flagIsSet(FlagControl::page_test_signal, c));
}

void TForm1::toneRefresh()
{
    const int c = SelectedChannel;
    if (c >= tk770::eq_channel_count) return;
    refreshing = 1;
    for (SliderControl tone : {SliderControl::bass_gain, SliderControl::treble_gain, SliderControl::bass_turnover,
                               SliderControl::treble_turnover}) {
        showSliderPosition(tone, 0, c);
        showSliderReadout(tone, 0, c);
    }
    ComputeSection(c, 0, tk770::kind_bass_shelf);
    ComputeSection(c, 0, tk770::kind_treble_shelf);
    DrawResponse();
}

void TForm1::outputRefresh()
{
    refreshing = 1;
    for (int ch = 0; ch < tk770::channel_count; ++ch) {
        showSliderPosition(SliderControl::output_gain, ch, ch);
        showSliderReadout(SliderControl::output_gain, ch, ch);
        showSliderPosition(SliderControl::output_delay, ch, ch);
        showSliderReadout(SliderControl::output_delay, ch, ch);
        // Fixed Chinese captions here whatever the language; a click on the
        // button captions it from the table instead.
        if (flagIsSet(FlagControl::polarity, ch)) {
            PolarityButtons[ch]->setText(QString::fromUtf8(tk770::polarity_refresh_inverted.data()));
            setFontColor(PolarityButtons[ch], red);
        } else {
            PolarityButtons[ch]->setText(QString::fromUtf8(tk770::polarity_refresh_normal.data()));
            setFontColor(PolarityButtons[ch], black);
        }
        setFontColor(MuteButtons[ch], flagIsSet(FlagControl::mute, ch) ? red : black);
    }
    setFontColor(suiButton23, flagIsSet(FlagControl::master_mute, 0) ? red : black);
}

void TForm1::subwooferPageRefresh()
{
    if (SelectedChannel != 7) return;
    refreshing = 1;
    for (SliderControl section : {SliderControl::sw_cut, SliderControl::sw_frequency, SliderControl::sw_q})
        for (int s = 0; s < 2; ++s) showSliderPosition(section, s, s);
    for (int s = 0; s < 2; ++s)
        for (SliderControl section : {SliderControl::sw_frequency, SliderControl::sw_cut, SliderControl::sw_q})
            showSliderReadout(section, s, s);
    if (m_image.sw_lpf_mode != 0) {
        suiCheckBox15->setChecked(true);
        // A slope past the list leaves the selection as it is.
        suiRadioGroup4->setItemIndex(m_image.sw_lpf_mode - 1);
    } else {
        suiCheckBox15->setChecked(false);
        suiRadioGroup4->setItemIndex(0);
    }
    showSliderPosition(SliderControl::sw_lowpass_frequency, 0, 0);
    ComputeSection(0, 0, tk770::kind_sw_peaking);
    ComputeSection(0, 1, tk770::kind_sw_peaking);
    for (int stage = 2; stage <= 5; ++stage) ComputeSection(0, stage, tk770::kind_sw_lowpass);
    DrawResponse();
    suiCheckBox14->setChecked(flagIsSet(FlagControl::page_test_signal, 7));
    showSliderReadout(SliderControl::sw_lowpass_frequency, 0, 0);
}

void TForm1::suiTabControl1Change(QObject*)
{
    SelectedChannel = suiTabControl1->tabIndex();
    QLabel* left[5] = {StaticText92, StaticText93, StaticText94, StaticText95, StaticText96};
    QLabel* right[5] = {StaticText22, StaticText23, StaticText24, StaticText25, StaticText26};
    if (SelectedChannel == 7) {
        const char* const sw[5] = {"+5", "  0", "-5", "-10", "-15"};
        for (int k = 0; k < 5; ++k) {
            left[k]->setText(QString::fromLatin1(sw[k]));
            right[k]->setText(QString::fromLatin1(sw[k]));
        }
        Panel1->show();
        Panel1->raise();
        for (QWidget* w : std::initializer_list<QWidget*>{TrackBar1, TrackBar2, TrackBar32, Edit1, Edit2, Edit31,
                                                          StaticText32})
            w->hide();
        TrackBar3->show();
        subwooferPageRefresh();
    } else {
        Panel1->hide();
        const char* const normal[5] = {"+10", "+5", "0", "-5", "-10"};
        for (int k = 0; k < 5; ++k) {
            left[k]->setText(QString::fromLatin1(normal[k]));
            right[k]->setText(QString::fromLatin1(normal[k]));
        }
        for (QWidget* w : std::initializer_list<QWidget*>{TrackBar1, TrackBar2, TrackBar3, TrackBar32, Edit1, Edit2,
                                                          Edit31, StaticText32})
            w->show();
        equaliserPageRefresh();
        toneRefresh();
    }
    refreshing = 0;
}
