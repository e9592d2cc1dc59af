// Small pieces the secondary dialogs share: caption lookup as a QString and
// the modeless show that only brings an open dialog forward.
#pragma once

#include "core/captions.h"

#include <QString>
#include <QWidget>

#include <string>

namespace tk770 {

inline QString captionText(int pair, int language)
{
    return QString::fromStdString(std::string(tk770::caption(pair, language)));
}

// The dialogs live for the whole run; opening one again only raises it.
inline void showModeless(QWidget* dialog)
{
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

// Marks (or clears) an edit box holding text that was refused.
inline void markRefused(QWidget* box, bool refused)
{
    box->setProperty("refused", refused);
    box->setStyleSheet(refused ? QStringLiteral("QLineEdit { border: 2px solid #ff0000; background: #ffe0e0; }")
                               : QString());
}

}  // namespace tk770
