// The operator's safety nets in the real window: the title's mark for an
// unsaved project, the processor-memory reminder, the three answers of both
// questions before New, Open, Disconnect and closing, the machine's serial
// ports in the COM menu, and the settings kept between runs.
#include "gui/Main.h"

#include "core/captions.h"
#include "core/project_file.h"
#include "core/status_texts.h"
#include "gui/Eqcopy.h"
#include "gui/Equip.h"
#include "link/serial_transport.h"
#include "questions.h"
#include "support/recording_sim.h"
#include "support/text.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSerialPort>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using tk770::testing::qs;
using tk770::testing::RecordingSim;

QString notice(int pair, int language) { return qs(tk770::notice(pair, language)); }

QString titleOf(const QString& file, int language = 0) { return qs(tk770::caption(0, language)) + "   " + file; }

// A project on disk whose band 7 of the left channel is `band7`.
void writeProject(const QString& path, int band7)
{
    tk770::ParameterImage img{};
    img.reset_to_defaults();
    img.eq[0][7] = static_cast<std::int8_t>(band7);
    std::array<char, tk770::device_ip_text_size> ip{};
    ASSERT_EQ(tk770::write_project_file(QFile::encodeName(path).toStdString(), img, ip), tk770::project_ok);
}

// Band 7 of the left channel as a project file holds it.
int band7InFile(const QString& path)
{
    tk770::ParameterImage img{};
    std::array<char, tk770::device_ip_text_size> ip{};
    if (tk770::read_project_file(QFile::encodeName(path).toStdString(), img, ip) != tk770::project_ok) return 999;
    return img.eq[0][7];
}

// The window on the serial port of an in-process processor, connected the
// way an operator connects (COM1, Connect), with every question answered
// by the test and every error message kept.
class SafetyWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        form.setTransports(&serial, nullptr);
        form.setErrorReporter([this](const QString& text) { errors << text; });
        form.setDialogRunner([this](QFileDialog*) { return dialogAnswer; });
        form.show();
    }

    void connectSerial()
    {
        form.COM11->trigger();
        form.N17->trigger();
        ASSERT_EQ(form.linkState().connected, 1);
        serial.clearRecord();
    }

    // One step of band 7 on the shown channel: the image value is 60 - position.
    void moveBand7(int value) { form.BandSliders[7]->setValue(60 - value); }

    bool marked() const { return form.windowTitle().endsWith(QLatin1Char('*')); }

    // Whether the processor's working memory differs from its saved copy.
    bool processorDiffersFromItsMemory()
    {
        const auto& device = serial.sim().device();
        return device.working() != device.nonvolatile();
    }

    bool saveByteSent() const
    {
        for (const auto& r : serial.requests())
            if (r.command == 0x06 && r.address == tk770::command_register && r.data == tk770::testing::Bytes{2})
                return true;
        return false;
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    RecordingSim serial;
    TForm1 form;
    QuestionAnswers questions{form};
    QString dialogAnswer;
    QStringList errors;
};

// ---------------------------------------------------------------- the title's mark

