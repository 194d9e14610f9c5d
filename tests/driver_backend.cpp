// SPDX-License-Identifier: GPL-3.0-or-later
// The serial-driver backend: what a 16550's register writes become in the driver's terms, read
// back and checked, over a stand-in for the kernel's ioctls.
#include <sys/ioctl.h>
#include <QTest>
#include <cerrno>

#include "FakeDriverPort.h"
#include "FakeSerialDriver.h"
#include "FakeSysfs.h"
#include "line/Advice.h"
#include "line/Hold.h"
#include "os/CLocale.h"
#include "serial/DriverPortIo.h"
#include "uart/LineSettings.h"

using namespace uart;
using namespace usb;
using namespace serial;
using line::Hold;
using os::FormatC;

namespace {

using DriverFixture = FakeDriverPort;

constexpr tcflag_t kFraming = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;

// A USB adapter read from a fake sysfs: "driver release product-id [product string]", with "+lt"
// for a port that offers FTDI's latency timer, "usb1.1" for a USB 1.1 device and "if1" for the
// port on the device's second interface.
Adapter UsbAdapter(const QString& description) {
    const QStringList words = description.split(' ');
    QString productName = words.mid(3).join(' ');
    for (const char* flag : {"+lt", "usb1.1", "if1"})
        productName.remove(flag);
    FakeSysfs sysfs;
    sysfs.AddUsbPort(makedev(188, 0), words[0], "0000", words[2], words[1], productName.trimmed(),
                     description.contains("+lt"),
                     description.contains("usb1.1") ? " 1.10" : " 2.00",
                     description.contains("if1") ? 1 : 0);
    const std::optional<Adapter> adapter = IdentifyAdapter(makedev(188, 0), sysfs.Root());
    return adapter.value_or(Adapter{});
}

// The chip of a port read from a fake sysfs: a USB adapter as UsbAdapter reads it, or "uart
// DRIVER [MHz]", a port of the machine's own with the clock its driver reports once it is open.
std::optional<Chip> ChipFromSysfs(const QString& description) {
    const QStringList words = description.split(' ');
    if (words[0] != "uart")
        return ChipOf(UsbAdapter(description));
    FakeSysfs sysfs;
    sysfs.AddPort(makedev(204, 64), words[1]);
    std::optional<Chip> chip = ChipOf(IdentifyAdapter(makedev(204, 64), sysfs.Root()).value());
    if (chip && words.size() > 2)
        KnowClock(*chip, words[2].toDouble() * 1e6);
    return chip;
}

// The Raspberry Pi's PL011 through the fake driver, its clock `megahertz`.
std::unique_ptr<DriverPortIo> Pl011Port(FakeSerialDriver*& driver, double megahertz) {
    driver = new FakeSerialDriver;
    driver->serial.baud_base = static_cast<int>(megahertz * 1e6 / 16);
    Adapter pl011;
    pl011.driver = "uart-pl011";
    pl011.machine = "Raspberry Pi 3 Model B Rev 1.2";
    return std::make_unique<DriverPortIo>(0x2F8, "/dev/ttyAMA0",
                                          std::unique_ptr<SerialDriver>(driver), ChipOf(pl011));
}

}  // namespace

class DriverBackend : public QObject {
    Q_OBJECT

