// The control table of the window (ControlTable.h) put to work: the rows
// with their widgets, the one slider handler and the one flag handler the
// designer-named handlers call, and the painting of a row from the image
// that the refresh stages use.
#include "gui/Main.h"
#include "gui/MainSupport.h"

#include "core/send_unit.h"

#include <optional>

using tk770::tagOf;
using tk770::setFontColor;

using tk770::RadioGroup;

using tk770::ChoiceControl;
using tk770::FlagControl;
using tk770::SliderControl;

namespace {

tk770::FieldRef elementRef(const tk770::Field& field, int i, int j)
{
    return {&field, {i, j}, field.offset + i * field.stride[0] + j * field.stride[1]};
}

bool inExtent(const tk770::Field& field, int i, int j)
{
    if (field.rank >= 1 && (i < 0 || i >= field.extent[0])) return false;
    if (field.rank >= 2 && (j < 0 || j >= field.extent[1])) return false;
    return true;
}

template <class T, std::size_t N>
std::vector<T> listOf(const std::array<T, N>& widgets)
{
    return {widgets.begin(), widgets.end()};
}

}  // namespace

void TForm1::buildControlTable()
{
    // The fifteen index tables first: the rows and the tests reach the
    // widgets through them.
    PresetBoxes = {suiCheckBox1, suiCheckBox2, suiCheckBox3, suiCheckBox4, suiCheckBox5};
    InputLevelTexts = {StaticText1, StaticText2, StaticText3, StaticText4, StaticText5};
    InputLevelSliders = {suiTrackBar1, suiTrackBar2, suiTrackBar3, suiTrackBar4, suiTrackBar5};
    OutputGainSliders = {suiTrackBar6, suiTrackBar7, suiTrackBar8, suiTrackBar9,
                         suiTrackBar10, suiTrackBar11, suiTrackBar12, suiTrackBar13};
    DelaySliders = {TrackBar38, TrackBar39, TrackBar40, TrackBar41, TrackBar42, TrackBar43, TrackBar44, TrackBar45};
    OutputGainTexts = {StaticText6, StaticText7, StaticText8, StaticText9,
                       StaticText10, StaticText11, StaticText12, StaticText13};
    DelayTexts = {StaticText60, StaticText71, StaticText73, StaticText74,
                  StaticText75, StaticText76, StaticText77, StaticText78};
    PolarityButtons = {suiButton14, suiButton15, suiButton16, suiButton17,
                       suiButton18, suiButton19, suiButton20, suiButton21};
    MuteButtons = {suiButton6, suiButton7, suiButton8, suiButton9, suiButton10, suiButton11, suiButton12, suiButton13};
    SubQTexts = {Edit33, Edit36};
    SubFcTexts = {Edit32, Edit37};
    SubCutTexts = {Edit34, Edit35};
    BandTexts = {Edit4,  Edit5,  Edit6,  Edit7,  Edit8,  Edit9,  Edit10, Edit11, Edit12,
                 Edit13, Edit14, Edit15, Edit16, Edit17, Edit18, Edit19, Edit20, Edit21,
                 Edit22, Edit23, Edit24, Edit25, Edit26, Edit27, Edit28, Edit29, Edit30};
    BandSliders = {TrackBar4,  TrackBar5,  TrackBar6,  TrackBar7,  TrackBar8,  TrackBar9,  TrackBar10,
                   TrackBar11, TrackBar12, TrackBar13, TrackBar14, TrackBar15, TrackBar16, TrackBar17,
                   TrackBar18, TrackBar19, TrackBar20, TrackBar21, TrackBar22, TrackBar23, TrackBar24,
                   TrackBar25, TrackBar26, TrackBar27, TrackBar28, TrackBar29, TrackBar30};
    TestSignalBoxes = {suiCheckBox6, suiCheckBox7, suiCheckBox8, suiCheckBox9,
                       suiCheckBox10, suiCheckBox11, suiCheckBox12, suiCheckBox13};

    using R = tk770::Readout;
    auto labels = [](const auto& list) {
        std::vector<R> out;
        for (QLabel* l : list) out.push_back(R{l, nullptr});
        return out;
    };
    auto edits = [](const auto& list) {
        std::vector<R> out;
        for (QLineEdit* e : list) out.push_back(R{nullptr, e});
        return out;
    };
    auto slider = [this](SliderControl c, std::vector<QSlider*> sliders, std::vector<R> readouts,
                         tk770::Handler handler) {
        const tk770::SliderFamily& family = tk770::slider_family(c);
        m_sliderRows[static_cast<std::size_t>(c)] = {&family, &tk770::family_field(family), std::move(sliders),
                                                     std::move(readouts), handler};
    };
    slider(SliderControl::band, listOf(BandSliders), edits(BandTexts), &TForm1::TrackBar4Change);
    slider(SliderControl::bass_gain, {TrackBar2}, {R{nullptr, Edit1}}, &TForm1::TrackBar2Change);
    slider(SliderControl::treble_gain, {TrackBar1}, {R{nullptr, Edit2}}, &TForm1::TrackBar1Change);
    slider(SliderControl::bass_turnover, {TrackBar3}, {R{nullptr, Edit3}}, &TForm1::TrackBar3Change);
    slider(SliderControl::treble_turnover, {TrackBar32}, {R{nullptr, Edit31}}, &TForm1::TrackBar32Change);
    // The same slider as the bass turnover; TrackBar3Change picks the row
    // by the page shown, so it is connected once, through that row.
    slider(SliderControl::sw_lowpass_frequency, {TrackBar3}, {R{nullptr, Edit3}}, nullptr);
    slider(SliderControl::sw_cut, {TrackBar31, TrackBar35}, edits(SubCutTexts), &TForm1::TrackBar31Change);
    slider(SliderControl::sw_frequency, {TrackBar33, TrackBar37}, edits(SubFcTexts), &TForm1::TrackBar37Change);
    slider(SliderControl::sw_q, {TrackBar34, TrackBar36}, edits(SubQTexts), &TForm1::TrackBar36Change);
    slider(SliderControl::input_level, listOf(InputLevelSliders), labels(InputLevelTexts),
           &TForm1::suiTrackBar1Change);
    slider(SliderControl::output_gain, listOf(OutputGainSliders), labels(OutputGainTexts),
           &TForm1::suiTrackBar6Change);
    slider(SliderControl::output_delay, listOf(DelaySliders), labels(DelayTexts), &TForm1::TrackBar38Change);
    slider(SliderControl::master_volume, {suiTrackBar14}, {R{StaticText30, nullptr}}, &TForm1::suiTrackBar14Change);

    auto flag = [this](FlagControl c, std::vector<QAbstractButton*> buttons, tk770::Handler handler) {
        const tk770::FlagFamily& family = tk770::flag_family(c);
        m_flagRows[static_cast<std::size_t>(c)] = {&family, &tk770::family_field(family), std::move(buttons),
                                                   handler};
    };
    auto buttons = [](const auto& list) { return std::vector<QAbstractButton*>(list.begin(), list.end()); };
    flag(FlagControl::preset, buttons(PresetBoxes), &TForm1::suiCheckBox1Click);
    flag(FlagControl::polarity, buttons(PolarityButtons), &TForm1::suiButton14Click);
    flag(FlagControl::mute, buttons(MuteButtons), &TForm1::suiButton6Click);
    flag(FlagControl::test_signal, buttons(TestSignalBoxes), &TForm1::suiCheckBox6Click);
    flag(FlagControl::page_test_signal, {suiCheckBox14}, &TForm1::suiCheckBox14Click);
    flag(FlagControl::master_mute, {suiButton23}, &TForm1::suiButton23Click);

    auto choice = [this](ChoiceControl c, std::vector<QObject*> items, tk770::Handler handler) {
        const tk770::ChoiceFamily& family = tk770::choice_family(c);
        m_choiceRows[static_cast<std::size_t>(c)] = {&family, &tk770::family_field(family), std::move(items),
                                                     handler};
    };
    choice(ChoiceControl::nonsync_source, {suiRadioGroup1}, &TForm1::suiRadioGroup1Click);
    choice(ChoiceControl::aux_source, {suiRadioGroup2}, &TForm1::suiRadioGroup2Click);
    choice(ChoiceControl::test_signal, {suiRadioGroup3}, &TForm1::suiRadioGroup3Click);
    choice(ChoiceControl::fade_time, {ComboBox1}, &TForm1::ComboBox1Change);
    choice(ChoiceControl::power_on_format, {N83, N84, N12, N13, N14, N15}, &TForm1::N83Click);
}

