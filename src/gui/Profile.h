// The profile dialog: eight theatre texts kept in the image as code-page-936
// text, and the lines that show what the processor reports about itself.
#pragma once

#include "core/parameter_image.h"

#include <QDialog>
#include <QString>

#include <array>
#include <string>

class QLabel;
class QLineEdit;

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(tk770::ParameterImage& image, QWidget* parent = nullptr);

    void applyLanguage(int language);
    void showDialog();

    // Fills the eight boxes and the four device lines from the image; run
    // after every complete read of the processor, shown or not.
    void decodeDeviceInformation();

    QLineEdit* edit(int field) const { return m_edits[field]; }

private:
    // Edit1Change to Edit8Change: one handler, told apart by field index.
    void editChange(int field);

    tk770::ParameterImage& m_image;
    std::array<QLineEdit*, tk770::profile_text_count> m_edits{};
    std::array<QLabel*, tk770::profile_text_count> m_fieldLabels{};  // StaticText2..9
    QLabel* m_staticText1;   // theatre heading
    QLabel* m_staticText10;  // device heading
    QLabel* m_staticText11;  // serial number line
    QLabel* m_staticText12;  // model line
    QLabel* m_staticText13;  // firmware version line
    QLabel* m_staticText14;  // firmware date line
    QLabel* m_staticText15;  // program version line
};
