// The main window on a fresh project, shown offscreen, on the serial port of
// the simulated processor, driven as an operator would: slider positions,
// mouse clicks, menu choices and keys. The frames the handlers send are read
// back as recorded on the port.
#pragma once

#include "gui/Main.h"
#include "support/recording_sim.h"

#include <QAbstractButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using tk770::testing::RecordingSim;
using tk770::testing::sumOf;
using tk770::testing::withChecksum;

inline constexpr std::uint8_t cmd_write = 0x06;
inline constexpr std::uint8_t cmd_store = 0x10;

// A serial request frame as the processor receives it.
inline Bytes serialFrame(std::uint8_t cmd, int address, const Bytes& data)
{
    Bytes f{0xCA, cmd, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size() & 0xFF)};
    f.insert(f.end(), data.begin(), data.end());
    return withChecksum(f);
}

inline Bytes writeFrame(int address, const Bytes& data) { return serialFrame(cmd_write, address, data); }

inline QString utf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Check boxes and radio items take a click on their indicator; a click in
// the middle of a wide box can land beside its text and do nothing.
inline void clickItem(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2)); }
inline void clickButton(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

class HandlerWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        form.setTransports(&serial, nullptr);
        form.show();
        connectSerial();
    }

    void connectSerial()
    {
        form.linkState().serial_port = 1;
        form.linkState().network_mode = 0;
        form.linkState().connected = 1;
    }

    // Selecting a tab repaints the page from the image and sends nothing;
    // the frames recorded so far are dropped so a test sees only its own.
    void selectTab(int channel)
    {
        form.suiTabControl1->setTabIndex(channel);
        serial.writes.clear();
    }

    std::vector<Bytes> frames() const
    {
        std::vector<Bytes> out;
        for (const auto& w : serial.writes) out.push_back(w.bytes);
        return out;
    }

    // Bytes of the image at a device address.
    Bytes imageAt(int address, int length)
    {
        const auto offset = tk770::image_offset_of(address);
        const std::uint8_t* p = form.image().data() + *offset;
        return Bytes(p, p + length);
    }

    RecordingSim serial;
    TForm1 form;
};