TEST_F(SafetyWindow, TitleMarkFollowsTheProjectAgainstItsFile)
{
    EXPECT_EQ(form.windowTitle(), titleOf("Untitle.QSdat"));
    moveBand7(-20);
    EXPECT_EQ(form.windowTitle(), titleOf("Untitle.QSdat*"));
    EXPECT_EQ(form.suiForm1->text(), form.windowTitle());
    moveBand7(0);
    EXPECT_FALSE(marked()) << "back at the saved value";

    const QString room = path("room.qsdat");
    moveBand7(-20);
    dialogAnswer = room;
    form.N5->trigger();
    EXPECT_EQ(form.windowTitle(), titleOf(room));

    moveBand7(10);
    EXPECT_TRUE(marked());
    form.N4->trigger();
    EXPECT_FALSE(marked());
    EXPECT_EQ(band7InFile(room), 10);

    moveBand7(30);
    form.Endlish1->trigger();
    EXPECT_EQ(form.windowTitle(), titleOf(room + "*", 1)) << "the language switch keeps the mark";
    form.N24->trigger();

    const QString other = path("other.qsdat");
    writeProject(other, -40);
    dialogAnswer = other;
    questions.next({tk770::notice_discard});
    form.N3->trigger();
    EXPECT_EQ(form.windowTitle(), titleOf(other));
    EXPECT_EQ(form.image().eq[0][7], -40);

    moveBand7(0);
    questions.next({tk770::notice_discard});
    form.N2->trigger();
    EXPECT_EQ(form.windowTitle(), titleOf("Untitle.QSdat"));

    // The device address is part of the file too.
    form.NET1->trigger();
    form.deviceIpDialog()->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("10.0.0.7"));
    form.deviceIpDialog()->suiButton1Click();
    EXPECT_TRUE(marked());
    EXPECT_EQ(questions.asked.size(), 2u);
}

TEST_F(SafetyWindow, ReadingFromTheProcessorMarksTheProjectWhenItBringsOtherValues)
{
    // The factory memory holds a new project's values: nothing changes.
    connectSerial();
    EXPECT_FALSE(marked());

    questions.next({tk770::notice_dont_save});
    form.N18->trigger();
    serial.setMemory(0x040 + 7, {static_cast<std::uint8_t>(-30)});
    form.N17->trigger();
    EXPECT_EQ(form.image().eq[0][7], -30);
    EXPECT_TRUE(marked());
}

// ---------------------------------------------------------------- the project question

TEST_F(SafetyWindow, ProjectQuestionEachAnswerForNewOpenAndClose)
{
    enum class Command { newProject, open, close };
    struct Case {
        const char* name;
        Command command;
        int answer;
        bool goesOn;
        int band7OnDisk;
    };
    const Case cases[] = {
        {"new, save", Command::newProject, tk770::notice_save, true, 25},
        {"new, discard", Command::newProject, tk770::notice_discard, true, 10},
        {"new, cancel", Command::newProject, tk770::notice_cancel, false, 10},
        {"open, save", Command::open, tk770::notice_save, true, 25},
        {"open, discard", Command::open, tk770::notice_discard, true, 10},
        {"open, cancel", Command::open, tk770::notice_cancel, false, 10},
        {"close, save", Command::close, tk770::notice_save, true, 25},
        {"close, discard", Command::close, tk770::notice_discard, true, 10},
        {"close, cancel", Command::close, tk770::notice_cancel, false, 10},
    };
    const QString other = path("other.qsdat");
    writeProject(other, -40);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TForm1 window;
        window.setTransports(&serial, nullptr);
        QuestionAnswers answers(window);
        QString dialog;
        window.setDialogRunner([&dialog](QFileDialog*) { return dialog; });
        window.show();
        const QString room = path(QStringLiteral("%1.qsdat").arg(c.name).replace(' ', '_').replace(',', '_'));
        window.BandSliders[7]->setValue(60 - 10);
        dialog = room;
        window.N5->trigger();
        window.BandSliders[7]->setValue(60 - 25);

        answers.next({c.answer});
        dialog = other;
        switch (c.command) {
        case Command::newProject: window.N2->trigger(); break;
        case Command::open: window.N3->trigger(); break;
        case Command::close: window.close(); break;
        }
        ASSERT_EQ(answers.asked.size(), 1u);
        EXPECT_EQ(answers.asked[0].text, notice(tk770::notice_project_changed, 0).arg(room));
        EXPECT_EQ(answers.asked[0].title, notice(tk770::notice_unsaved_title, 0));
        EXPECT_EQ(band7InFile(room), c.band7OnDisk);

        const bool went = c.command == Command::newProject ? window.currentFileName() == "Untitle.QSdat"
                          : c.command == Command::open     ? window.currentFileName() == other
                                                           : !window.isVisible();
        EXPECT_EQ(went, c.goesOn);
        if (!c.goesOn) {
            EXPECT_EQ(window.image().eq[0][7], 25) << "cancel leaves everything as it was";
            EXPECT_EQ(window.windowTitle(), titleOf(room + "*"));
        } else if (c.command != Command::close) {
            EXPECT_EQ(window.windowTitle(), titleOf(window.currentFileName())) << "no mark on what was just loaded";
        }
    }
}

