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

    N1->setTitle(caption(1));
    N2->setText(caption(2));
    N3->setText(caption(3));
    N4->setText(caption(4));
    N5->setText(caption(5));
    N21->setText(caption(6));
    N20->setText(caption(7));
    N6->setText(caption(8));
    N25->setText(caption(115));
    N27->setText(caption(116));

    EQ1->setTitle(caption(9));
    QAction* formatItems[5] = {N81, N82, N7, N8, N9};
    for (int f = 0; f < 5; ++f) formatItems[f]->setText(caption(10 + f));
    EQ2->setTitle(caption(15));
    EQ3->setText(caption(16));
    N10->setTitle(caption(17));
    N16->setTitle(caption(18));
    N17->setText(caption(19));
    N18->setText(caption(20));
    IP1->setText(caption(21));
    N11->setTitle(caption(22));
    QAction* powerItems[6] = {N83, N84, N12, N13, N14, N15};
    for (int i = 0; i < 6; ++i) powerItems[i]->setText(caption(23 + i));
    N22->setText(caption(29));
    N23->setTitle(caption(30));

    suiSideChannel1->setCaption(caption(31));
    for (QCheckBox* b : PresetBoxes) b->setText(caption(32));
    QLabel* groupTitles[5] = {StaticText42, StaticText41, StaticText44, StaticText46, StaticText48};
    for (int f = 0; f < 5; ++f) groupTitles[f]->setText(caption(33 + f));
    suiRadioGroup1->setItemText(0, caption(38));
    suiRadioGroup1->setItemText(1, caption(39));
    for (int i = 0; i < 3; ++i) suiRadioGroup2->setItemText(i, caption(38 + i));
    suiCheckGroup1->item(0)->setText(caption(41));
    suiCheckGroup1->item(1)->setText(caption(42));

    suiSideChannel2->setCaption(caption(43));
    StaticText21->setText(caption(tk770::pair_output_channel_header));
    // Each polarity button names its own channel's state, as its red text
    // does; captioning all of them "normal" would contradict an inverted one.
    for (int ch = 0; ch < tk770::channel_count; ++ch) {
        const bool inverted = (m_image.polarity_flags & BitMasks[ch]) != 0;
        PolarityButtons[ch]->setText(caption(inverted ? tk770::pair_polarity_inverted : tk770::pair_polarity_normal));
    }
    for (QPushButton* b : MuteButtons) b->setText(caption(47));
    const QString signal = qs(tk770::signal_label(m_image.test_signal, Language));
    for (QCheckBox* b : TestSignalBoxes) b->setText(signal);
    suiRadioGroup3->setItemText(0, caption(48));
    suiRadioGroup3->setTitle(caption(49));

    for (int t = 0; t < 8; ++t) suiTabControl1->tabs()->setTabText(t, caption(50 + t));
    suiCheckBox14->setText(caption(58));
    suiButton22->setText(caption(59));
    StaticText27->setText(caption(60));
    StaticText28->setText(caption(61));
    StaticText31->setText(caption(62));
    StaticText32->setText(caption(63));
    suiButton23->setText(caption(47));
    StaticText29->setText(caption(64));

    // Renaming the items leaves the box's choice alone; selecting the stored
    // fade time again makes it show the new text of that same choice.
    for (int i = 0; i < 10; ++i) ComboBox1->setItemText(i, caption(65 + i));
    ComboBox1->setCurrentIndex(m_image.fade_time < ComboBox1->count() ? m_image.fade_time : -1);

    // Captions the format buttons by source (pairs 33, 34, 75 to 80).
    formatDisplayRefresh();

    for (TForm4* d : dialogsOf<TForm4>(this)) d->applyLanguage(Language);
    // Also drops the values from the device lines until the next decode.
    for (TForm5* d : dialogsOf<TForm5>(this)) d->applyLanguage(Language);
    for (TForm6* d : dialogsOf<TForm6>(this)) d->applyLanguage(Language);
    suiCheckBox15->setText(caption(111));
    suiRadioGroup4->setTitle(caption(112));
    for (TForm7* d : dialogsOf<TForm7>(this)) d->applyLanguage(Language);
}