  private slots:
    // What each adapter family's chip runs for a line, and which lines it cannot send. A line
    // whose rate starts with "=" asks the driver for that whole rate as it is.
    void chipModel_data() {
        // clang-format off
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("runs");  // empty: cannot be known
        QTest::addColumn<QString>("cannot");
        QTest::addColumn<QString>("told");
        const QString instead = " For a teleprinter use a PL2303 or CH340 adapter, or a 16550 card "
                                "(--device /dev/ttyS…).";
        const QString told2 = "1.5 stop bits asked, this chip is told 2";
        QTest::newRow("FT232B: 45 Bd overflows its divisor")
            << "ftdi_sio 0400 6001" << "45.45,8N1" << "FTDI FT232B" << "186.73"
            << "the FTDI FT232B's lowest rate is 183 Bd: 45.45 Bd cannot be set." + instead << "";
        QTest::newRow("FT232B: no five-bit words")
            << "ftdi_sio 0400 6001" << "300,5N1.5" << "FTDI FT232B" << "300.00"
            << "the FTDI FT232B cannot send 5-bit words (7 or 8 data bits only)." + instead << told2;
        QTest::newRow("FT232A: a quarter step where a B has three eighths")
            << "ftdi_sio 0200 6001" << "14400,8N2" << "FTDI FT232A" << "14405.76" << "" << "";
        QTest::newRow("a B type that reports itself as an A")
            << "ftdi_sio 0200 6001 +lt" << "300,8N1" << "FTDI FT232B" << "300.00" << "" << "";
        QTest::newRow("CH340: 45.45 within its clamp, 1.5 stop bits told 2")
            << "ch341-uart 0254 7523" << "45.45,5N1.5" << "CH340" << "45.96" << "" << told2;
        QTest::newRow("CH340: below 46 Bd refused")
            << "ch341-uart 0254 7523" << "40,5N1.5" << "CH340" << "45.96"
            << "the CH340's lowest rate is 46 Bd: 40.00 Bd cannot be set. A 16550 card "
               "(--device /dev/ttyS…) reaches it." << told2;
        QTest::newRow("CH340: 43 Bd runs +6.9 %, past the 5 % a teleprinter takes: refused")
            << "ch341-uart 0254 7523" << "43,5N1.5" << "CH340" << "45.96"
            << "the CH340's lowest rate is 46 Bd: 43.00 Bd cannot be set. A 16550 card "
               "(--device /dev/ttyS…) reaches it." << told2;
        QTest::newRow("CH340: 44 Bd runs +4.5 %, within 5 %")
            << "ch341-uart 0254 7523" << "44,5N1.5" << "CH340" << "45.96" << "" << told2;
        QTest::newRow("PL2303HX on USB 1.1: 45.45 by its divisor, told 1.5 stop bits")
            << "pl2303 0300 2303 usb1.1" << "45.45,5N1.5" << "PL2303HX" << "45.87" << "" << "";
        QTest::newRow("PL2303 TA or G: rate unknown")
            << "pl2303 0300 23a3" << "45.45,5N1.5" << "PL2303TA or G" << "" << "" << "";
        QTest::newRow("CP2102: 300 Bd at the lowest")
            << "cp210x 0100 ea60 CP2102 USB to UART Bridge Controller" << "45.45,5N1.5"
            << "CP2102" << "300.00"
            << "the CP2102's lowest rate is 300 Bd: 45.45 Bd cannot be set." + instead << told2;
        QTest::newRow("CP2104: its own divisor")
            << "cp210x 0100 ea60 CP2104 USB to UART Bridge Controller" << "74.2,8N1" << "CP2104"
            << "300.00" << "the CP2104's lowest rate is 300 Bd: 74.20 Bd cannot be set." + instead
            << "";
        QTest::newRow("CP2105's second port: the table's rates from 2400 Bd")
            << "cp210x 0100 ea70 CP2105 Dual USB to UART Bridge Controller if1" << "1200,8N1"
            << "CP2105" << "2400.00"
            << "the CP2105's lowest rate is 2400 Bd: 1200.00 Bd cannot be set." + instead << "";
        QTest::newRow("CP2101: eight bits, one stop bit, no stick parity")
            << "cp210x 0100 ea60 CP2101" << "300,8M2" << "CP2101" << "300.00"
            << "the CP2101 cannot send mark or space parity (it would send odd or even instead)."
            << "2 stop bits asked, this chip is told 1";
        QTest::newRow("cdc_acm: the firmware decides the rate")
            << "cdc_acm 0100 0043 Arduino Uno" << "45.45,5N1.5" << "Arduino Uno" << "" << ""
            << told2;
        QTest::newRow("a driver not modelled")
            << "mos7840 0100 7840" << "45.45,5N1.5" << "USB adapter" << "" << "" << "";
        QTest::newRow("FT232H: from 1200 Bd its divisor counts 12 MHz")
            << "ftdi_sio 0900 6014" << "=115200,8N1" << "FTDI FT232H" << "115246.10" << "" << "";
        QTest::newRow("CP2104: the driver cuts the rate it computes, the chip divides again")
            << "cp210x 0100 ea60 CP2104 USB to UART Bridge Controller" << "=303,8N1" << "CP2104"
            << "301.99" << "" << "";
        QTest::newRow("CP2102N: up to 3 MBd")
            << "cp210x 0100 ea60 CP2102N USB to UART Bridge Controller" << "=3000000,8N1"
            << "CP2102N" << "3000000.00" << "" << "";
        QTest::newRow("PL2303HXD: up to 12 MBd")
            << "pl2303 0400 2303 usb1.1" << "=12000000,8N1" << "PL2303HXD" << "12000000.00" << ""
            << "";
        // The whole rate asked is the one whose outcome is nearest, not the rounded one.
        QTest::newRow("PL2303HX: 175.08 asked as 174, which runs nearer than 175 (176.22)")
            << "pl2303 0300 2303 usb1.1" << "175,8N1" << "PL2303HX" << "174.91" << "" << "";
        QTest::newRow("CH340: 196.25 asked as 197, which runs nearer than 196 (195.31)")
            << "ch341-uart 0254 7523" << "196,8N1" << "CH340" << "196.95" << "" << "";
        // The Raspberry Pi's UARTs, their clock as their driver reports it once open.
        const QString miniInstead = " dtoverlay=disable-bt (or miniuart-bt) in config.txt puts "
                                    "the PL011 on GPIO 14 and 15 in its place (then --device "
                                    "/dev/serial0, or /dev/ttyAMA0).";
        const QString sent = " (7 or 8 data bits, no parity and 1 stop bit only).";
        QTest::newRow("PL011 at 48 MHz: 45.45 as 46, 45 would overflow IBRD; told 2")
            << "uart uart-pl011 48" << "45.45,5N1.5" << "PL011" << "46.00" << "" << told2;
        QTest::newRow("PL011 at 48 MHz: 50 exactly")
            << "uart uart-pl011 48" << "50,5N1.5" << "PL011" << "50.00" << "" << told2;
        QTest::newRow("PL011 at 48 MHz: 110 with a fraction, stick parity")
            << "uart uart-pl011 48" << "110,8M1" << "PL011" << "110.00" << "" << "";
        QTest::newRow("PL011 at 48 MHz: 40 Bd overflows IBRD: refused, a lower clock named")
            << "uart uart-pl011 48" << "40,5N1.5" << "PL011" << "316.99"
            << "the PL011's lowest rate is 46 Bd at 48 MHz: 40.00 Bd cannot be set. "
               "init_uart_clock=3000000 in config.txt runs 40.00 Bd." << told2;
        QTest::newRow("PL011 at 3 MHz: 45.45 as 45")
            << "uart uart-pl011 3" << "45.45,5N1.5" << "PL011" << "45.00" << "" << told2;
        QTest::newRow("PL011 at 3 MHz: 50 exactly")
            << "uart uart-pl011 3" << "50,5N1.5" << "PL011" << "50.00" << "" << told2;
        QTest::newRow("PL011 at 3 MHz: 110")
            << "uart uart-pl011 3" << "110,6E1" << "PL011" << "110.00" << "" << "";
        QTest::newRow("mini UART: no five-bit words")
            << "uart bcm2835-aux-uart 500" << "1200,5N1.5" << "mini UART" << ""
            << "the mini UART cannot send 5N1.5" + sent + miniInstead << "";
        QTest::newRow("mini UART: no parity")
            << "uart bcm2835-aux-uart 500" << "1200,7E1" << "mini UART" << ""
            << "the mini UART cannot send 7E1" + sent + miniInstead << "";
        QTest::newRow("mini UART: no second stop bit")
            << "uart bcm2835-aux-uart 500" << "1200,8N2" << "mini UART" << ""
            << "the mini UART cannot send 8N2" + sent + miniInstead << "";
        QTest::newRow("mini UART: below its floor, core clock / 8 / 65535")
            << "uart bcm2835-aux-uart 500" << "300,8N1" << "mini UART" << ""
            << "the mini UART's lowest rate is 477 Bd (core clock 250 MHz): 300.00 Bd cannot be "
               "set." + miniInstead << "";
        QTest::newRow("another driver of a port not on USB: its rate unknown")
            << "uart msm_serial" << "45.45,5N1.5" << "unknown UART" << "" << "" << "";
        // clang-format on
    }
    void chipModel() {
        QFETCH(QString, adapter);
        QFETCH(QString, line);
        QFETCH(QString, name);
        QFETCH(QString, runs);
        QFETCH(QString, cannot);
        QFETCH(QString, told);
        const std::optional<Chip> chip = ChipFromSysfs(adapter);
        QVERIFY(chip);
        QCOMPARE(QString::fromStdString(chip->name), name);
        std::string error;
        const bool whole = line.startsWith('=');
        const double rate = line.section(',', 0, 0).remove('=').toDouble();
        const std::optional<Framing> framing =
            Framing::Parse(line.section(',', 1).toStdString(), error);
        const unsigned request = whole ? static_cast<unsigned>(rate)
                                       : RequestFor(*chip, RateOfDivisor(DivisorForRate(rate)));
        const std::optional<double> chipRuns = ChipRate(*chip, request);
        QCOMPARE(chipRuns ? QString::fromStdString(FormatC("%.2f", *chipRuns)) : QString(), runs);
        QCOMPARE(QString::fromStdString(line::AdvisedNotice(CannotSend(*chip, rate, framing))),
                 cannot);
        QCOMPARE(QString::fromStdString(StopBitsTold(*chip, *framing)), told);
    }