TEST_F(SafetyWindow, SavingAnUntitledProjectFromTheQuestionChoosesAFileFirst)
{
    moveBand7(20);
    // A cancelled save dialog goes no further.
    questions.next({tk770::notice_save});
    dialogAnswer.clear();
    form.N2->trigger();
    EXPECT_EQ(form.image().eq[0][7], 20);
    EXPECT_TRUE(marked());

    // A save refused by the file system goes no further either.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    questions.next({tk770::notice_save});
    dialogAnswer = path("folder");
    form.N2->trigger();
    EXPECT_EQ(form.messageText(), qs(tk770::text_cannot_write_file));
    EXPECT_EQ(form.image().eq[0][7], 20);
    EXPECT_TRUE(marked());

    questions.next({tk770::notice_save});
    dialogAnswer = path("named.qsdat");
    form.N2->trigger();
    EXPECT_EQ(band7InFile(path("named.qsdat")), 20);
    EXPECT_EQ(form.image().eq[0][7], 0);
    EXPECT_EQ(form.windowTitle(), titleOf("Untitle.QSdat"));
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath("Untitle.QSdat")));
}

TEST_F(SafetyWindow, NothingToLoseAsksNothing)
{
    // Any question here fails the test.
    const QString room = path("room.qsdat");
    writeProject(room, 5);
    dialogAnswer = room;
    form.N3->trigger();
    form.N2->trigger();
    connectSerial();
    form.N84->trigger();  // the power-on format is stored, straight into memory
    form.N18->trigger();
    EXPECT_EQ(form.linkState().connected, 0);
    dialogAnswer = path("saved.qsdat");
    form.N5->trigger();  // the power-on format is part of the project
    form.close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(questions.asked.empty()) << (questions.asked.empty() ? "" : questions.asked[0].text.toStdString());
}

// ---------------------------------------------------------------- processor memory

