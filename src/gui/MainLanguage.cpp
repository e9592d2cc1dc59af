// The language switch: both items of the Language menu set `Language` and
// re-caption the window and the four dialogs whose texts follow it. The
// pass only replaces texts; the image, the selections and the device are
// left alone (the format refresh it runs re-applies the image's own values).
#include "gui/Main.h"
#include "gui/MainSupport.h"

#include "gui/Eqcopy.h"
#include "gui/Equip.h"
#include "gui/Ipsetup.h"
#include "gui/Profile.h"

#include <QApplication>

using tk770::qs;

namespace {

// The dialogs live from start-up to exit, owned either by the main window
// or by the program entry; hidden ones are re-captioned too, so they open
// showing the language in force.
template <class Dialog>
QList<Dialog*> dialogsOf(const QObject* window)
{
    QList<Dialog*> found = window->findChildren<Dialog*>(Qt::FindDirectChildrenOnly);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* d = qobject_cast<Dialog*>(w);
        if (d && d->parent() == nullptr) found.append(d);
    }
    return found;
}

}  // namespace

void TForm1::N24Click(QObject*)
{
    Language = tk770::language_chinese;
    ApplyLanguage();
}

void TForm1::Endlish1Click(QObject*)
{
    Language = tk770::language_english;
    ApplyLanguage();
}

void TForm1::ApplyLanguage()
{
    setWindowTitleFromName();
    setProcessorUnsaved(m_processorUnsaved);

    N1->setTitle(caption(tk770::pair_file_menu));
    N2->setText(caption(tk770::pair_new_project));
    N3->setText(caption(tk770::pair_open_project));
    N4->setText(caption(tk770::pair_save_project));
    N5->setText(caption(tk770::pair_save_project_as));
    N21->setText(caption(tk770::pair_load_from_device));
    N20->setText(caption(tk770::pair_download_to_device));
    N6->setText(caption(tk770::pair_backup_to_ic_card));
    N25->setText(caption(tk770::pair_save_to_device));
    N27->setText(caption(tk770::pair_restart_device));

    EQ1->setTitle(caption(tk770::pair_format_menu));
    QAction* formatItems[5] = {N81, N82, N7, N8, N9};
    for (int f = 0; f < 5; ++f) formatItems[f]->setText(caption(tk770::pair_format_items + f));
    EQ2->setTitle(caption(tk770::pair_eq_menu));
    EQ3->setText(caption(tk770::pair_copy_eq));
    N10->setTitle(caption(tk770::pair_communication_menu));
    N16->setTitle(caption(tk770::pair_port_menu));
    N17->setText(caption(tk770::pair_connect));
    N18->setText(caption(tk770::pair_disconnect));
    IP1->setText(caption(tk770::pair_network_settings));
    N11->setTitle(caption(tk770::pair_power_on_menu));
    QAction* powerItems[6] = {N83, N84, N12, N13, N14, N15};
    for (int i = 0; i < 6; ++i) powerItems[i]->setText(caption(tk770::pair_power_on_items + i));
    N22->setText(caption(tk770::pair_profile_menu));
    N23->setTitle(caption(tk770::pair_language_menu));

    suiSideChannel1->setCaption(caption(tk770::pair_input_panel_title));
    for (QCheckBox* b : PresetBoxes) b->setText(caption(tk770::pair_preset));
    QLabel* groupTitles[5] = {StaticText42, StaticText41, StaticText44, StaticText46, StaticText48};
    for (int f = 0; f < 5; ++f) groupTitles[f]->setText(caption(tk770::pair_input_group_titles + f));
    suiRadioGroup1->setItemText(0, caption(tk770::pair_source_items));
    suiRadioGroup1->setItemText(1, caption(tk770::pair_source_items + 1));
    for (int i = 0; i < 3; ++i) suiRadioGroup2->setItemText(i, caption(tk770::pair_source_items + i));
    suiCheckGroup1->item(0)->setText(caption(tk770::pair_mic_center));
    suiCheckGroup1->item(1)->setText(caption(tk770::pair_mic_surround));

    suiSideChannel2->setCaption(caption(tk770::pair_output_panel_title));
    StaticText21->setText(caption(tk770::pair_output_channel_header));
    // Each polarity button names its own channel's state, as its red text
    // does; captioning all of them "normal" would contradict an inverted one.
    for (int ch = 0; ch < tk770::channel_count; ++ch) {
        const bool inverted = (m_image.polarity_flags & BitMasks[ch]) != 0;
        PolarityButtons[ch]->setText(caption(inverted ? tk770::pair_polarity_inverted : tk770::pair_polarity_normal));
    }
    for (QPushButton* b : MuteButtons) b->setText(caption(tk770::pair_mute));
    const QString signal = qs(tk770::signal_label(m_image.test_signal, Language));
    for (QCheckBox* b : TestSignalBoxes) b->setText(signal);
    suiRadioGroup3->setItemText(0, caption(tk770::pair_first_signal));
    suiRadioGroup3->setTitle(caption(tk770::pair_signal_generator));

    for (int t = 0; t < 8; ++t) suiTabControl1->tabs()->setTabText(t, caption(tk770::pair_channel_tabs + t));
    suiCheckBox14->setText(caption(tk770::pair_page_test_signal));
    suiButton22->setText(caption(tk770::pair_flat));
    StaticText27->setText(caption(tk770::pair_bass));
    StaticText28->setText(caption(tk770::pair_treble));
    StaticText31->setText(caption(tk770::pair_bass_turnover));
    StaticText32->setText(caption(tk770::pair_treble_turnover));
    suiButton23->setText(caption(tk770::pair_mute));
    StaticText29->setText(caption(tk770::pair_master_volume));

    // Renaming the items leaves the box's choice alone; selecting the stored
    // fade time again makes it show the new text of that same choice.
    for (int i = 0; i < 10; ++i) ComboBox1->setItemText(i, caption(tk770::pair_fade_times + i));
    ComboBox1->setCurrentIndex(m_image.fade_time < ComboBox1->count() ? m_image.fade_time : -1);

    // Captions the format buttons by source.
    formatDisplayRefresh();

    for (TForm4* d : dialogsOf<TForm4>(this)) d->applyLanguage(Language);
    // Also drops the values from the device lines until the next decode.
    for (TForm5* d : dialogsOf<TForm5>(this)) d->applyLanguage(Language);
    for (TForm6* d : dialogsOf<TForm6>(this)) d->applyLanguage(Language);
    suiCheckBox15->setText(caption(tk770::pair_lowpass));
    suiRadioGroup4->setTitle(caption(tk770::pair_lowpass_slope));
    for (TForm7* d : dialogsOf<TForm7>(this)) d->applyLanguage(Language);
}