    // The adapter behind a device number, from a sysfs tree laid out as the kernel lays it out.
    void adapterIsIdentifiedFromSysfs() {
        FakeSysfs sysfs;
        sysfs.AddUsbPort(makedev(188, 0), "ftdi_sio", "0403", "6001", "0400", "QEMU USB SERIAL");
        sysfs.AddPort(makedev(4, 65), "serial8250");
        sysfs.AddPort(makedev(4, 66), "dw-apb-uart");
        sysfs.AddPort(makedev(204, 64), "uart-pl011");
        sysfs.SetMachine("Raspberry Pi 3 Model B Rev 1.2");
        sysfs.AddVirtual(makedev(5, 2));
        const std::optional<Adapter> ftdi = IdentifyAdapter(makedev(188, 0), sysfs.Root());
        QVERIFY(ftdi);
        QCOMPARE(QString::fromStdString(ftdi->driver), QStringLiteral("ftdi_sio"));
        QCOMPARE(ftdi->vendor, 0x0403);
        QCOMPARE(ftdi->usbVersion, 0x0200);
        QCOMPARE(QString::fromStdString(ftdi->productName), QStringLiteral("QEMU USB SERIAL"));
        QCOMPARE(QString::fromStdString(ChipOf(*ftdi)->name), QStringLiteral("FTDI FT232B"));
        const std::optional<Adapter> uart = IdentifyAdapter(makedev(4, 65), sysfs.Root());
        QVERIFY(uart && uart->driver == "serial8250" && !uart->usb && !ChipOf(*uart));
        // The 8250 family takes the divisor itself; another driver's chip is named, and the
        // machine tells whether it is on a Raspberry Pi's header.
        QVERIFY(!ChipOf(*IdentifyAdapter(makedev(4, 66), sysfs.Root())));
        const std::optional<Adapter> pl011 = IdentifyAdapter(makedev(204, 64), sysfs.Root());
        QVERIFY(pl011);
        QCOMPARE(QString::fromStdString(pl011->machine),
                 QStringLiteral("Raspberry Pi 3 Model B Rev 1.2"));
        QVERIFY(ChipOf(*pl011)->piHeader);
        QVERIFY(!IdentifyAdapter(makedev(5, 2), sysfs.Root()));
        QVERIFY(!IdentifyAdapter(makedev(188, 1), sysfs.Root()));
    }

