// The device IP address dialog: the address the TCP client connects to.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

class TForm7 : public QDialog {
    Q_OBJECT
public:
    using HostSetter = std::function<void(const QString& host)>;

    // `deviceIpText` is the zero-terminated address kept with the project;
    // `setHost` makes a confirmed address the TCP client's host.
    TForm7(std::array<char, 20>& deviceIpText, HostSetter setHost, QWidget* parent = nullptr);

    void applyLanguage(int language);
    // Opening through NET: the box always starts from the stored address.
    void showDialog();

public slots:
    void suiButton1Click();

private:
    std::array<char, 20>& m_deviceIpText;
    HostSetter m_setHost;
    QLineEdit* m_edit1;
    QLabel* m_staticText1;
    QPushButton* m_suiButton1;
};