TEST_F(SafetyWindow, ReminderFollowsWhatTheProcessorTookAndWhatItSaved)
{
    const QString reminder = notice(tk770::notice_not_saved_status, 0);
    connectSerial();
    EXPECT_EQ(form.processorMemoryText(), "");

    // A fault that loses the reply leaves the panel unsure what the
    // processor did (the simulator did carry the request out), so such a
    // write shows the reminder too; those steps are not compared with the
    // processor's own memory.
    struct Step {
        const char* name;
        std::function<void()> act;
        bool shown;
        bool replyLost = false;
    };
    const Step steps[] = {
        {"a stored unit", [&] { form.N84->trigger(); }, false},
        {"a write the processor did not answer",
         [&] {
             serial.faultAhead("no-reply", 1);
             moveBand7(3);
         },
         true, true},
        {"an acknowledged write", [&] { moveBand7(4); }, true},
        {"save to memory", [&] { form.N25->trigger(); }, false},
        {"a write", [&] { moveBand7(5); }, true},
        {"a refused save to memory",
         [&] {
             serial.faultAhead("no-reply", 1);
             form.N25->trigger();
         },
         true, true},
        {"a download", [&] { form.N20->trigger(); }, false},
        {"an EQ copy",
         [&] {
             form.eqCopyDialog()->setSourceChannel(0);
             form.eqCopyDialog()->setDestination(2, true);
             form.eqCopyDialog()->suiButton1Click();
         },
         true},
        {"a restart", [&] { form.N27->trigger(); }, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        s.act();
        EXPECT_EQ(form.processorUnsaved(), s.shown);
        EXPECT_EQ(form.processorMemoryText(), s.shown ? reminder : QString());
        // The reminder tells the truth about the processor itself.
        if (!s.replyLost) { EXPECT_EQ(processorDiffersFromItsMemory(), s.shown); }
        EXPECT_EQ(form.linkState().connected, 1);
    }

    moveBand7(6);
    form.Endlish1->trigger();
    EXPECT_EQ(form.processorMemoryText(), "Not saved to processor");
    form.N24->trigger();
    EXPECT_EQ(form.processorMemoryText(), "未存入设备");
    EXPECT_TRUE(questions.asked.empty());
}

TEST_F(SafetyWindow, ProcessorQuestionEachAnswerForDisconnectAndClose)
{
    struct Case {
        const char* name;
        bool close;
        int answer;
        bool refuseSave;
        bool goesOn;
        bool saveSent;
    };
    const Case cases[] = {
        {"disconnect, save", false, tk770::notice_save_to_processor, false, true, true},
        {"disconnect, don't save", false, tk770::notice_dont_save, false, true, false},
        {"disconnect, cancel", false, tk770::notice_cancel, false, false, false},
        {"disconnect, save refused", false, tk770::notice_save_to_processor, true, false, true},
        {"close, save", true, tk770::notice_save_to_processor, false, true, true},
        {"close, don't save", true, tk770::notice_dont_save, false, true, false},
        {"close, cancel", true, tk770::notice_cancel, false, false, false},
        {"close, save refused", true, tk770::notice_save_to_processor, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSim device;
        TForm1 window;
        window.setTransports(&device, nullptr);
        QuestionAnswers answers(window);
        window.show();
        window.COM11->trigger();
        window.N17->trigger();
        window.BandSliders[3]->setValue(50);
        // Saved to a file, so closing has only the processor to ask about.
        QString file = path(QStringLiteral("p%1.qsdat").arg(&c - cases));
        window.setDialogRunner([&file](QFileDialog*) { return file; });
        window.N5->trigger();
        device.clearRecord();
        ASSERT_TRUE(window.processorUnsaved());

        if (c.refuseSave) device.faultAhead("no-reply", 1);
        answers.next({c.answer});
        if (c.close) window.close();
        else window.N18->trigger();

        ASSERT_EQ(answers.asked.size(), 1u);
        EXPECT_EQ(answers.asked[0].text, notice(tk770::notice_processor_unsaved, 0));
        EXPECT_EQ(answers.asked[0].buttons.size(), 3);
        bool sent = false;
        for (const auto& r : device.requests())
            if (r.command == 0x06 && r.address == tk770::command_register) sent = true;
        EXPECT_EQ(sent, c.saveSent);
        if (c.close) { EXPECT_EQ(!window.isVisible(), c.goesOn); }
        else EXPECT_EQ(window.linkState().connected == 0, c.goesOn);
        if (!c.goesOn) {
            EXPECT_EQ(window.linkState().connected, 1);
            EXPECT_TRUE(window.processorUnsaved());
            EXPECT_TRUE(window.isVisible());
        }
        if (c.refuseSave) { EXPECT_EQ(window.messageText(), qs(tk770::text_save_memory_fail)); }
        if (c.goesOn && !c.close) { EXPECT_EQ(window.processorMemoryText(), ""); }
        const auto& memory = device.sim().device();
        if (!c.refuseSave) { EXPECT_EQ(memory.working() == memory.nonvolatile(), c.saveSent); }
    }
}

// A link that failed leaves the reminder up: the processor may still hold
// the writes. Saving needs the link again; the operator may also let go.
TEST_F(SafetyWindow, ReminderOutlivesAFailedLinkUntilTheOperatorDecides)
{
    connectSerial();
    moveBand7(9);
    serial.faultAhead("no-reply", 1);
    form.N21->trigger();  // read all fails and drops the link
    ASSERT_EQ(form.linkState().connected, 0);
    EXPECT_TRUE(form.processorUnsaved());

    questions.next({tk770::notice_save_to_processor, tk770::notice_dont_save});
    form.N18->trigger();
    EXPECT_EQ(form.messageText(), qs(tk770::text_save_memory_fail)) << "nothing can be saved without the link";
    EXPECT_TRUE(form.processorUnsaved());
    form.N18->trigger();
    EXPECT_EQ(form.messageText(), qs(tk770::text_disconnected));
    EXPECT_FALSE(form.processorUnsaved());
    EXPECT_EQ(questions.asked.size(), 2u);
    EXPECT_FALSE(saveByteSent());
}

TEST_F(SafetyWindow, ClosingWithBothAsksTheProcessorFirstThenTheProject)
{
    connectSerial();
    moveBand7(12);
    questions.next({tk770::notice_save_to_processor, tk770::notice_cancel});
    form.close();
    ASSERT_EQ(questions.asked.size(), 2u);
    EXPECT_EQ(questions.asked[0].text, notice(tk770::notice_processor_unsaved, 0));
    EXPECT_EQ(questions.asked[1].title, notice(tk770::notice_unsaved_title, 0));
    EXPECT_TRUE(form.isVisible()) << "the project's cancel keeps the window";
    EXPECT_TRUE(saveByteSent());
    EXPECT_FALSE(form.processorUnsaved());

    // Only the project is left to ask about.
    questions.next({tk770::notice_discard});
    form.close();
    EXPECT_EQ(questions.asked.size(), 3u);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(SafetyWindow, QuestionsSpeakTheLanguageInForce)
{
    connectSerial();
    moveBand7(12);
    form.Endlish1->trigger();
    questions.next({tk770::notice_cancel, tk770::notice_cancel});
    form.N18->trigger();
    form.N2->trigger();
    ASSERT_EQ(questions.asked.size(), 2u);
    EXPECT_EQ(questions.asked[0].title, "Not saved to processor");
    EXPECT_TRUE(questions.asked[0].buttons.contains("Save to processor memory"));
    EXPECT_TRUE(questions.asked[0].buttons.contains("Don't save"));
    EXPECT_TRUE(questions.asked[0].buttons.contains("Cancel"));
    EXPECT_EQ(questions.asked[1].text, "The project \"Untitle.QSdat\" has changed. Save the changes?");
    EXPECT_TRUE(questions.asked[1].buttons.contains("Discard"));
    EXPECT_EQ(form.linkState().connected, 1);
    EXPECT_EQ(form.image().eq[0][7], 12);
}

// ---------------------------------------------------------------- the machine's ports

class MachinePorts : public SafetyWindow {
protected:
    void SetUp() override
    {
        SafetyWindow::SetUp();
        form.setPortLister([this] { return ports; });
    }

    // Opens the port menu as the operator does.
    QStringList menuTexts()
    {
        emit form.N16->aboutToShow();
        QStringList out;
        for (QAction* a : form.N16->actions())
            if (a->isVisible()) out << (a->isSeparator() ? QStringLiteral("--") : a->text());
        return out;
    }

    QList<TForm1::MachinePort> ports{{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/ttyACM0", ""}};
};

TEST_F(MachinePorts, ListedBelowTheSeparatorAfreshEachTimeTheMenuOpens)
{
    QStringList fixed;
    for (int n = 1; n <= 10; ++n) fixed << QStringLiteral("COM%1").arg(n);
    fixed << "NET";
    const QStringList two{"--", "/dev/ttyUSB0 \u2014 FT232R USB UART", "/dev/ttyACM0"};
    EXPECT_EQ(menuTexts(), fixed + two);

    ports = {{"/dev/ttyUSB1", "CP2102 USB to UART Bridge Controller"}};
    const QStringList one{"--", "/dev/ttyUSB1 \u2014 CP2102 USB to UART Bridge Controller"};
    EXPECT_EQ(menuTexts(), fixed + one);

    ports.clear();
    EXPECT_EQ(menuTexts(), fixed) << "no ports, no separator";
}

TEST_F(MachinePorts, ChoosingOneOpensThatDeviceAtConnectAndAComItemGoesBack)
{
    form.COM31->trigger();
    menuTexts();
    form.machinePortItems().at(0)->trigger();
    const int device = tk770::QtSerialTransport::device_port;
    EXPECT_EQ(form.linkState().serial_port, device);
    EXPECT_EQ(form.linkState().network_mode, 0);
    EXPECT_EQ(serial.closed(), std::vector<int>{3}) << "the port chosen before is closed";
    EXPECT_EQ(form.serialPorts().deviceName(device), "/dev/ttyUSB0");
    EXPECT_TRUE(form.machinePortItems().at(0)->isChecked());
    EXPECT_FALSE(form.COM31->isChecked());

    form.N17->trigger();
    EXPECT_EQ(serial.opened(), std::vector<int>{device});
    EXPECT_EQ(form.linkState().connected, 1);

    // Pulled out: still listed, checked, while it is the port in use.
    ports.clear();
    menuTexts();
    ASSERT_EQ(form.machinePortItems().size(), 1);
    EXPECT_EQ(form.machinePortItems().at(0)->text(), "/dev/ttyUSB0");
    EXPECT_TRUE(form.machinePortItems().at(0)->isChecked());

    serial.clearRecord();
    form.COM21->trigger();
    EXPECT_EQ(serial.closed(), std::vector<int>{device});
    EXPECT_EQ(form.linkState().serial_port, 2);
    EXPECT_EQ(form.machinePortPath(), "");
    EXPECT_TRUE(menuTexts().endsWith("NET")) << "a port no longer in use and gone is not listed";
}

TEST_F(MachinePorts, ComNumbersKeepTheirDevicesAndVariables)
{
    qputenv("TK770_COM4", "/tmp/tk770-test-pty");
    menuTexts();
    form.machinePortItems().at(1)->trigger();
    EXPECT_EQ(form.serialPorts().deviceName(4), "/tmp/tk770-test-pty");
    EXPECT_EQ(form.serialPorts().deviceName(1), "/dev/ttyS0");
    qunsetenv("TK770_COM4");
}

TEST_F(MachinePorts, PermissionRefusalNamesTheDeviceAndTheFixInBothLanguages)
{
    QList<int> asked;
    int error = QSerialPort::PermissionError;
    form.setOpenErrorSource([&](int port) {
        asked << port;
        return error;
    });
    menuTexts();
    form.machinePortItems().at(0)->trigger();
    form.N17->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], notice(tk770::notice_port_permission, 0).arg("/dev/ttyUSB0"));
    EXPECT_TRUE(errors[0].contains("dialout"));
    EXPECT_EQ(asked, QList<int>{tk770::QtSerialTransport::device_port});

    form.Endlish1->trigger();
    form.N18->trigger();
    form.N17->trigger();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[1], "No permission to open the serial port /dev/ttyUSB0. Add your user to the dialout group "
                         "(sudo usermod -aG dialout $USER), log in again and retry.");

    // Any other failure to open is left to the reads, as before.
    form.N18->trigger();
    error = QSerialPort::DeviceNotFoundError;
    form.N17->trigger();
    EXPECT_EQ(errors.size(), 2);
    // A connect that opens nothing asks nothing.
    asked.clear();
    form.N17->trigger();
    EXPECT_TRUE(asked.isEmpty());
}

TEST(MachinePortOpen, TheRealPortReportsWhyItCouldNotOpen)
{
    tk770::QtSerialTransport t;
    const int device = tk770::QtSerialTransport::device_port;
    t.open(device);
    EXPECT_EQ(t.openError(device), QSerialPort::DeviceNotFoundError) << "nothing bound";
    t.bindPort(device, QStringLiteral("/nonexistent/ttyUSB9"));
    t.open(device);
    EXPECT_FALSE(t.isOpen(device));
    EXPECT_EQ(t.openError(device), QSerialPort::DeviceNotFoundError);
}

// ---------------------------------------------------------------- remembered settings

class KeptSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::unique_ptr<QSettings> settings()
    {
        return std::make_unique<QSettings>(dir.filePath("panel.conf"), QSettings::IniFormat);
    }
    QTemporaryDir dir;
};

TEST_F(KeptSettings, NothingKeptIsTheUsualStartUp)
{
    TForm1 plain;
    TForm1 restored;
    auto s = settings();
    restored.restoreSettings(*s);
    EXPECT_EQ(restored.windowTitle(), plain.windowTitle());
    EXPECT_EQ(restored.Language, 0);
    EXPECT_EQ(restored.N5->text(), plain.N5->text()) << "no language pass on a first start";
    EXPECT_EQ(restored.linkState().serial_port, 0);
    EXPECT_EQ(restored.linkState().network_mode, 0);
    EXPECT_EQ(restored.PortItems->checkedAction(), nullptr);
    EXPECT_EQ(restored.tcpHost(), "192.168.0.8");
    EXPECT_EQ(restored.pos(), plain.pos());
    EXPECT_EQ(restored.projectFolder(), "");
}

TEST_F(KeptSettings, WhatOneRunKeepsTheNextRestores)
{
    struct Case {
        const char* name;
        std::function<void(TForm1&)> choose;
        std::function<void(TForm1&)> check;
    };
    const QString folder = dir.filePath("projects");
    ASSERT_TRUE(QDir().mkpath(folder));
    const Case cases[] = {
        {"COM3 and English",
         [](TForm1& f) {
             f.COM31->trigger();
             f.Endlish1->trigger();
         },
         [](TForm1& f) {
             EXPECT_EQ(f.Language, 1);
             EXPECT_EQ(f.N5->text(), "Save as...");
             EXPECT_EQ(f.linkState().serial_port, 3);
             EXPECT_EQ(f.linkState().network_mode, 0);
             EXPECT_TRUE(f.COM31->isChecked());
         }},
        {"NET and its host",
         [](TForm1& f) {
             f.NET1->trigger();
             f.deviceIpDialog()->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText("10.2.3.4");
             f.deviceIpDialog()->suiButton1Click();
         },
         [](TForm1& f) {
             EXPECT_EQ(f.linkState().network_mode, 1);
             EXPECT_TRUE(f.NET1->isChecked());
             EXPECT_FALSE(f.deviceIpDialog()->isVisible()) << "restoring NET shows no dialog";
             EXPECT_EQ(f.tcpHost(), "10.2.3.4");
             EXPECT_EQ(f.Language, 0);
         }},
        {"a machine port",
         [](TForm1& f) {
             f.setPortLister([] { return QList<TForm1::MachinePort>{{"/dev/ttyUSB0", "FT232R USB UART"}}; });
             emit f.N16->aboutToShow();
             f.machinePortItems().at(0)->trigger();
         },
         [](TForm1& f) {
             const int device = tk770::QtSerialTransport::device_port;
             EXPECT_EQ(f.linkState().serial_port, device);
             EXPECT_EQ(f.serialPorts().deviceName(device), "/dev/ttyUSB0");
             f.setPortLister([] { return QList<TForm1::MachinePort>{}; });
             emit f.N16->aboutToShow();
             ASSERT_EQ(f.machinePortItems().size(), 1);
             EXPECT_TRUE(f.machinePortItems().at(0)->isChecked());
         }},
        {"the project folder",
         [&](TForm1& f) {
             f.setDialogRunner([&](QFileDialog*) { return folder + "/room.qsdat"; });
             f.N5->trigger();
         },
         [&](TForm1& f) {
             EXPECT_EQ(f.projectFolder(), folder);
             EXPECT_EQ(f.OpenDialog1->directory().absolutePath(), folder);
             EXPECT_EQ(f.SaveDialog1->directory().absolutePath(), folder);
         }},
        {"the window position", [](TForm1& f) { f.move(17, 23); },
         [](TForm1& f) { EXPECT_EQ(f.pos(), QPoint(17, 23)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(dir.filePath("panel.conf"));
        {
            TForm1 first;
            first.show();
            c.choose(first);
            auto s = settings();
            first.saveSettings(*s);
        }
        TForm1 next;
        auto s = settings();
        next.restoreSettings(*s);
        c.check(next);
    }
}

TEST_F(KeptSettings, HostOptionWinsAndIsNotKept)
{
    {
        auto s = settings();
        s->setValue("host", "10.9.9.9");
    }
    TForm1 once(QStringLiteral("127.0.0.1"));
    auto s = settings();
    once.restoreSettings(*s);
    EXPECT_EQ(once.tcpHost(), "127.0.0.1");
    once.saveSettings(*s);
    EXPECT_EQ(s->value("host").toString(), "10.9.9.9");

    TForm1 plain;
    plain.restoreSettings(*s);
    EXPECT_EQ(plain.tcpHost(), "10.9.9.9");
}

TEST_F(KeptSettings, UnusableValuesLeaveTheStartUpValues)
{
    {
        auto s = settings();
        s->setValue("language", "fr");
        s->setValue("port", "COM11");
        s->setValue("host", "not an address");
        s->setValue("projectFolder", dir.filePath("missing"));
        s->setValue("windowPosition", "somewhere");
    }
    for (const char* port : {"COM11", "COM0", "COM03", "ttyUSB0", ""}) {
        SCOPED_TRACE(port);
        auto s = settings();
        s->setValue("port", port);
        TForm1 plain;
        TForm1 restored;
        restored.restoreSettings(*s);
        EXPECT_EQ(restored.Language, 0);
        EXPECT_EQ(restored.linkState().serial_port, 0);
        EXPECT_EQ(restored.linkState().network_mode, 0);
        EXPECT_EQ(restored.tcpHost(), "192.168.0.8");
        EXPECT_EQ(restored.projectFolder(), "");
        EXPECT_EQ(restored.pos(), plain.pos());
    }
}

// The program itself: its settings file under XDG_CONFIG_HOME, forgotten by
// --reset-settings, which --help lists.
TEST_F(KeptSettings, ResetSettingsForgetsThemAndSaysSo)
{
#ifndef TK770_PANEL_PATH
    GTEST_SKIP() << "tk770-panel not built";
#else
    const QString file = dir.filePath("tk770/tk770-panel.conf");
    {
        QSettings s(file, QSettings::IniFormat);
        s.setValue("language", "en");
        s.setValue("port", "COM2");
    }
    ASSERT_TRUE(QFileInfo::exists(file));
    auto run = [&](const QStringList& args, QString* out) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TK770_PANEL_PATH), args);
        if (!p.waitForFinished(20000)) return -1;
        *out = QString::fromUtf8(p.readAllStandardOutput());
        return p.exitCode();
    };
    QString out;
    EXPECT_EQ(run({"--reset-settings"}, &out), 0);
    EXPECT_EQ(out, "Settings forgotten (" + file + ")\n");
    QSettings after(file, QSettings::IniFormat);
    EXPECT_TRUE(after.allKeys().isEmpty());

    EXPECT_EQ(run({"--help"}, &out), 0);
    EXPECT_TRUE(out.contains("--reset-settings")) << out.toStdString();
    EXPECT_TRUE(out.contains("--host <HOST>"));
#endif
}

}  // namespace
