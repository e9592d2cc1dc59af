// The main window's control table: one row per family of controls that
// change one image field. A row names the field as the field table does, so
// the value range, the write unit and the command come from there; the row
// adds how a slider position maps to a value, the read-out, where the
// element index comes from and what follows the send. The handlers, the
// signal connections and the refresh stages all work from these rows.
//
// To add a control to an existing kind: its family (enum value here, row in
// ControlTable.cpp), its widgets (declared in Main.h, built in Main.cpp with
// the row's slider_range), the row's widget list and one-line handler in
// MainControls.cpp, and, when it is painted from the image, one line in its
// refresh stage in MainRefresh.cpp. Its field must be in the field table.
#pragma once

#include "core/field_table.h"

#include <QString>

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QObject;
class QSlider;
class TForm1;

namespace tk770 {

// Where the element of the field a control changes comes from.
enum class ControlIndex {
    single,               // the field has one element (or bit 0)
    tag,                  // the sender's tag: format, channel or section
    tab_channel_and_tag,  // bands: channel from the tab control, band from the tag
    selected_channel,     // the channel page shown (SelectedChannel)
};

// ---- sliders ----

enum class SliderControl {
    band,
    bass_gain,
    treble_gain,
    bass_turnover,
    treble_turnover,
    sw_lowpass_frequency,
    sw_cut,
    sw_frequency,
    sw_q,
    input_level,
    output_gain,
    output_delay,
    master_volume,
};
inline constexpr int slider_control_count = 13;

// What a slider's handler does once the value is stored. Every slider
// handler returns at once while `refreshing` is set.
enum class SliderEffect {
    readout,           // read-out, send
    band_curve,        // read-out, send, the band's curve section, redraw
    sw_peaking_curve,  // read-out, send, both SW peaking sections, redraw
    // `refreshing` held across send and refresh, so the sliders the refresh
    // moves do not run again; the refresh paints the read-outs.
    tone_refresh,
    sw_page_refresh,
};

struct SliderFamily {
    const char* name;
    std::string_view field;   // field table name
    std::string_view member;  // record member, empty for plain fields
    // Position 0 is the field's top value (value = max - position), as on
    // the vertical sliders; otherwise the position is the value.
    bool from_top;
    std::string (*readout)(int value);
    ControlIndex index;
    SliderEffect effect;
};

const SliderFamily& slider_family(SliderControl c);
// The field of a family, from the field table.
const Field& family_field(const SliderFamily& family);
// Slider value of a field value and back, and the slider range, all from
// the one mapping above and the field's range.
int slider_value(const SliderFamily& family, const Field& field, int position);
int slider_position(const SliderFamily& family, const Field& field, int value);
std::pair<int, int> slider_range(const SliderFamily& family);
inline std::pair<int, int> slider_range(SliderControl c) { return slider_range(slider_family(c)); }

// ---- flag bits: buttons and boxes that own one bit of a flag byte ----

enum class FlagControl {
    preset,           // the five preset boxes
    polarity,         // the eight polarity buttons
    mute,             // the eight channel mute buttons
    test_signal,      // the eight test-signal boxes of the output panel
    page_test_signal, // the EQ page's test-signal box, for the channel shown
    master_mute,
};
inline constexpr int flag_control_count = 6;

enum class FlagEffect {
    none,
    colour,           // red text while the bit is set
    polarity,         // caption from the table and red text while inverted
    page_twin,        // the EQ page box shows the selected channel's bit
    output_twin,      // the output panel box of that channel follows
};

struct FlagFamily {
    const char* name;
    std::string_view field;
    ControlIndex index;  // the bit number
    bool toggles;        // a click toggles the bit; else the box's check sets it
    bool guarded;        // ignored while `refreshing` is set
    // `refreshing` set across the change so that the twin box this one moves
    // does not run its own handler.
    bool holds_refreshing;
    FlagEffect effect;
};

const FlagFamily& flag_family(FlagControl c);
const Field& family_field(const FlagFamily& family);

// ---- choices: the index of the item chosen is the field's value ----

enum class ChoiceControl {
    nonsync_source,   // suiRadioGroup1
    aux_source,       // suiRadioGroup2
    test_signal,      // the signal generator, suiRadioGroup3
    fade_time,        // ComboBox1
    power_on_format,  // the Power-on Format menu items
};
inline constexpr int choice_control_count = 5;

enum class ChoiceSource {
    radio_group,  // the group's item index
    combo_box,    // the box's current index (the operator's choice only)
    item_tag,     // the tag of the menu item chosen
};

enum class ChoiceEffect {
    none,
    signal_labels,   // the test-signal boxes take the signal's label, then the send
    format_refresh,  // after the send the format display follows the source
};

struct ChoiceFamily {
    const char* name;
    std::string_view field;
    ChoiceSource source;
    bool locked_by_test_signal;  // ignored while any test signal runs
    ChoiceEffect effect;
};

const ChoiceFamily& choice_family(ChoiceControl c);
const Field& family_field(const ChoiceFamily& family);

// ---- the rows: a family with the window's widgets ----

// A read-out is a label or a read-only edit box.
struct Readout {
    QLabel* label = nullptr;
    QLineEdit* edit = nullptr;
    void setText(const QString& text) const;
};

using Handler = void (::TForm1::*)(QObject*);

struct SliderRow {
    const SliderFamily* family = nullptr;
    const Field* field = nullptr;
    std::vector<QSlider*> sliders;    // by slot: the tag, or 0
    std::vector<Readout> readouts;    // by slot; empty when none
    Handler handler = nullptr;        // the designer-named handler
};

struct ChoiceRow {
    const ChoiceFamily* family = nullptr;
    const Field* field = nullptr;
    std::vector<QObject*> items;  // the group or box, or every menu item
    Handler handler = nullptr;
};

struct FlagRow {
    const FlagFamily* family = nullptr;
    const Field* field = nullptr;
    std::vector<QAbstractButton*> buttons;  // by slot: the tag, or 0
    Handler handler = nullptr;
};

}  // namespace tk770
