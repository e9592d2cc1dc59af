// The serial number writer: stores a serial number of up to 16 characters
// in the processor over the serial port. Its captions are Chinese only.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tk770 {
class DeviceSequences;
}

class TForm8 : public QDialog {
    Q_OBJECT
public:
    // `sequences` may be null: then the button sends nothing.
    explicit TForm8(tk770::DeviceSequences* sequences, QWidget* parent = nullptr);

    void setSequences(tk770::DeviceSequences* sequences) { m_sequences = sequences; }
    void showDialog();

public slots:
    void Button1Click();

private:
    tk770::DeviceSequences* m_sequences;
    QLabel* m_label1;
    QLineEdit* m_edit1;
    QPushButton* m_button1;
};
