#include "gui/ControlTable.h"

#include "core/readout.h"

#include <QLabel>
#include <QLineEdit>

#include <cstdlib>

namespace tk770 {

namespace {

using I = ControlIndex;
using E = SliderEffect;
using F = FlagEffect;

// In SliderControl order.
constexpr std::array<SliderFamily, slider_control_count> sliders{{
    {"band", "eq", {}, true, gain_text, I::tab_channel_and_tag, E::band_curve},
    {"bass_gain", "tone", "bass_gain", true, gain_text, I::selected_channel, E::tone_refresh},
    {"treble_gain", "tone", "treble_gain", true, gain_text, I::selected_channel, E::tone_refresh},
    {"bass_turnover", "tone", "bass_freq", false, bass_turnover_text, I::selected_channel, E::tone_refresh},
    {"treble_turnover", "tone", "treble_freq", false, treble_turnover_text, I::selected_channel, E::tone_refresh},
    // The bass turnover slider on the SW page.
    {"sw_lowpass_frequency", "sw_lpf_freq", {}, false, bass_turnover_text, I::single, E::sw_page_refresh},
    {"sw_cut", "sw_filter", "cut", true, gain_text, I::tag, E::sw_peaking_curve},
    {"sw_frequency", "sw_filter", "fc", false, frequency_text, I::tag, E::sw_peaking_curve},
    {"sw_q", "sw_filter", "q", false, q_text, I::tag, E::sw_peaking_curve},
    {"input_level", "input_level", {}, false, level_text, I::tag, E::readout},
    {"output_gain", "output_gain", {}, true, output_gain_text, I::tag, E::readout},
    {"output_delay", "output_delay", {}, true, delay_text, I::tag, E::readout},
    {"master_volume", "master_volume", {}, false, level_text, I::single, E::readout},
}};

// In FlagControl order.
constexpr std::array<FlagFamily, flag_control_count> flags{{
    // No guard: a refresh that changes a box sends the flags too.
    {"preset", "preset_flags", I::tag, false, false, false, F::none},
    {"polarity", "polarity_flags", I::tag, true, false, false, F::polarity},
    {"mute", "mute_flags", I::tag, true, false, false, F::colour},
    {"test_signal", "test_signal_flags", I::tag, false, true, true, F::page_twin},
    {"page_test_signal", "test_signal_flags", I::selected_channel, false, true, true, F::output_twin},
    {"master_mute", "master_mute", I::single, true, false, false, F::colour},
}};

// In ChoiceControl order. Values past the field's range are never stored.
constexpr std::array<ChoiceFamily, choice_control_count> choices{{
    {"nonsync_source", "nonsync_source", ChoiceSource::radio_group, true, ChoiceEffect::format_refresh},
    {"aux_source", "aux_source", ChoiceSource::radio_group, true, ChoiceEffect::format_refresh},
    {"test_signal", "test_signal", ChoiceSource::radio_group, false, ChoiceEffect::signal_labels},
    {"fade_time", "fade_time", ChoiceSource::combo_box, false, ChoiceEffect::none},
    {"power_on_format", "power_on_format", ChoiceSource::item_tag, false, ChoiceEffect::none},
}};

const Field& field_named(std::string_view name, std::string_view member)
{
    for (const Field& f : field_table())
        if (f.name == name && f.member == member) return f;
    // The table is fixed at build time; a row naming no field is a typing
    // error caught by the first start (and by the control table test).
    std::abort();
}

}  // namespace

const SliderFamily& slider_family(SliderControl c) { return sliders[static_cast<std::size_t>(c)]; }
const FlagFamily& flag_family(FlagControl c) { return flags[static_cast<std::size_t>(c)]; }
const ChoiceFamily& choice_family(ChoiceControl c) { return choices[static_cast<std::size_t>(c)]; }

const Field& family_field(const SliderFamily& family) { return field_named(family.field, family.member); }
const Field& family_field(const FlagFamily& family) { return field_named(family.field, {}); }
const Field& family_field(const ChoiceFamily& family) { return field_named(family.field, {}); }

int slider_value(const SliderFamily& family, const Field& field, int position)
{
    return family.from_top ? field.max - position : position;
}

int slider_position(const SliderFamily& family, const Field& field, int value)
{
    return family.from_top ? field.max - value : value;
}

std::pair<int, int> slider_range(const SliderFamily& family)
{
    const Field& f = family_field(family);
    return family.from_top ? std::pair{0, f.max - f.min} : std::pair{f.min, f.max};
}

void Readout::setText(const QString& text) const
{
    if (label) label->setText(text);
    else if (edit) edit->setText(text);
}

}  // namespace tk770
