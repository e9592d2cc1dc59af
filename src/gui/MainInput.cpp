// Input section handlers: format choice and MIC routing (the level sliders,
// preset boxes and source choices are rows of the control table). A running test signal locks the format buttons
// and the source and routing groups, but not the Format menu.
#include "core/format_choice.h"
#include "gui/Main.h"

using tk770::tagOf;

static void chooseFormat(TForm1& w, int f)
{
    if (!tk770::choose_format(w.image(), f)) return;
    w.formatDisplayRefresh();
}

void TForm1::suiButton1Click(QObject* sender)
{
    if (tk770::format_locked_by_test_signal(m_image)) return;
    const int f = tagOf(sender);
    if (f < 0 || f >= tk770::format_count) return;
    chooseFormat(*this, f);
    sendUnit(tk770::UnitKind::input_selection);
}

void TForm1::N81Click(QObject* sender)
{
    // The format items never mark themselves: put the mark back where the
    // image has it before (and whether or not) the choice is taken.
    formatDisplayRefresh();
    if (refreshing) return;
    const int f = tagOf(sender);
    if (f < 0 || f >= tk770::format_count) return;
    chooseFormat(*this, f);
    sendUnit(tk770::UnitKind::input_selection);
}

void TForm1::suiCheckGroup1Click(QObject*)
{
    if (m_image.test_signal_flags != 0 || refreshing) return;
    std::uint8_t r = m_image.mic_routing & static_cast<std::uint8_t>(~3u);
    if (suiCheckGroup1->checked(0)) r |= 1;
    if (suiCheckGroup1->checked(1)) r |= 2;
    m_image.mic_routing = r;
    sendUnit(tk770::UnitKind::mic_routing);
}
