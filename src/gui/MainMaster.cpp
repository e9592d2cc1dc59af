// Fade time and power-on format (the master volume and mute are rows of the
// control table), and the window's way to the shared send function.
#include "gui/Main.h"

#include "core/send_unit.h"

void TForm1::sendUnit(tk770::UnitKind kind, int index)
{
    // A refused unit is counted by the link; the control keeps its value.
    tk770::send_unit(*m_link, m_image, kind, index);
}

void TForm1::ComboBox1Change(QObject*)
{
    // Only the ten choices can be selected, so 0..9 is all that is stored.
    const int i = ComboBox1->currentIndex();
    if (i < 0 || i > 9) return;
    m_image.fade_time = static_cast<std::uint8_t>(i);
    sendUnit(tk770::UnitKind::fade_time);
}

void TForm1::N83Click(QObject* sender)
{
    const int tag = tagOf(sender);
    if (tag < 0 || tag > 5) return;
    m_image.power_on_format = static_cast<std::uint8_t>(tag);
    sendUnit(tk770::UnitKind::power_on_format);
}
