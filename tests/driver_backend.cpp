// SPDX-License-Identifier: GPL-3.0-or-later
// The serial-driver backend: what a 16550's register writes become in the driver's terms, read
// back and checked, over a stand-in for the kernel's ioctls.
#include <sys/ioctl.h>
#include <QTest>
#include <cerrno>

#include "FakeSerialDriver.h"
#include "uart/DriverPortIo.h"
#include "uart/Hold.h"
#include "uart/LineSettings.h"

using namespace uart;

namespace {

struct DriverFixture {
    DriverFixture()
        : driver(new FakeSerialDriver),
          io(0x2F8, "/dev/ttyS1", std::unique_ptr<SerialDriver>(driver)),
          installed(io) {
        LineSettings = LineSettingsData{};
        LineSettings.portBase = 0x2F8;
    }
    FakeSerialDriver* driver;  // owned by io
    DriverPortIo io;
    ScopedPortIo installed;
};

constexpr tcflag_t kFraming = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;

}  // namespace

class DriverBackend : public QObject {
    Q_OBJECT

  private slots:
    void rateReachesTheDriver_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("baudBase");
        QTest::addColumn<QString>("how");        // refuses, ignores, none, or empty
        QTest::addColumn<int>("customDivisor");  // 0: not set
        QTest::addColumn<int>("speed");          // termios rate bits: B38400 or BOTHER
        QTest::addColumn<int>("wholeRate");
        QTest::addColumn<QString>("notice");
        QTest::newRow("45.45 as the exact divisor 2534")
            << 45.45 << 115200 << "" << 2534 << int(B38400) << 0 << "";
        QTest::newRow("300 as the exact divisor 384")
            << 300.0 << 115200 << "" << 384 << int(B38400) << 0 << "";
        QTest::newRow("a faster base clock scales the divisor")
            << 45.45 << 921600 << "" << 20272 << int(B38400) << 0 << "";
        QTest::newRow("custom divisor refused: nearest whole rate")
            << 45.45 << 115200 << "refuses" << 0 << int(BOTHER) << 45
            << "no exact divisor (it refused a custom divisor: Invalid argument): nearest "
               "whole rate 45 Bd set instead";
        QTest::newRow("custom divisor ignored, its flag taken: nearest whole rate")
            << 74.2 << 115200 << "ignores" << 0 << int(BOTHER) << 74
            << "no exact divisor (it ignored the custom divisor): nearest whole rate 74 Bd set "
               "instead";
        QTest::newRow("no serial settings at all: nearest whole rate")
            << 110.0 << 115200 << "none" << 0 << int(BOTHER) << 110
            << "no exact divisor (it has no serial settings: Inappropriate ioctl for device): "
               "nearest whole rate 110 Bd set instead";
    }
    void rateReachesTheDriver() {
        QFETCH(double, rate);
        QFETCH(int, baudBase);
        QFETCH(QString, how);
        QFETCH(int, customDivisor);
        QFETCH(int, speed);
        QFETCH(int, wholeRate);
        QFETCH(QString, notice);
        DriverFixture f;
        f.driver->serial.baud_base = baudBase;
        f.driver->refusesCustom = how == "refuses";
        f.driver->ignoresCustom = how == "ignores";
        f.driver->noSerial = how == "none";
        const termios2 before = f.driver->termios;
        ProgramUart(0x2F8, rate);
        const termios2& after = f.driver->termios;
        QCOMPARE(int(after.c_cflag & CBAUD), speed);
        QCOMPARE(int(after.c_cflag & CIBAUD), 0);  // input at the output's rate
        if (customDivisor != 0) {
            QCOMPARE(f.driver->serial.custom_divisor, customDivisor);
            QCOMPARE(f.driver->serial.flags & ASYNC_SPD_MASK, ASYNC_SPD_CUST);
            QVERIFY(f.driver->serial.flags & ASYNC_SKIP_TEST);  // other flags kept
        } else {
            QCOMPARE(int(after.c_ospeed), wholeRate);
            QCOMPARE(int(after.c_ispeed), wholeRate);
            // No custom divisor left behind for the terminal program's next 38400 Bd.
            QCOMPARE(f.driver->serial.flags & ASYNC_SPD_MASK, 0);
        }
        // Five-bit words, no parity, 1.5 stop bits; nothing else of the terminal's changed.
        QCOMPARE(after.c_cflag & kFraming, tcflag_t(CS5 | CSTOPB));
        QCOMPARE(after.c_cflag & ~(kFraming | CBAUD | CIBAUD),
                 before.c_cflag & ~(kFraming | CBAUD | CIBAUD));
        QCOMPARE(after.c_iflag, before.c_iflag);
        QCOMPARE(after.c_cc[VMIN], before.c_cc[VMIN]);
        QCOMPARE(QString::fromStdString(f.io.TakeNotice()), notice);
        QVERIFY(!f.io.TakeFailure());
    }

    void framingBecomesTermios_data() {
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("wordLength");
        QTest::addColumn<int>("stop");
        QTest::addColumn<int>("flags");
        QTest::newRow("8N1") << 0x00 << 3 << 0 << int(CS8);
        QTest::newRow("8E1") << 0x18 << 3 << 0 << int(CS8 | PARENB);
        QTest::newRow("7O2") << 0x08 << 2 << 4 << int(CS7 | PARENB | PARODD | CSTOPB);
        QTest::newRow("6M1") << 0x28 << 1 << 0 << int(CS6 | PARENB | PARODD | CMSPAR);
        QTest::newRow("5S1.5") << 0x38 << 0 << 4 << int(CS5 | PARENB | CMSPAR | CSTOPB);
    }
    void framingBecomesTermios() {
        QFETCH(int, parity);
        QFETCH(int, wordLength);
        QFETCH(int, stop);
        QFETCH(int, flags);
        DriverFixture f;
        LineSettings.parityBits = parity;
        LineSettings.wordLengthBits = wordLength;
        LineSettings.stopBits = stop;
        ProgramUart(0x2F8, 0);
        QCOMPARE(int(f.driver->termios.c_cflag & kFraming), flags);
        QCOMPARE(int(f.driver->termios.c_cflag & CBAUD), int(B9600));  // the rate left alone
        QCOMPARE(f.driver->calls, (QStringList{"TCGETS2", "TCSETS2", "TCGETS2"}));
        QCOMPARE(QString::fromStdString(f.io.TakeNotice()), QString());
        // Read back, the line control register is the driver's framing again.
        QCOMPARE(int(f.io.In(0x2FB)), parity | wordLength | stop);
    }

    void rateChangeCallsInOrder() {
        DriverFixture f;
        ProgramUart(0x2F8, 45.45);
        QCOMPARE(f.driver->calls, (QStringList{"TCGETS2", "TIOCGSERIAL", "TIOCSSERIAL",
                                               "TIOCGSERIAL", "TCSETS2", "TCGETS2"}));
    }

    void ignoredSettingsAreNamed() {
        DriverFixture f;
        f.driver->dropsMarkSpace = true;
        LineSettings.parityBits = 0x28;
        ProgramUart(0x2F8, 0);
        QCOMPARE(QString::fromStdString(f.io.TakeNotice()),
                 QStringLiteral("the driver ignored mark/space parity"));
        QVERIFY(f.io.TakeFailure());
        QVERIFY(!f.io.TakeFailure());  // said once
    }

    void refusedFramingIsAFailure() {
        DriverFixture f;
        f.driver->setTermiosError = EINVAL;
        ProgramUart(0x2F8, 0);
        QCOMPARE(QString::fromStdString(f.io.TakeNotice()),
                 QStringLiteral("the driver refused the line settings (Invalid argument)"));
        QVERIFY(f.io.TakeFailure());
        // The custom divisor went in, the rate that makes it count did not: the serial settings
        // go back as they were, without it.
        ProgramUart(0x2F8, 45.45);
        QVERIFY(f.io.TakeFailure());
        QCOMPARE(f.driver->serial.flags & ASYNC_SPD_MASK, 0);
        QCOMPARE(f.driver->serial.custom_divisor, 0);
        // Another program's custom divisor from before stays in force, not cleared.
        f.driver->serial.flags |= ASYNC_SPD_CUST;
        f.driver->serial.custom_divisor = 7;
        ProgramUart(0x2F8, 45.45);
        QVERIFY(f.io.TakeFailure());
        QCOMPARE(f.driver->serial.flags & ASYNC_SPD_MASK, ASYNC_SPD_CUST);
        QCOMPARE(f.driver->serial.custom_divisor, 7);
        // Held, a re-application the driver refuses is said as such and not counted.
        f.driver->setTermiosError = 0;
        f.io.TakeNotice();  // the refusals above
        ProgramUart(0x2F8, 45.45);
        QVERIFY(!f.io.TakeFailure());
        Hold hold(0x2F8);
        hold.KeepLine(45.45, LineSettings.ToFraming(), f.io.TakeSubstituteRate());
        f.driver->termios.c_cflag = (f.driver->termios.c_cflag & ~CSIZE) | CS8;  // the terminal's
        f.driver->setTermiosError = EINVAL;
        QCOMPARE(hold.Check(), Hold::Look::ReapplyFailed);
        QCOMPARE(QString::fromStdString(hold.LastReason()),
                 QStringLiteral("the driver set 45.46 Bd 8N2"));
        QCOMPARE(hold.Reapplied(), 0);
        QCOMPARE(QString::fromStdString(f.io.TakeNotice()),
                 QStringLiteral("the driver refused the line settings (Invalid argument)"));
    }

    void modemLinesOnlyTheBitThatChanged_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("hangUp");  // the hang-up on the last close (HUPCL) is said
        QTest::newRow("DTR on") << int(TIOCM_RTS) << 0x01 << true
                                << QStringList{"TIOCMGET", "TIOCMBIS 0x2"}
                                << int(TIOCM_RTS | TIOCM_DTR) << true;
        QTest::newRow("RTS off") << int(TIOCM_RTS | TIOCM_DTR) << 0x02 << false
                                 << QStringList{"TIOCMGET", "TIOCMBIC 0x4"} << int(TIOCM_DTR)
                                 << false;
        QTest::newRow("DTR on when on: no call")
            << int(TIOCM_DTR) << 0x01 << true << QStringList{"TIOCMGET"} << int(TIOCM_DTR) << false;
        QTest::newRow("OUT2 reported and kept")
            << 0x4000 << 0x01 << true << QStringList{"TIOCMGET", "TIOCMBIS 0x2"}
            << int(0x4000 | TIOCM_DTR) << true;
        QTest::newRow("DTR off: a hang-up drops nothing this program raised")
            << int(TIOCM_DTR) << 0x01 << false << QStringList{"TIOCMGET", "TIOCMBIC 0x2"} << 0
            << false;
    }
    void modemLinesOnlyTheBitThatChanged() {
        QFETCH(int, lines);
        QFETCH(int, mask);
        QFETCH(bool, on);
        QFETCH(QStringList, calls);
        QFETCH(int, after);
        QFETCH(bool, hangUp);
        DriverFixture f;
        f.driver->lines = lines;
        SetModemLine(static_cast<std::uint8_t>(mask), on);
        QCOMPARE(f.driver->calls, calls);
        QCOMPARE(f.driver->lines, after);
        QCOMPARE(QString::fromStdString(f.io.TakeNotice()), QString());
        QCOMPARE(!f.io.ModemLinesAtExit().empty(), hangUp);
    }

    void unpluggedAdapterIsReportedNotFatal() {
        DriverFixture f;
        ProgramUart(0x2F8, 45.45);
        f.driver->gone = true;
        f.driver->calls.clear();
        ProgramUart(0x2F8, 50.0);
        QVERIFY(QString::fromStdString(f.io.TakeNotice()).contains("/dev/ttyS1 is gone"));
        QVERIFY(f.io.TakeFailure());
        SetModemLine(0x01, true);
        QVERIFY(QString::fromStdString(f.io.TakeNotice()).contains("/dev/ttyS1 is gone"));
        QVERIFY(f.io.TakeFailure());
        ProgramUart(0x2F8, 0);
        // Once gone, the driver is not asked again.
        QCOMPARE(f.driver->calls, QStringList{"TCGETS2"});

        // Unplugged between a change and its read-back: the read-back says so.
        DriverFixture g;
        g.driver->goneAfterSet = true;
        ProgramUart(0x2F8, 0);
        QVERIFY(QString::fromStdString(g.io.TakeNotice()).contains("/dev/ttyS1 is gone"));
        QVERIFY(g.io.TakeFailure());
        g.driver->calls.clear();
        SetModemLine(0x01, true);
        QVERIFY(g.driver->calls.isEmpty());
    }

    void registerImageReadsBack() {
        DriverFixture f;
        // With the latch closed, the framing as the driver has it now: 8N1, then what another
        // program made of it since.
        QCOMPARE(f.io.In(0x2FB), std::uint8_t{0x03});
        f.driver->termios.c_cflag = (f.driver->termios.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
        QCOMPARE(f.io.In(0x2FB), std::uint8_t{0x1E});
        f.driver->calls.clear();
        f.io.Out(0x2FB, 0x80);
        f.io.Out(0x2F8, 0xE6);
        f.io.Out(0x2F9, 0x09);
        QCOMPARE(f.io.In(0x2F8), std::uint8_t{0xE6});
        QCOMPARE(f.io.In(0x2F9), std::uint8_t{0x09});
        QCOMPARE(f.io.In(0x2FB), std::uint8_t{0x80});
        QVERIFY(f.driver->calls.isEmpty());  // nothing happens until the latch closes
        f.io.Out(0x3FB, 0x03);               // another UART's address
        QVERIFY(f.driver->calls.isEmpty());
        QCOMPARE(QString::fromStdString(f.io.Label(0x2F8)), QStringLiteral("/dev/ttyS1 · driver"));
    }

    void whatTheOpenDidIsSaidWithTheFirstChange() {
        auto* driver = new FakeSerialDriver;
        DriverPortIo io(0x2F8, "/dev/ttyUSB0", std::unique_ptr<SerialDriver>(driver),
                        "opening /dev/ttyUSB0 may have raised DTR and RTS");
        const ScopedPortIo installed(io);
        LineSettings = LineSettingsData{};
        ProgramUart(0x2F8, 0);
        QCOMPARE(QString::fromStdString(io.TakeNotice()),
                 QStringLiteral("opening /dev/ttyUSB0 may have raised DTR and RTS"));
        QVERIFY(!io.TakeFailure());
        ProgramUart(0x2F8, 0);
        QCOMPARE(QString::fromStdString(io.TakeNotice()), QString());  // said once

        // The lines the open raised, which the driver will not drop again.
        driver->lines = TIOCM_DTR | TIOCM_RTS;
        driver->dropError = EIO;
        std::string notice;
        PutBackOpenedLines(*driver, "/dev/ttyS1", TIOCM_DTR | TIOCM_RTS, &notice);
        QCOMPARE(QString::fromStdString(notice),
                 QStringLiteral("opening /dev/ttyS1 raised DTR and RTS, and the driver refused "
                                "to drop them again (Input/output error)"));
    }

    void openErrorsSayWhatToDo_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("advice");
        QTest::newRow("no such device") << "/dev/ttyUSB0" << ENOENT << "There is no such device";
        QTest::newRow("permission") << "/dev/ttyUSB0" << EACCES << "usermod -aG dialout";
        QTest::newRow("busy") << "/dev/ttyUSB0" << EBUSY << "TIOCEXCL";
        QTest::newRow("not a tty") << "/dev/ttyUSB0" << ENOTTY << "not a serial port";
        QTest::newRow("gone") << "/dev/ttyUSB0" << EIO << "unplugged";
        QTest::newRow("no device at the address") << "/dev/ttyS5" << ENXIO << "unplugged";
        QTest::newRow("no controlling terminal (setsid)")
            << "/dev/tty" << ENXIO << "is the controlling terminal, and this process has none";
    }
    void openErrorsSayWhatToDo() {
        QFETCH(QString, path);
        QFETCH(int, error);
        QFETCH(QString, advice);
        const QString text = QString::fromStdString(DeviceOpenMessage(path.toStdString(), error));
        QVERIFY2(text.startsWith("quorlix: cannot use " + path + ": "), qPrintable(text));
        QVERIFY2(text.contains(advice), qPrintable(text));
    }

    void linesBeforeOpenFromTheDriversStatus_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("bits");
        QTest::newRow("both up") << "/dev/ttyS0" << int(TIOCM_DTR | TIOCM_RTS);
        QTest::newRow("RTS only") << "/dev/ttyS1" << int(TIOCM_RTS);
        QTest::newRow("none") << "/dev/ttyS2" << 0;
        QTest::newRow("no UART there") << "/dev/ttyS3" << -1;
        QTest::newRow("not listed") << "/dev/ttyS12" << -1;
        QTest::newRow("a number no int holds") << "/dev/ttyS99999999999" << -1;
        QTest::newRow("not the 8250 driver's") << "/dev/ttyUSB0" << -1;
        QTest::newRow("no number") << "/dev/ttyS" << -1;
        QTest::newRow("more than a number") << "/dev/ttyS1x" << -1;
    }
    void linesBeforeOpenFromTheDriversStatus() {
        QFETCH(QString, device);
        QFETCH(int, bits);
        const int line = SerialLineOf(device.toStdString());
        const std::string status =
            "serinfo:1.0 driver revision:\n"
            "0: uart:16550A port:000003F8 irq:4 tx:0 rx:0 RTS|CTS|DTR|DSR|CD\n"
            "1: uart:16550A port:000002F8 irq:3 tx:12 rx:0 RTS|CTS|DSR\n"
            "2: uart:16550A port:000003E8 irq:4 tx:0 rx:0\n"
            "3: uart:unknown port:000002E8 irq:3\n";
        QCOMPARE(ModemLinesFromStatus(status, line), bits);
    }

    void realOpenRefusesWhatIsNoSerialPort() {
        std::string error;
        QVERIFY(!DeviceSerialDriver::Open("/dev/null", error));
        QVERIFY(QString::fromStdString(error).contains("not a serial port"));
        QVERIFY(!DeviceSerialDriver::Open("/nonexistent/ttyS9", error));
        QVERIFY(QString::fromStdString(error).contains("no such device"));
    }
};

QTEST_APPLESS_MAIN(DriverBackend)
#include "driver_backend.moc"
