// The network configuration dialog: reads and writes the processor's own
// IP address, subnet mask and gateway over the serial port.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tk770 {
class DeviceSequences;
}

class TForm6 : public QDialog {
    Q_OBJECT
public:
    // `sequences` may be null: then the buttons send nothing.
    explicit TForm6(tk770::DeviceSequences* sequences, QWidget* parent = nullptr);

    void setSequences(tk770::DeviceSequences* sequences) { m_sequences = sequences; }
    void applyLanguage(int language);
    void showDialog();

public slots:
    void suiButton1Click();  // read the settings
    void suiButton2Click();  // write the settings

private:
    tk770::DeviceSequences* m_sequences;
    QLineEdit* m_edit1;  // IP address
    QLineEdit* m_edit2;  // subnet mask
    QLineEdit* m_edit3;  // gateway
    QLabel* m_staticText1;
    QLabel* m_staticText2;
    QLabel* m_staticText3;
    QPushButton* m_suiButton1;
    QPushButton* m_suiButton2;
};