    // Behind a known chip the driver is asked for the whole rate, what the chip runs is said,
    // and a line it cannot send never reaches the driver.
    void chipLineThroughTheDriver() {
        DriverFixture f;
        const std::optional<Chip> ch340 = ChipOf(UsbAdapter("ch341-uart 0254 7523"));
        auto* driver = new FakeSerialDriver;
        DriverPortIo io(0x2F8, "/dev/ttyUSB0", std::unique_ptr<SerialDriver>(driver), ch340);
        const ScopedPortIo installed(io);
        QCOMPARE(QString::fromStdString(io.Label(0x2F8)),
                 QStringLiteral("/dev/ttyUSB0 · driver · CH340 (ch341)"));
        const LineOutcome ch340Set = ApplyLine(0x2F8, 45.45);
        QVERIFY(!ch340Set.failed);
        QCOMPARE(driver->calls, (QStringList{"TCGETS2", "TCSETS2", "TCGETS2"}));
        QCOMPARE(driver->termios.c_ospeed, 45u);
        QCOMPARE(driver->termios.c_cflag & kFraming, tcflag_t(CS5 | CSTOPB));
        QVERIFY(ch340Set.running && ch340Set.running->known);
        QCOMPARE(QString::fromStdString(DescribeRate(ReportRate(45.45), ch340Set.running)),
                 QStringLiteral("45.45 Bd asked, the CH340 runs 45.96 Bd (+1.11 %)"));
        QCOMPARE(QString::fromStdString(ch340Set.notice),
                 QStringLiteral("1.5 stop bits asked, this chip is told 2"));
        // A look sees the chip's rate in the driver's echo of the request.
        QCOMPARE(QString::fromStdString(FormatC("%.2f", *io.ReadLineState(0x2F8)->rate)),
                 QStringLiteral("45.96"));

        auto* ftdiDriver = new FakeSerialDriver;
        DriverPortIo ftdi(0x2F8, "/dev/ttyUSB1", std::unique_ptr<SerialDriver>(ftdiDriver),
                          ChipOf(UsbAdapter("ftdi_sio 0400 6001")));
        const ScopedPortIo ftdiInstalled(ftdi);
        QVERIFY(ftdi.CannotSend(LineSettings.ToFraming()).failed);  // 5N1.5
        const LineOutcome tooSlow = ApplyLine(0x2F8, 45.45);
        QVERIFY(tooSlow.failed);
        QVERIFY(tooSlow.notice.starts_with("the FTDI FT232B's lowest rate is 183 Bd"));
        QCOMPARE(tooSlow.instead, Instead::TeleprinterAdapterOrCard);
        const LineOutcome fiveBits = ApplyLine(0x2F8, 300);
        QVERIFY(fiveBits.failed);
        QVERIFY(fiveBits.notice.starts_with("the FTDI FT232B cannot send 5-bit words"));
        QCOMPARE(ftdiDriver->calls, QStringList());  // nothing asked of the driver
        QVERIFY(!tooSlow.running && !fiveBits.running);

        // A driver not modelled: what it reports, and that the chip's rate is unknown.
        auto* other = new FakeSerialDriver;
        DriverPortIo unknown(0x2F8, "/dev/ttyUSB2", std::unique_ptr<SerialDriver>(other),
                             ChipOf(UsbAdapter("mos7840 0100 7840")));
        const ScopedPortIo unknownInstalled(unknown);
        QCOMPARE(QString::fromStdString(
                     DescribeRate(ReportRate(45.45), ApplyLine(0x2F8, 45.45).running)),
                 QStringLiteral("45.45 Bd asked, the driver reports 45 Bd; the chip's real rate "
                                "is unknown"));
        QVERIFY(!unknown.ReadLineState(0x2F8)->rate);
    }

