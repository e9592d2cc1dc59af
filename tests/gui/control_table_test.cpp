// The control table against the window it drives: every slider row's range
// and both its ends, every flag row's bits, every choice row's items. A row
// whose mapping, field or widget list is wrong stores a value outside its
// field, touches a neighbouring byte or sends another unit, and fails here.
#include "gui/handlers_fixture.h"

#include "core/field_table.h"
#include "core/parameter_image.h"

#include <string>

using tk770::RadioGroup;

namespace {

using tk770::FieldRef;
using tk770::FlagControl;
using tk770::SliderControl;

FieldRef refOf(const tk770::Field& f, int i, int j)
{
    return {&f, {i, j}, f.offset + i * f.stride[0] + j * f.stride[1]};
}

// The request frame the window sent for a unit, as the processor reads it.
Bytes unitFrame(const tk770::ParameterImage& image, const tk770::WriteUnit& unit)
{
    const std::uint8_t* p = image.data() + *tk770::image_offset_of(unit.device_address);
    return serialFrame(unit.command == tk770::WriteCommand::store ? cmd_store : cmd_write, unit.device_address,
                       Bytes(p, p + unit.length));
}

// Which end of its field a slider gives at its minimum position. Written out
// per row, not taken from the table's own flag: a row turned upside down
// must fail here.
enum class AtMinimum { field_max, field_min };

struct SliderCase {
    SliderControl control;
    int tab;  // page shown while the slider moves
    AtMinimum at_minimum;
};

void PrintTo(const SliderCase& c, std::ostream* os) { *os << tk770::slider_family(c.control).name; }

class SliderRows : public HandlerWindow, public ::testing::WithParamInterface<SliderCase> {};

TEST_P(SliderRows, BothEndsOfEverySliderStoreTheFieldsEndsAndSendItsUnit)
{
    const SliderCase& c = GetParam();
    selectTab(c.tab);
    const tk770::SliderRow& row = form.sliderRow(c.control);
    ASSERT_EQ(row.family, &tk770::slider_family(c.control));
    const tk770::Field& field = *row.field;
    ASSERT_FALSE(row.sliders.empty());
    ASSERT_TRUE(row.readouts.empty() || row.readouts.size() == row.sliders.size());

    for (std::size_t slot = 0; slot < row.sliders.size(); ++slot) {
        QSlider* slider = row.sliders[slot];
        const auto [low, high] = tk770::slider_range(c.control);
        EXPECT_EQ(slider->minimum(), low) << slot;
        EXPECT_EQ(slider->maximum(), high) << slot;

        // The element the slider changes: bands on the page's channel, tone
        // controls of the selected channel, tagged ones by their slot.
        int i = 0, j = 0;
        switch (row.family->index) {
        case tk770::ControlIndex::single: break;
        case tk770::ControlIndex::tag: i = static_cast<int>(slot); break;
        case tk770::ControlIndex::tab_channel_and_tag:
            i = c.tab;
            j = static_cast<int>(slot);
            break;
        case tk770::ControlIndex::selected_channel: i = c.tab; break;
        }
        const FieldRef ref = refOf(field, i, j);
        const auto unit = tk770::send_unit_of(ref);
        ASSERT_TRUE(unit.has_value());

        // Top and bottom of the slider are the two ends of the field's range.
        const bool inverted = c.at_minimum == AtMinimum::field_max;
        const int atLow = inverted ? field.max : field.min;
        const int atHigh = inverted ? field.min : field.max;
        slider->setValue((low + high) / 2);
        for (const auto& [position, value] : {std::pair{low, atLow}, std::pair{high, atHigh}}) {
            serial.writes.clear();
            const tk770::ParameterImage before = form.image();
            slider->setValue(position);
            EXPECT_EQ(tk770::field_number(form.image(), ref), value) << "slot " << slot << " at " << position;
            // Nothing outside the unit changes.
            for (int k = 0; k < static_cast<int>(tk770::image_size); ++k) {
                const int address = tk770::device_address_of(k);
                if (address >= unit->device_address && address < unit->device_address + unit->length) continue;
                EXPECT_EQ(form.image().data()[k], before.data()[k]) << "slot " << slot << " image offset " << k;
            }
            EXPECT_EQ(frames(), std::vector<Bytes>{unitFrame(form.image(), *unit)}) << "slot " << slot;
            if (!row.readouts.empty() && row.readouts[slot].label) {
                EXPECT_EQ(row.readouts[slot].label->text(), utf8(row.family->readout(value)));
            }
            if (!row.readouts.empty() && row.readouts[slot].edit) {
                EXPECT_EQ(row.readouts[slot].edit->text(), utf8(row.family->readout(value)));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, SliderRows,
    // Gains, cuts and delays run from the top of their field; frequencies,
    // Q, levels and the master volume from the bottom.
    ::testing::Values(SliderCase{SliderControl::band, 3, AtMinimum::field_max},
                      SliderCase{SliderControl::bass_gain, 1, AtMinimum::field_max},
                      SliderCase{SliderControl::treble_gain, 6, AtMinimum::field_max},
                      SliderCase{SliderControl::bass_turnover, 0, AtMinimum::field_min},
                      SliderCase{SliderControl::treble_turnover, 2, AtMinimum::field_min},
                      SliderCase{SliderControl::sw_lowpass_frequency, 7, AtMinimum::field_min},
                      SliderCase{SliderControl::sw_cut, 7, AtMinimum::field_max},
                      SliderCase{SliderControl::sw_frequency, 7, AtMinimum::field_min},
                      SliderCase{SliderControl::sw_q, 7, AtMinimum::field_min},
                      SliderCase{SliderControl::input_level, 0, AtMinimum::field_min},
                      SliderCase{SliderControl::output_gain, 0, AtMinimum::field_max},
                      SliderCase{SliderControl::output_delay, 0, AtMinimum::field_max},
                      SliderCase{SliderControl::master_volume, 0, AtMinimum::field_min}),
    [](const auto& info) { return std::string(tk770::slider_family(info.param.control).name); });

// Every flag row, every bit its field owns: one action changes exactly that
// bit of the byte and sends the byte's unit; a second one puts it back.
class FlagRows : public HandlerWindow, public ::testing::WithParamInterface<FlagControl> {};

TEST_P(FlagRows, EachBitFlipsAloneAndIsSent)
{
    const tk770::FlagRow& row = form.flagRow(GetParam());
    const tk770::Field& field = *row.field;
    const auto unit = tk770::send_unit_of(refOf(field, 0, 0));
    ASSERT_TRUE(unit.has_value());
    const bool perChannelPage = row.family->index == tk770::ControlIndex::selected_channel;
    const int bits = perChannelPage ? tk770::channel_count : static_cast<int>(row.buttons.size());
    for (int bit = 0; bit < bits; ++bit) {
        if (perChannelPage) selectTab(bit);
        QAbstractButton* button = row.buttons[perChannelPage ? 0 : static_cast<std::size_t>(bit)];
        const std::uint8_t start = form.image().data()[field.offset];
        for (int press = 1; press <= 2; ++press) {
            serial.writes.clear();
            if (row.family->toggles) clickButton(button);
            else clickItem(button);
            const std::uint8_t expected = press == 1 ? start ^ (1u << bit) : start;
            EXPECT_EQ(form.image().data()[field.offset], expected) << "bit " << bit << " press " << press;
            EXPECT_EQ(frames(), std::vector<Bytes>{unitFrame(form.image(), *unit)}) << "bit " << bit;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryRow, FlagRows,
                         ::testing::Values(FlagControl::preset, FlagControl::polarity, FlagControl::mute,
                                           FlagControl::test_signal, FlagControl::page_test_signal,
                                           FlagControl::master_mute),
                         [](const auto& info) { return std::string(tk770::flag_family(info.param).name); });

// Every choice row's items store their own index, within the field's range.
TEST_F(HandlerWindow, ChoiceRowsStoreTheIndexOfTheItemChosen)
{
    using tk770::ChoiceControl;
    for (ChoiceControl c : {ChoiceControl::nonsync_source, ChoiceControl::aux_source, ChoiceControl::test_signal,
                            ChoiceControl::fade_time, ChoiceControl::power_on_format}) {
        const tk770::ChoiceRow& row = form.choiceRow(c);
        const tk770::Field& field = *row.field;
        const FieldRef ref = refOf(field, 0, 0);
        const auto unit = tk770::send_unit_of(ref);
        ASSERT_TRUE(unit.has_value()) << row.family->name;
        for (int value = field.max; value >= field.min; --value) {
            serial.writes.clear();
            switch (row.family->source) {
            case tk770::ChoiceSource::radio_group: {
                auto* group = static_cast<RadioGroup*>(row.items.front());
                clickItem(group->item(value));
                break;
            }
            case tk770::ChoiceSource::combo_box: {
                auto* box = static_cast<QComboBox*>(row.items.front());
                ASSERT_EQ(box->count(), field.max - field.min + 1) << row.family->name;
                box->setCurrentIndex(value);
                // Selecting from code runs nothing; the operator's choice does.
                EXPECT_TRUE(frames().empty()) << row.family->name;
                emit box->activated(value);
                break;
            }
            case tk770::ChoiceSource::item_tag:
                ASSERT_EQ(static_cast<int>(row.items.size()), field.max - field.min + 1) << row.family->name;
                static_cast<QAction*>(row.items[static_cast<std::size_t>(value)])->trigger();
                break;
            }
            EXPECT_EQ(tk770::field_number(form.image(), ref), value) << row.family->name;
            EXPECT_EQ(frames(), std::vector<Bytes>{unitFrame(form.image(), *unit)}) << row.family->name << " " << value;
        }
    }
}

}  // namespace