const tk770::SliderRow& TForm1::sliderRow(SliderControl c) const { return m_sliderRows[static_cast<std::size_t>(c)]; }
const tk770::FlagRow& TForm1::flagRow(FlagControl c) const { return m_flagRows[static_cast<std::size_t>(c)]; }
const tk770::ChoiceRow& TForm1::choiceRow(ChoiceControl c) const
{
    return m_choiceRows[static_cast<std::size_t>(c)];
}

void TForm1::sendUnit(tk770::UnitKind kind, int index) { sendUnit(tk770::write_unit(kind, index)); }

void TForm1::sendUnit(const tk770::WriteUnit& unit)
{
    // A refused unit is counted by the link; the control keeps its value.
    const tk770::SendResult result = tk770::send_unit(*m_link, m_image, unit);
    noteSent(unit, result);
}

// ---------------------------------------------------------------- sliders

void TForm1::sliderChanged(SliderControl c, QObject* sender)
{
    if (refreshing) return;
    const tk770::SliderRow& row = sliderRow(c);
    const tk770::Field& field = *row.field;
    int i = 0, j = 0, slot = 0;
    switch (row.family->index) {
    case tk770::ControlIndex::single: break;
    case tk770::ControlIndex::tag: slot = i = tagOf(sender); break;
    // The channel comes from the tab control itself, not SelectedChannel.
    case tk770::ControlIndex::tab_channel_and_tag:
        i = suiTabControl1->tabIndex();
        slot = j = tagOf(sender);
        break;
    case tk770::ControlIndex::selected_channel: i = SelectedChannel; break;
    }
    if (!inExtent(field, i, j)) return;
    const tk770::FieldRef ref = elementRef(field, i, j);
    tk770::store_field(m_image, ref, {tk770::slider_value(*row.family, field, row.sliders[slot]->value()), {}});

    auto send = [&] { sendUnit(*tk770::send_unit_of(ref)); };
    switch (row.family->effect) {
    case tk770::SliderEffect::readout:
        showSliderReadout(c, slot, i, j);
        send();
        break;
    case tk770::SliderEffect::band_curve:
        showSliderReadout(c, slot, i, j);
        send();
        ComputeSection(i, j, tk770::kind_band);
        DrawResponse();
        break;
    case tk770::SliderEffect::sw_peaking_curve:
        showSliderReadout(c, slot, i, j);
        send();
        ComputeSection(0, 0, tk770::kind_sw_peaking);
        ComputeSection(0, 1, tk770::kind_sw_peaking);
        DrawResponse();
        break;
    case tk770::SliderEffect::tone_refresh: {
        tk770::RefreshingScope painting(refreshing);
        send();
        toneRefresh();
        break;
    }
    case tk770::SliderEffect::sw_page_refresh: {
        tk770::RefreshingScope painting(refreshing);
        send();
        subwooferPageRefresh();
        break;
    }
    }
}