    // The PL011: its clock asked of the driver once, at the open; the whole rate whose outcome
    // is nearest asked for, never a custom divisor, which its driver keeps and ignores. (What
    // is said of it: the scripted mode's rows.)
    void pl011ThroughTheDriver() {
        DriverFixture f;
        FakeSerialDriver* driver = nullptr;
        const std::unique_ptr<DriverPortIo> io = Pl011Port(driver, 48);
        const ScopedPortIo installed(*io);
        QCOMPARE(QString::fromStdString(io->Label(0x2F8)),
                 QStringLiteral("/dev/ttyAMA0 · driver · PL011 at 48 MHz"));
        QVERIFY(!ApplyLine(0x2F8, 45.45).failed);
        QCOMPARE(driver->calls, (QStringList{"TIOCGSERIAL", "TCGETS2", "TCSETS2", "TCGETS2"}));
        QCOMPARE(int(driver->termios.c_cflag & CBAUD), int(BOTHER));
        QCOMPARE(driver->termios.c_ospeed, 46u);
        // A look: two calls, and the rate the PL011 runs for what the driver reports.
        driver->calls.clear();
        QCOMPARE(QString::fromStdString(FormatC("%.2f", *io->ReadLineState(0x2F8)->rate)),
                 QStringLiteral("46.00"));
        QCOMPARE(driver->calls, (QStringList{"TCGETS2", "TIOCMGET"}));
    }

