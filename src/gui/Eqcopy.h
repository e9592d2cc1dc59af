// The EQ copy dialog: copies one main channel's band gains and tone record
// onto any set of the seven main channels.
#pragma once

#include "core/device_link.h"
#include "core/parameter_image.h"
#include "core/send_unit.h"

#include <QDialog>

#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    // `link` may be null; then nothing is ever written, as when not connected.
    TForm4(tk770::ParameterImage& image, tk770::LinkState& state, tk770::DeviceLink* link,
           QWidget* parent = nullptr);

    // Run after every copy, so the owner can repaint what it shows.
    void setAfterCopy(std::function<void()> afterCopy) { m_afterCopy = std::move(afterCopy); }
    // The copy button runs the copy through this when set: the owner's
    // command guard, since a copy writes while connected and can fail like
    // any control of the window.
    using CommandRunner = std::function<void(const std::function<void()>& copy)>;
    void setCommandRunner(CommandRunner runner) { m_runCommand = std::move(runner); }
    // Told of every unit the copy sent and whether the processor took it,
    // so the owner can keep its processor-memory reminder.
    using SentObserver = std::function<void(const tk770::WriteUnit& unit, tk770::SendResult result)>;
    void setSentObserver(SentObserver observer) { m_sent = std::move(observer); }

    void applyLanguage(int language);
    void showDialog();

    int sourceChannel() const;
    void setSourceChannel(int channel);
    void setDestination(int channel, bool checked);

public slots:
    void suiButton1Click();

private:
    void sendIfConnected(tk770::UnitKind kind, int index);

    tk770::ParameterImage& m_image;
    tk770::LinkState& m_state;
    tk770::DeviceLink* m_link;
    std::function<void()> m_afterCopy;
    CommandRunner m_runCommand;
    SentObserver m_sent;

    QGroupBox* m_suiRadioGroup1;
    QGroupBox* m_suiCheckGroup1;
    QPushButton* m_suiButton1;
    std::array<QRadioButton*, tk770::eq_channel_count> m_sourceItems{};
    std::array<QCheckBox*, tk770::eq_channel_count> m_destinationItems{};
};
