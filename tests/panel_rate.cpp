// SPDX-License-Identifier: GPL-3.0-or-later
// The rate controls: presets, the step buttons, and the look-ahead that makes the display follow
// the slider one event behind and programs the rate it shows when a drag ends.
#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include <climits>
#include <clocale>
#include "FakeSerialDriver.h"
#include "PanelFixture.h"
#include "SliderHandle.h"
#include "panel/RateText.h"
#include "serial/DriverPortIo.h"
#include "uart/LineSettings.h"
#include "uart/SimulatedUart.h"

using namespace res;

namespace {

// The four writes of a rate change over the start framing, at 0x2F8.
QStringList RateWrites(int divisor) {
    return {"out 0x2FB 0x80", QString::asprintf("out 0x2F9 0x%02X", divisor >> 8),
            QString::asprintf("out 0x2F8 0x%02X", divisor & 0xFF), "out 0x2FB 0x04"};
}

// A queued event bound for the slider that changes nothing: the pointer resting on it.
void Hover(QWidget* slider) {
    QTest::mouseMove(slider, QPoint(2, 2));
}

}  // namespace

class PanelRate : public QObject {
    Q_OBJECT

  private slots:
    void presetProgramsAndPlacesTheSlider_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("divisor");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("position");
        QTest::newRow("45.45 programs divisor 2534")
            << IDC_RATE_45_45 << 2534 << " 45.45" << 4000 << 5000 << 4545;
        QTest::newRow("50.0 programs divisor 2304")
            << IDC_RATE_50_0 << 2304 << " 50.00" << 4545 << 5690 << 5000;
        QTest::newRow("56.9 programs divisor 2024")
            << IDC_RATE_56_9 << 2024 << " 56.90" << 4545 << 7420 << 5690;
        QTest::newRow("74.2 programs divisor 1552")
            << IDC_RATE_74_2 << 1552 << " 74.20" << 5690 << 10000 << 7420;
        QTest::newRow("100.0 programs divisor 1152")
            << IDC_RATE_100_0 << 1152 << "100.00" << 7420 << 11000 << 10000;
        QTest::newRow("110.0 programs divisor 1047")
            << IDC_RATE_110_0 << 1047 << "110.00" << 10000 << 13000 << 11000;
        QTest::newRow("300.0 programs divisor 384")
            << IDC_RATE_300_0 << 384 << "300.00" << 28000 << 32000 << 30000;
    }
    void presetProgramsAndPlacesTheSlider() {
        QFETCH(int, id);
        QFETCH(int, divisor);
        QFETCH(QString, display);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, position);
        PanelFixture f;
        f.Click(id);
        QCOMPARE(f.TakeAccesses(), RateWrites(divisor));
        QCOMPARE(f.Display()->text(), display);
        QCOMPARE(f.Slider()->minimum(), minimum);
        QCOMPARE(f.Slider()->maximum(), maximum);
        QCOMPARE(f.Slider()->value(), position);
        QCOMPARE(f.Slider()->pageStep(), (maximum - minimum) / 5);  // a trackbar's page
        QCOMPARE(f.Slider()->singleStep(), 1);
        QCOMPARE(f.Checked(IDC_RATE_45_45, IDC_RATE_300_0), QList<int>{id});
        QCOMPARE(f.Checked(IDC_STOP_1, IDC_STOP_2), QList<int>{IDC_STOP_1_5});  // refreshed
    }

    void presetKeepsTheFraming() {
        PanelFixture f;
        f.Click(IDC_BITS_8);
        f.Click(IDC_PARITY_EVEN);
        f.Click(IDC_STOP_1);
        f.TakeAccesses();
        f.Click(IDC_RATE_110_0);
        QCOMPARE(f.TakeAccesses(), (QStringList{"out 0x2FB 0x80", "out 0x2F9 0x04",
                                                "out 0x2F8 0x17", "out 0x2FB 0x1B"}));
    }

    void stepButtons_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("steps");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("position");
        QTest::addColumn<QStringList>("writes");
        QTest::newRow("300.0 then + programs 383")
            << IDC_RATE_300_0 << 30000 << QList<int>{IDC_STEP_UP} << "300.10" << 30010
            << RateWrites(383);
        QTest::newRow("- at the bottom of 45.45 shows 39.90 and stays")
            << IDC_RATE_45_45 << 4000 << QList<int>{IDC_STEP_DOWN} << " 39.90" << 4000
            << RateWrites(2887);
        QTest::newRow("- twice at the bottom does the same twice")
            << IDC_RATE_45_45 << 4000 << QList<int>{IDC_STEP_DOWN, IDC_STEP_DOWN} << " 39.90"
            << 4000 << RateWrites(2887) + RateWrites(2887);
        QTest::newRow("+ from 7670 rounds through single precision to 1499")
            << IDC_RATE_74_2 << 7670 << QList<int>{IDC_STEP_UP} << " 76.80" << 7680
            << RateWrites(1499);
        QTest::newRow("+ at the top of 300.0 shows 320.10 and stays")
            << IDC_RATE_300_0 << 32000 << QList<int>{IDC_STEP_UP} << "320.10" << 32000
            << RateWrites(359);
        QTest::newRow("- then + returns")
            << IDC_RATE_50_0 << 5000 << QList<int>{IDC_STEP_DOWN, IDC_STEP_UP} << " 50.00" << 5000
            << RateWrites(2308) + RateWrites(2304);
        QTest::newRow("- before any preset: only the framing")
            << 0 << 0 << QList<int>{IDC_STEP_DOWN} << " -0.10" << 0
            << QStringList{"out 0x2FB 0x04"};
        QTest::newRow("+ before any preset: only the framing")
            << 0 << 0 << QList<int>{IDC_STEP_UP} << "  0.10" << 10 << QStringList{"out 0x2FB 0x04"};
    }
    void stepButtons() {
        QFETCH(int, preset);
        QFETCH(int, start);
        QFETCH(QList<int>, steps);
        QFETCH(QString, display);
        QFETCH(int, position);
        QFETCH(QStringList, writes);
        PanelFixture f;
        if (preset != 0)
            f.Click(preset);
        f.Slider()->setValue(start);
        f.TakeAccesses();
        for (int id : steps)
            f.Click(id);
        QCOMPARE(f.Display()->text(), display);
        QCOMPARE(f.Slider()->value(), position);
        QCOMPARE(f.TakeAccesses(), writes);
    }

    void nextSliderEventShowsWhereTheSliderStayed() {
        PanelFixture f;
        f.Click(IDC_RATE_45_45);
        f.Slider()->setValue(4000);
        QTest::mouseMove(f.Slider(), QPoint(3, 40));  // the look-ahead has shown 4000 already
        QCOMPARE(f.Display()->text(), QStringLiteral(" 40.00"));
        f.Click(IDC_STEP_DOWN);
        QCOMPARE(f.Display()->text(), QStringLiteral(" 39.90"));
        Hover(f.Slider());
        QCOMPARE(f.Display()->text(), QStringLiteral(" 40.00"));
    }

    void releaseProgramsWhatTheDisplayShows_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<int>("position");
        QTest::newRow(" 74.20 programs 1552, slider to 7419")
            << IDC_RATE_74_2 << " 74.20" << RateWrites(1552) << 7419;
        QTest::newRow(" 76.80 programs 1500")
            << IDC_RATE_74_2 << " 76.80" << RateWrites(1500) << 7680;
        QTest::newRow(" 45.45 puts the slider at 4545")
            << IDC_RATE_45_45 << " 45.45" << RateWrites(2534) << 4545;
        QTest::newRow(" 57.30 puts the slider at 5729, not 5730")
            << IDC_RATE_56_9 << " 57.30" << RateWrites(2010) << 5729;
        QTest::newRow("the port announcement reads as 0: framing only, slider to its minimum")
            << IDC_RATE_45_45 << "Port - 0x2F8" << QStringList{"out 0x2FB 0x04"} << 4000;
        QTest::newRow("0.50 before any preset: framing only")
            << 0 << "  0.50" << QStringList{"out 0x2FB 0x04"} << 50;
        QTest::newRow("only 28 characters are read")
            << IDC_RATE_300_0 << QString(27, ' ') + "300" << QStringList{"out 0x2FB 0x04"} << 28000;
    }
    void releaseProgramsWhatTheDisplayShows() {
        QFETCH(int, preset);
        QFETCH(QString, display);
        QFETCH(QStringList, writes);
        QFETCH(int, position);
        PanelFixture f;
        if (preset != 0)
            f.Click(preset);
        f.Display()->setText(display);
        f.TakeAccesses();
        QTest::mouseRelease(f.Slider(), Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(f.TakeAccesses(), writes);
        QCOMPARE(f.Slider()->value(), position);
        QCOMPARE(f.Display()->text(), display);  // the release does not rewrite the display
    }

    void otherButtonsReleaseWithoutProgramming() {
        PanelFixture f;
        f.Click(IDC_RATE_74_2);
        f.TakeAccesses();
        QTest::mouseClick(f.Slider(), Qt::RightButton, {}, QPoint(2, 2));
        QCOMPARE(f.TakeAccesses(), QStringList{});
    }

    void keyboardMovesFollowOneEventBehindAndProgramNothing() {
        PanelFixture f;
        f.Click(IDC_RATE_74_2);
        f.TakeAccesses();
        f.Slider()->setFocus();
        QTest::keyPress(f.Slider(), Qt::Key_Down);
        QCOMPARE(f.Slider()->value(), 7421);
        QCOMPARE(f.Display()->text(), QStringLiteral(" 74.20"));  // as before the key
        QTest::keyRelease(f.Slider(), Qt::Key_Down);
        QCOMPARE(f.Display()->text(), QStringLiteral(" 74.21"));
        QTest::keyClick(f.Slider(), Qt::Key_Right);
        QTest::keyClick(f.Slider(), Qt::Key_Up);
        QTest::keyClick(f.Slider(), Qt::Key_Left);
        QTest::keyClick(f.Slider(), Qt::Key_PageDown);  // a fifth of 5690..10000
        QCOMPARE(f.Slider()->value(), 7420 + 862);
        QTest::keyClick(f.Slider(), Qt::Key_Home);
        QCOMPARE(f.Slider()->value(), 5690);
        QCOMPARE(f.Display()->text(), QStringLiteral(" 56.90"));
        QCOMPARE(f.TakeAccesses(), QStringList{});
    }

    void hoverReachesTheLookAhead() {
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        f.Click(IDC_RATE_74_2);
        f.Slider()->setValue(8000);                   // moved without a message of its own
        QTest::mouseMove(f.Slider(), QPoint(3, 40));  // no button held
        QCOMPARE(f.Display()->text(), QStringLiteral(" 80.00"));
    }

    void firstSliderEventReplacesTheAnnouncement() {
        PanelFixture f;
        QCOMPARE(f.Display()->text(), QStringLiteral("Port - 0x2F8"));
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        QTRY_COMPARE(f.Display()->text(), QStringLiteral("  0.00"));  // its first painting
        QCOMPARE(f.TakeAccesses(), QStringList{});
    }

    void dragProgramsTheLastPositionShownBeforeTheRelease() {
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        f.Click(IDC_RATE_74_2);
        QCoreApplication::processEvents();
        f.TakeAccesses();
        QSlider* slider = f.Slider();
        QPoint at = HandleCentre(slider);
        QTest::mousePress(slider, Qt::LeftButton, {}, at);
        QVERIFY(slider->isSliderDown());
        int shownBefore = slider->value();
        for (int dy : {12, 30, 45}) {
            QTest::mouseMove(slider, at + QPoint(0, dy));
            // The look-ahead ran before the slider moved: the display is one event behind.
            QCOMPARE(f.Display()->text(), panel::FormatRate(shownBefore / 100.0));
            QVERIFY(slider->value() > shownBefore);
            shownBefore = slider->value();
            QCoreApplication::processEvents();  // the slider repaints: the display catches up
            QCOMPARE(f.Display()->text(), panel::FormatRate(slider->value() / 100.0));
        }
        const int lastMove = slider->value();
        QTest::mouseRelease(slider, Qt::LeftButton, {}, at + QPoint(0, 45));
        const int divisor = static_cast<int>(115200.0 / (lastMove / 100.0));
        QCOMPARE(
            f.TakeAccesses(),
            RateWrites(uart::DivisorForRate(panel::ReadRate(panel::FormatRate(lastMove / 100.0)))));
        QVERIFY(qAbs(uart::DivisorForRate(lastMove / 100.0) - divisor) <= 1);
        QVERIFY(qAbs(slider->value() - lastMove) <= 1);  // put back where the display said
        QVERIFY(!slider->isSliderDown());
    }

    void lookAheadIgnoresOtherWidgets() {
        PanelFixture f;
        f.Click(IDC_RATE_74_2);
        f.Display()->setText(QStringLiteral("x"));
        QTest::mouseRelease(f.Item(IDC_STEP_UP), Qt::LeftButton, {}, QPoint(1, 1));
        QCOMPARE(f.Display()->text(), QStringLiteral("x"));
    }

    void formatAndReadIgnoreTheUsersLocale() {
        const char* previous = setlocale(LC_ALL, nullptr);
        const QByteArray saved(previous != nullptr ? previous : "C");
        if (setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
            setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr) {
            setlocale(LC_ALL, saved.constData());
            QSKIP("no locale with a decimal comma is installed");
        }
        const QString shown = panel::FormatRate(74.2);
        const double read = panel::ReadRate(QStringLiteral(" 74.20"));
        setlocale(LC_ALL, saved.constData());
        QCOMPARE(shown, QStringLiteral(" 74.20"));
        QCOMPARE(read, 74.2);
    }

    void statusLineTellsWhatTheRateGives() {
        PanelFixture f;
        QCOMPARE(f.panel->StatusText(), QStringLiteral("0x2F8 · recorded"));
        f.Click(IDC_RATE_45_45);
        QCOMPARE(f.panel->StatusText(),
                 QStringLiteral("0x2F8 · recorded\n2534 → 45.46 Bd +0.03 %"));
        f.Click(IDC_BITS_8);  // a framing change keeps the last rate's line
        QCOMPARE(f.panel->StatusText(),
                 QStringLiteral("0x2F8 · recorded\n2534 → 45.46 Bd +0.03 %"));
        f.Click(IDC_RATE_300_0);
        f.Click(IDC_STEP_UP);
        QCOMPARE(f.panel->StatusText(),
                 QStringLiteral("0x2F8 · recorded\n383 → 300.78 Bd +0.23 %"));
        QCOMPARE(f.Display()->text(), QStringLiteral("300.10"));  // the display is untouched
    }

    void statusLineShowsWhatTheDriverSaid() {
        PanelFixture f;
        auto* driver = new FakeSerialDriver;
        serial::DriverPortIo io(0x2F8, "/dev/ttyUSB0",
                                std::unique_ptr<serial::SerialDriver>(driver));
        const uart::ScopedPortIo installed(io);
        driver->refusesCustom = true;
        f.Click(IDC_RATE_45_45);
        QVERIFY(
            f.panel->StatusText().startsWith("/dev/ttyUSB0 · driver\n45.45 Bd asked, the driver "
                                             "set 45.00 Bd (-0.99 %)\nno exact divisor"));
        driver->gone = true;  // unplugged while the panel is open
        f.Click(IDC_DTR);
        QVERIFY(f.panel->StatusText().contains("/dev/ttyUSB0 is gone"));
        const auto* status = f.panel->findChild<QLabel*>(QStringLiteral("IDC_STATUS"));
        QVERIFY(status->palette().color(QPalette::WindowText) !=
                f.panel->palette().color(QPalette::WindowText));  // said as a warning
        f.Click(IDC_RATE_50_0);
        QVERIFY(f.panel->isVisible());
        QVERIFY(f.panel->StatusText().contains("/dev/ttyUSB0 is gone"));
        // Held, the first look that fails ends the hold.
        f.panel->SetHold(true);
        QTRY_VERIFY(
            f.panel->StatusText().endsWith("/dev/ttyUSB0 is gone (unplugged?)\nhold ended"));
        QVERIFY(!f.panel->findChild<QCheckBox*>(QStringLiteral("IDC_HOLD"))->isChecked());
    }

    // On an FTDI chip, which has no five-bit words: said before the first click, and a click
    // the chip cannot follow reaches nothing and leaves the groups showing the line as it is.
    void chipRefusalsLeaveTheLineAsItIs() {
        uart::LineSettings = uart::LineSettingsData{};
        uart::SetProcessCommandLine("quorlix 2");
        auto* driver = new FakeSerialDriver;
        usb::Adapter ftdi;
        ftdi.usb = true;
        ftdi.driver = "ftdi_sio";
        ftdi.release = 0x0600;
        serial::DriverPortIo io(0x2F8, "/dev/ttyUSB0",
                                std::unique_ptr<serial::SerialDriver>(driver), usb::ChipOf(ftdi));
        const uart::ScopedPortIo installed(io);
        panel::CPortSetDlg panel;
        panel.show();
        const auto* status = panel.findChild<QLabel*>(QStringLiteral("IDC_STATUS"));
        const auto warned = [&] {
            return status->palette().color(QPalette::WindowText) !=
                   panel.palette().color(QPalette::WindowText);
        };
        QVERIFY2(panel.StatusText().endsWith("the FTDI FT232R cannot send 5-bit words (7 or 8 data "
                                             "bits only). For a teleprinter use a PL2303 or CH340 "
                                             "adapter, or a 16550 card (--device /dev/ttyS…)."),
                 qPrintable(panel.StatusText()));
        QVERIFY(warned());
        QVERIFY(driver->calls.isEmpty());
        const auto click = [&](int id) { panel.GetItem<QAbstractButton>(id)->click(); };
        click(res::IDC_RATE_300_0);  // refused: still five-bit words
        QVERIFY(warned());
        click(res::IDC_BITS_8);
        QVERIFY(!warned());
        QCOMPARE(driver->termios.c_cflag & CSIZE, tcflag_t(CS8));
        click(res::IDC_RATE_300_0);
        QVERIFY2(panel.StatusText().contains("300.00 Bd asked, the FTDI FT232R runs 300.00 Bd"),
                 qPrintable(panel.StatusText()));
        driver->calls.clear();
        click(res::IDC_BITS_5);
        QVERIFY(warned());
        QCOMPARE(uart::LineSettings.wordLengthBits, 3);
        QVERIFY(panel.GetItem<QAbstractButton>(res::IDC_BITS_8)->isChecked());
        click(res::IDC_RATE_45_45);
        QVERIFY(panel.StatusText().contains("the FTDI FT232R's lowest rate is 183 Bd"));
        QVERIFY2(panel.StatusText().contains("300.00 Bd asked"), qPrintable(panel.StatusText()));
        QCOMPARE(driver->calls, QStringList());  // neither reached the driver
    }

    // What opening the device did is the panel's first word, held from the start or not; held,
    // the hold runs from the start.
    void openingIsSaidWhenThePanelOpens_data() {
        QTest::addColumn<bool>("hold");
        QTest::newRow("not held") << false;
        QTest::newRow("--hold") << true;
    }
    void openingIsSaidWhenThePanelOpens() {
        QFETCH(bool, hold);
        uart::LineSettings = uart::LineSettingsData{};
        uart::SetProcessCommandLine("quorlix 2");
        auto* driver = new FakeSerialDriver;
        serial::DriverPortIo io(0x2F8, "/dev/ttyUSB0",
                                std::unique_ptr<serial::SerialDriver>(driver));
        const uart::ScopedPortIo installed(io);
        uart::LineOutcome opened;
        opened.notice = "opening /dev/ttyUSB0 may have raised DTR and RTS";
        panel::CPortSetDlg panel;
        panel.SetHold(hold);  // as the application does, before the panel opens
        panel.SetOpened(opened);
        panel.show();
        QVERIFY2(panel.StatusText().contains("may have raised DTR and RTS"),
                 qPrintable(panel.StatusText()));
        QCOMPARE(panel.findChild<QCheckBox*>(QStringLiteral("IDC_HOLD"))->isChecked(), hold);
        panel.GetItem<QAbstractButton>(res::IDC_RATE_45_45)->click();
        driver->termios.c_cflag = (driver->termios.c_cflag & ~CBAUD) | B300;  // the terminal's
        driver->termios.c_ospeed = 300;
        QTest::qWait(250);
        QCOMPARE((driver->termios.c_cflag & CBAUD) != B300, hold);
    }

    // The terminal program's driver sets 300 Bd 8N1 behind the panel's back: while Hold is
    // ticked the panel sets 45.45 Bd 5N1.5 again, once, and says so; cleared, it leaves it. A
    // driver that refuses the line then ends the hold, in the colour of warning.
    void holdSetsTheLineAgainWhileTicked_data() {
        QTest::addColumn<bool>("simulated");
        QTest::addColumn<bool>("refuses");
        QTest::newRow("simulated UART") << true << false;
        QTest::newRow("serial driver") << false << false;
        QTest::newRow("serial driver that then refuses the line") << false << true;
    }
    void holdSetsTheLineAgainWhileTicked() {
        QFETCH(bool, simulated);
        QFETCH(bool, refuses);
        PanelFixture f;
        uart::SimulatedUart uart(0x2F8);
        auto* driver = new FakeSerialDriver;
        serial::DriverPortIo io(0x2F8, "/dev/ttyS1", std::unique_ptr<serial::SerialDriver>(driver));
        const uart::ScopedPortIo installed(simulated ? static_cast<uart::PortIo&>(uart) : io);
        const auto terminalSets300 = [&] {
            uart.DriverSetsLine(300, uart::Framing::FromLineControl(0x03));
            driver->termios.c_cflag =
                (driver->termios.c_cflag & ~(CBAUD | CSIZE | CSTOPB)) | B300 | CS8;
            driver->termios.c_ospeed = 300;
        };
        const auto held = [&] {
            return simulated ? uart::Describe(uart.View()).starts_with("2534 (45.46 Bd) 5N1.5")
                             : (driver->termios.c_cflag & (CBAUD | CSIZE | CSTOPB)) ==
                                       (B38400 | CS5 | CSTOPB) &&
                                   driver->serial.custom_divisor == 2534;
        };
        QVERIFY(QTest::qWaitForWindowActive(f.panel.get()));
        auto* hold = f.panel->findChild<QCheckBox*>(QStringLiteral("IDC_HOLD"));
        f.Click(IDC_RATE_45_45);
        QTest::mouseClick(hold, Qt::LeftButton, {}, QPoint(6, hold->height() / 2));
        QVERIFY(hold->isChecked() && held());
        terminalSets300();
        if (refuses) {
            driver->setTermiosError = EINVAL;
            QTRY_VERIFY(!hold->isChecked());
            QVERIFY2(f.panel->StatusText().endsWith(
                         "the driver refused the line settings (Invalid argument)\n"
                         "could not re-apply: the driver set 300 Bd 8N1\nhold ended"),
                     qPrintable(f.panel->StatusText()));
            QVERIFY(!f.panel->StatusText().contains("held"));
            const auto* status = f.panel->findChild<QLabel*>(QStringLiteral("IDC_STATUS"));
            QVERIFY(status->palette().color(QPalette::WindowText) !=
                    f.panel->palette().color(QPalette::WindowText));
            return;
        }
        QTRY_VERIFY(held());
        const QString said = "held · re-applied 1×, last: the driver set 300 Bd 8N1";
        QVERIFY2(f.panel->StatusText().contains(said), qPrintable(f.panel->StatusText()));
        QTest::qWait(300);  // three more looks find it as set
        QVERIFY2(f.panel->StatusText().contains(said), qPrintable(f.panel->StatusText()));

        QTest::keyClick(f.panel.get(), Qt::Key_H, Qt::AltModifier);  // cleared from the keyboard
        QTRY_VERIFY(!hold->isChecked());
        QVERIFY(!f.panel->StatusText().contains("held"));
        terminalSets300();
        QTest::qWait(300);
        QVERIFY(!held());
    }

    void rateArithmetic_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("position");
        QTest::newRow(" 74.20") << " 74.20" << 7419;
        QTest::newRow(" 57.30") << " 57.30" << 5729;
        QTest::newRow(" 45.45") << " 45.45" << 4545;
        QTest::newRow(" -0.10") << " -0.10" << -10;
        QTest::newRow("nonsense") << "Port - 0x2F8" << 0;
        QTest::newRow("huge") << "1e300" << INT_MAX;
        QTest::newRow("nan") << "nan" << 0;
    }
    void rateArithmetic() {
        QFETCH(QString, text);
        QFETCH(int, position);
        QCOMPARE(panel::PositionForRate(panel::ReadRate(text)), position);
    }
};

QTEST_MAIN(PanelRate)
#include "panel_rate.moc"