    // The mini UART: what it cannot send is refused before its driver is asked, which would
    // change the terminal's framing to what it can; from its floor up the 8250 core takes the
    // exact divisor.
    void miniUartRefusesBeforeTheDriver() {
        DriverFixture f;
        auto* driver = new FakeSerialDriver;
        driver->serial.baud_base = 31250000;  // a 250 MHz core clock
        driver->miniUartFraming = true;
        driver->lowestRate = 476;
        FakeSysfs sysfs;
        sysfs.AddPort(makedev(4, 64), "bcm2835-aux-uart");
        DriverPortIo io(0x2F8, "/dev/ttyS0", std::unique_ptr<SerialDriver>(driver),
                        ChipOf(*IdentifyAdapter(makedev(4, 64), sysfs.Root())));
        const ScopedPortIo installed(io);
        QCOMPARE(QString::fromStdString(io.Label(0x2F8)),
                 QStringLiteral("/dev/ttyS0 · driver · mini UART, core clock 250 MHz"));
        const termios2 before = driver->termios;
        const LineOutcome fiveBits = ApplyLine(0x2F8, 1200);  // 5N1.5
        std::string error;
        LineSettings.SetFraming(*Framing::Parse("8N1", error));
        const LineOutcome tooSlow = ApplyLine(0x2F8, 45.45);
        QVERIFY(fiveBits.failed && tooSlow.failed);           // the messages: the chip table's rows
        QCOMPARE(driver->calls, QStringList{"TIOCGSERIAL"});  // the clock, at the open
        QCOMPARE(driver->termios.c_cflag, before.c_cflag);
        QCOMPARE(driver->termios.c_ospeed, before.c_ospeed);
        const LineOutcome set = ApplyLine(0x2F8, 1200);
        QVERIFY(!set.failed);
        QCOMPARE(driver->serial.custom_divisor, 26042);
        QCOMPARE(int(driver->termios.c_cflag & (CSIZE | CBAUD)), int(CS8 | B38400));
    }