void TForm1::showSliderPosition(SliderControl c, int slot, int i, int j)
{
    const tk770::SliderRow& row = sliderRow(c);
    const int value = tk770::field_number(m_image, elementRef(*row.field, i, j));
    row.sliders[slot]->setValue(tk770::slider_position(*row.family, *row.field, value));
}

int TForm1::sliderPositionOf(SliderControl c, int value) const
{
    const tk770::SliderRow& row = sliderRow(c);
    return tk770::slider_position(*row.family, *row.field, value);
}

void TForm1::showSliderReadout(SliderControl c, int slot, int i, int j)
{
    const tk770::SliderRow& row = sliderRow(c);
    row.readouts[slot].setText(tk770::qs(row.family->readout(tk770::field_number(m_image, elementRef(*row.field, i, j)))));
}

// ---------------------------------------------------------------- flag bits

void TForm1::flagChanged(FlagControl c, QObject* sender)
{
    const tk770::FlagRow& row = flagRow(c);
    if (row.family->guarded && refreshing) return;
    std::optional<tk770::RefreshingScope> twin;
    if (row.family->holds_refreshing) twin.emplace(refreshing);
    int bit = 0, slot = 0;
    switch (row.family->index) {
    case tk770::ControlIndex::tag: slot = bit = tagOf(sender); break;
    case tk770::ControlIndex::selected_channel: bit = SelectedChannel; break;
    default: break;
    }
    if (bit < 0 || bit >= 8 || (row.field->bits & BitMasks[bit]) == 0) return;

    std::uint8_t& byte = m_image.data()[row.field->offset];
    const std::uint8_t mask = BitMasks[bit];
    if (row.family->toggles) byte ^= mask;
    else if (row.buttons[slot]->isChecked()) byte |= mask;
    else byte &= static_cast<std::uint8_t>(~mask);
    const bool on = (byte & mask) != 0;

    QAbstractButton* button = row.buttons[slot];
    switch (row.family->effect) {
    case tk770::FlagEffect::none: break;
    case tk770::FlagEffect::colour: setFontColor(button, on ? 255 : 0); break;
    case tk770::FlagEffect::polarity:
        button->setText(caption(on ? tk770::pair_polarity_inverted : tk770::pair_polarity_normal));
        setFontColor(button, on ? 255 : 0);
        break;
    // The twins run no handler of their own: refreshing is held.
    case tk770::FlagEffect::page_twin:
        suiCheckBox14->setChecked((m_image.test_signal_flags & BitMasks[SelectedChannel]) != 0);
        break;
    case tk770::FlagEffect::output_twin: TestSignalBoxes[bit]->setChecked(on); break;
    }
    sendUnit(*tk770::send_unit_of(elementRef(*row.field, 0, 0)));
}