    // Whatever the driver, a change it took otherwise than asked is no change: a framing it
    // altered, or a whole rate it replaced with one more than 5 % off, is said as a failure and
    // the terminal's termios are put back as they were found.
    void aChangeTheDriverAltersIsPutBack_data() {
        QTest::addColumn<QString>("chip");  // its driver, where not the 8250 family's
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("notice");
        QTest::newRow("the word length and stop bits changed, as the mini UART's core does")
            << ""
            << "0,5N1.5"
            << "the driver ignored the word length; the driver ignored the stop bits";
        QTest::newRow("an 8250 whose floor is above the rate keeps 9600: not +21022 %")
            << ""
            << "45.45,8N1"
            << "no exact divisor (it has no serial settings: Inappropriate ioctl for device): the "
               "driver set 9600 Bd for the 45 Bd asked, more than 5 % off 45.46 Bd: the line was "
               "put back as it was";
        QTest::newRow("a driver not known that keeps 9600")
            << "msm_serial"
            << "45.45,8N1"
            << "the driver set 9600 Bd for the 45 Bd asked, more than 5 % off 45.46 Bd: the line "
               "was put back as it was";
    }
    void aChangeTheDriverAltersIsPutBack() {
        QFETCH(QString, chip);
        QFETCH(QString, line);
        QFETCH(QString, notice);
        DriverFixture f;
        auto* driver = new FakeSerialDriver;
        driver->noSerial = true;
        driver->miniUartFraming = true;
        driver->lowestRate = 476;
        FakeSysfs sysfs;
        sysfs.AddPort(makedev(4, 64), chip.isEmpty() ? "serial8250" : chip);
        DriverPortIo io(0x2F8, "/dev/ttyS0", std::unique_ptr<SerialDriver>(driver),
                        ChipOf(*IdentifyAdapter(makedev(4, 64), sysfs.Root())));
        const ScopedPortIo installed(io);
        std::string error;
        LineSettings.SetFraming(*Framing::Parse(line.section(',', 1).toStdString(), error));
        const termios2 before = driver->termios;
        const LineOutcome outcome = ApplyLine(0x2F8, line.section(',', 0, 0).toDouble());
        QVERIFY(outcome.failed && !outcome.running);
        QCOMPARE(QString::fromStdString(outcome.notice), notice);
        QCOMPARE(driver->termios.c_cflag, before.c_cflag);
        QCOMPARE(driver->termios.c_ospeed, before.c_ospeed);
        QCOMPARE(driver->calls.count("TCSETS2"), 2);  // the change, and the termios put back
    }

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
        const LineOutcome outcome = ApplyLine(0x2F8, rate);
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
        QCOMPARE(QString::fromStdString(outcome.notice), notice);
        QVERIFY(!outcome.failed);
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
        const LineOutcome outcome = ApplyLine(0x2F8, 0);
        QCOMPARE(int(f.driver->termios.c_cflag & kFraming), flags);
        QCOMPARE(int(f.driver->termios.c_cflag & CBAUD), int(B9600));  // the rate left alone
        QCOMPARE(f.driver->calls, (QStringList{"TCGETS2", "TCSETS2", "TCGETS2"}));
        QCOMPARE(QString::fromStdString(outcome.notice), QString());
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
        const LineOutcome outcome = ApplyLine(0x2F8, 0);
        QCOMPARE(QString::fromStdString(outcome.notice),
                 QStringLiteral("the driver ignored mark/space parity"));
        QVERIFY(outcome.failed);
        const LineOutcome next = ApplyModemLine(kMcrDtr, true);
        QVERIFY(!next.failed && next.notice.empty());  // said once
    }

    void refusedFramingIsAFailure() {
        DriverFixture f;
        f.driver->setTermiosError = EINVAL;
        const LineOutcome refused = ApplyLine(0x2F8, 0);
        QCOMPARE(QString::fromStdString(refused.notice),
                 QStringLiteral("the driver refused the line settings (Invalid argument)"));
        QVERIFY(refused.failed);
        // The custom divisor went in, the rate that makes it count did not: the serial settings
        // go back as they were, without it.
        QVERIFY(ApplyLine(0x2F8, 45.45).failed);
        QCOMPARE(f.driver->serial.flags & ASYNC_SPD_MASK, 0);
        QCOMPARE(f.driver->serial.custom_divisor, 0);
        // Another program's custom divisor from before stays in force, not cleared: not when the
        // custom divisor goes in, nor when the whole-rate fallback cleared it first (here a base
        // clock whose divisor would not fit).
        f.driver->serial.flags |= ASYNC_SPD_CUST;
        f.driver->serial.custom_divisor = 7;
        for (const int baseRate : {115200, 24000000}) {
            f.driver->serial.baud_base = baseRate;
            QVERIFY(ApplyLine(0x2F8, 45.45).failed);
            QCOMPARE(f.driver->serial.flags & ASYNC_SPD_MASK, ASYNC_SPD_CUST);
            QCOMPARE(f.driver->serial.custom_divisor, 7);
        }
        f.driver->serial.baud_base = 115200;
        // Held, a re-application the driver refuses is said as such and not counted.
        f.driver->setTermiosError = 0;
        const LineOutcome set = ApplyLine(0x2F8, 45.45);
        QVERIFY(!set.failed);
        Hold hold(0x2F8);
        hold.KeepLine(45.45, LineSettings.ToFraming(), set.running);
        f.driver->termios.c_cflag = (f.driver->termios.c_cflag & ~CSIZE) | CS8;  // the terminal's
        f.driver->setTermiosError = EINVAL;
        const Hold::Looked looked = hold.LookAndPutBack();
        QCOMPARE(looked.look, Hold::Look::ReapplyFailed);
        QCOMPARE(QString::fromStdString(hold.LastReason()),
                 QStringLiteral("the driver set 45.46 Bd 8N2"));
        QCOMPARE(hold.ReapplyCount(), 0);
        QCOMPARE(QString::fromStdString(looked.outcome.notice),
                 QStringLiteral("the driver refused the line settings (Invalid argument)"));
    }

    void modemLinesOnlyTheBitThatChanged_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("after");
        QTest::newRow("DTR on") << int(TIOCM_RTS) << 0x01 << true
                                << QStringList{"TIOCMGET", "TIOCMBIS 0x2"}
                                << int(TIOCM_RTS | TIOCM_DTR);
        QTest::newRow("RTS off") << int(TIOCM_RTS | TIOCM_DTR) << 0x02 << false
                                 << QStringList{"TIOCMGET", "TIOCMBIC 0x4"} << int(TIOCM_DTR);
        QTest::newRow("DTR on when on: no call")
            << int(TIOCM_DTR) << 0x01 << true << QStringList{"TIOCMGET"} << int(TIOCM_DTR);
        QTest::newRow("OUT2 reported and kept")
            << 0x4000 << 0x01 << true << QStringList{"TIOCMGET", "TIOCMBIS 0x2"}
            << int(0x4000 | TIOCM_DTR);
        QTest::newRow("DTR off") << int(TIOCM_DTR) << 0x01 << false
                                 << QStringList{"TIOCMGET", "TIOCMBIC 0x2"} << 0;
    }
    void modemLinesOnlyTheBitThatChanged() {
        QFETCH(int, lines);
        QFETCH(int, mask);
        QFETCH(bool, on);
        QFETCH(QStringList, calls);
        QFETCH(int, after);
        DriverFixture f;
        f.driver->lines = lines;
        const LineOutcome outcome = ApplyModemLine(static_cast<std::uint8_t>(mask), on);
        QCOMPARE(f.driver->calls, calls);
        QCOMPARE(f.driver->lines, after);
        QCOMPARE(QString::fromStdString(outcome.notice), QString());
    }

    void unpluggedAdapterIsReportedNotFatal() {
        DriverFixture f;
        ProgramUart(0x2F8, 45.45);
        f.driver->gone = true;
        f.driver->calls.clear();
        const LineOutcome rate = ApplyLine(0x2F8, 50.0);
        QVERIFY(QString::fromStdString(rate.notice).contains("/dev/ttyS1 is gone"));
        QVERIFY(rate.failed);
        const LineOutcome dtr = ApplyModemLine(0x01, true);
        QVERIFY(QString::fromStdString(dtr.notice).contains("/dev/ttyS1 is gone"));
        QVERIFY(dtr.failed);
        ProgramUart(0x2F8, 0);
        // Once gone, the driver is not asked again.
        QCOMPARE(f.driver->calls, QStringList{"TCGETS2"});

        // Unplugged between a change and its read-back: the read-back says so.
        DriverFixture g;
        g.driver->goneAfterSet = true;
        const LineOutcome readBack = ApplyLine(0x2F8, 0);
        QVERIFY(QString::fromStdString(readBack.notice).contains("/dev/ttyS1 is gone"));
        QVERIFY(readBack.failed);
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

    void realOpenRefusesWhatIsNoSerialPort() {
        LineOutcome opened;
        QVERIFY(!DeviceSerialDriver::Open("/dev/null", opened));
        QVERIFY(opened.failed);
        QCOMPARE(opened.error, ENOTTY);
        QVERIFY(QString::fromStdString(opened.notice).contains("not a serial port"));
        QVERIFY(!DeviceSerialDriver::Open("/nonexistent/ttyS9", opened));
        QCOMPARE(opened.error, ENOENT);
        QVERIFY(QString::fromStdString(opened.notice).contains("no such device"));
    }
};

QTEST_APPLESS_MAIN(DriverBackend)
#include "driver_backend.moc"