bool TForm1::flagIsSet(FlagControl c, int bit) const
{
    return (m_image.data()[flagRow(c).field->offset] & BitMasks[bit]) != 0;
}

// ---------------------------------------------------------------- choices

void TForm1::choiceChanged(ChoiceControl c, QObject* sender)
{
    const tk770::ChoiceRow& row = choiceRow(c);
    if (row.family->locked_by_test_signal && m_image.test_signal_flags != 0) return;
    int value = -1;
    switch (row.family->source) {
    case tk770::ChoiceSource::radio_group: value = static_cast<RadioGroup*>(row.items.front())->itemIndex(); break;
    case tk770::ChoiceSource::combo_box: value = static_cast<QComboBox*>(row.items.front())->currentIndex(); break;
    case tk770::ChoiceSource::item_tag: value = tagOf(sender); break;
    }
    if (value < row.field->min || value > row.field->max) return;
    const tk770::FieldRef ref = elementRef(*row.field, 0, 0);
    tk770::store_field(m_image, ref, {value, {}});
    if (row.family->effect == tk770::ChoiceEffect::signal_labels) {
        const QString label = tk770::qs(tk770::signal_label(value, Language));
        suiCheckBox14->setText(label);
        for (QCheckBox* b : TestSignalBoxes) b->setText(label);
    }
    sendUnit(*tk770::send_unit_of(ref));
    if (row.family->effect == tk770::ChoiceEffect::format_refresh) formatDisplayRefresh();
}

// ---------------------------------------------------------------- the designer's handlers

void TForm1::TrackBar4Change(QObject* sender) { sliderChanged(SliderControl::band, sender); }
void TForm1::TrackBar2Change(QObject* sender) { sliderChanged(SliderControl::bass_gain, sender); }
void TForm1::TrackBar1Change(QObject* sender) { sliderChanged(SliderControl::treble_gain, sender); }
void TForm1::TrackBar32Change(QObject* sender) { sliderChanged(SliderControl::treble_turnover, sender); }
void TForm1::TrackBar3Change(QObject* sender)
{
    // On the SW page this slider is the low-pass frequency.
    sliderChanged(SelectedChannel == 7 ? SliderControl::sw_lowpass_frequency : SliderControl::bass_turnover, sender);
}
void TForm1::TrackBar31Change(QObject* sender) { sliderChanged(SliderControl::sw_cut, sender); }
void TForm1::TrackBar37Change(QObject* sender) { sliderChanged(SliderControl::sw_frequency, sender); }
void TForm1::TrackBar36Change(QObject* sender) { sliderChanged(SliderControl::sw_q, sender); }
void TForm1::suiTrackBar1Change(QObject* sender) { sliderChanged(SliderControl::input_level, sender); }
void TForm1::suiTrackBar6Change(QObject* sender) { sliderChanged(SliderControl::output_gain, sender); }
void TForm1::TrackBar38Change(QObject* sender) { sliderChanged(SliderControl::output_delay, sender); }
void TForm1::suiTrackBar14Change(QObject* sender) { sliderChanged(SliderControl::master_volume, sender); }

void TForm1::suiCheckBox1Click(QObject* sender) { flagChanged(FlagControl::preset, sender); }
void TForm1::suiButton14Click(QObject* sender) { flagChanged(FlagControl::polarity, sender); }
void TForm1::suiButton6Click(QObject* sender) { flagChanged(FlagControl::mute, sender); }
void TForm1::suiCheckBox6Click(QObject* sender) { flagChanged(FlagControl::test_signal, sender); }
void TForm1::suiCheckBox14Click(QObject* sender) { flagChanged(FlagControl::page_test_signal, sender); }
void TForm1::suiButton23Click(QObject* sender) { flagChanged(FlagControl::master_mute, sender); }

void TForm1::suiRadioGroup1Click(QObject* sender) { choiceChanged(ChoiceControl::nonsync_source, sender); }
void TForm1::suiRadioGroup2Click(QObject* sender) { choiceChanged(ChoiceControl::aux_source, sender); }
void TForm1::suiRadioGroup3Click(QObject* sender) { choiceChanged(ChoiceControl::test_signal, sender); }
// Selecting from code raises nothing: only the operator's choice is stored.
void TForm1::ComboBox1Change(QObject* sender) { choiceChanged(ChoiceControl::fade_time, sender); }
void TForm1::N83Click(QObject* sender) { choiceChanged(ChoiceControl::power_on_format, sender); }
