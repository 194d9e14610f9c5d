// SPDX-License-Identifier: GPL-3.0-or-later
// Boots a small Linux guest on QEMU's PC model and runs the program in it with real port
// instructions, then checks every access as QEMU's 16550 model saw it against the sequences the
// program must produce: the scripted cases at several bases, the panel driven by clicks and a
// drag, the serial-driver backend through the guest kernel's 8250 driver, a start without port
// permission, the Baudot bridge's codes both ways and a text file's line ends, a printed file's
// codes at the UART's far side, --hold beside a terminal program that sets the port again, what
// QEMU's FTDI adapter was programmed to through the kernel's ftdi_sio, an address with no UART,
// trace readers that go away or stop, and runs that must be refused. A guest that dies before its
// cases begin is booted once more by boot-guest, which says so.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <map>

#include "Scenarios.h"

namespace {

struct Access {
    bool write;
    int port;
    int value;
};
using Case = QList<Access>;
using Run = QList<Case>;

constexpr Access Read(int port) {
    return {false, port, -1};
}

QString Show(const Access& a) {
    const QString shown = QString::asprintf("%s 0x%03X", a.write ? "out" : "in", a.port);
    return a.value < 0 ? shown : shown + QString::asprintf(" 0x%02X", a.value);
}

bool Same(const Case& expected, const Case& observed) {
    if (expected.size() != observed.size())
        return false;
    for (int i = 0; i < expected.size(); ++i) {
        const Access& e = expected[i];
        const Access& o = observed[i];
        // A read's value is whatever the UART holds; -1 in the expectation takes any.
        if (e.write != o.write || e.port != o.port || (e.value >= 0 && e.value != o.value))
            return false;
    }
    return true;
}

// Expected beside observed, for a failure message.
QString SideBySide(const QString& title, const Case& expected, const Case& observed) {
    QString text =
        title + "\n" + QStringLiteral("  %1 | %2\n").arg("expected", -16).arg("QEMU saw");
    for (int i = 0; i < qMax(expected.size(), observed.size()); ++i) {
        const QString e = i < expected.size() ? Show(expected[i]) : QString();
        const QString o = i < observed.size() ? Show(observed[i]) : QString();
        text += QStringLiteral("  %1 | %2\n").arg(e, -16).arg(o);
    }
    return text;
}

// What QEMU's FTDI model was asked during one case. Its trace lines, as QEMU 7.2 writes them:
//   usb_serial_set_baud dev 0:1 baud rate 300
//   usb_serial_set_data dev 0:1 parity E, data bits 7, stop bits 1
//   usb_serial_handle_control dev 0:1 got control 0x4001, value 0x303
// The last is the modem-control request: the high byte says which lines are set, the low byte
// sets them (bit 0 DTR, bit 1 RTS). The model logs no event of its own for it.
struct Chip {
    QStringList events;  // every line, for a failure message
    QList<int> rates;
    QStringList framings;
    QList<int> modemControls;
};

Case RateWrites(int base, int divisor, int framing) {
    return {{true, base + 3, 0x80},
            {true, base + 1, divisor >> 8},
            {true, base, divisor & 0xFF},
            {true, base + 3, framing}};
}

// The divisors of the preset rates: 115200 / rate, truncated.
int PresetDivisor(double rate) {
    static const std::map<double, int> divisors{{45.45, 2534}, {50.0, 2304},  {56.9, 2024},
                                                {74.2, 1552},  {100.0, 1152}, {110.0, 1047},
                                                {300.0, 384}};
    return divisors.at(rate);
}

}  // namespace

Q_DECLARE_METATYPE(Access)

class EmulatedUart : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;
    QString console_;
    std::map<int, QList<Run>> runs_;        // per UART base, in order
    std::map<int, QList<Run>> bridgeRuns_;  // the bridge's, cut by its own marker
    std::map<int, QList<Run>> holdRuns_;    // the hold's, cut by its own marker
    // serial_update_parameters, in order, logged while each run at 0x2F8 (the guest's ttyS1)
    // was under way
    std::map<int, QStringList> parameters_;
    // every access at another address while each run at 0x2F8 was under way, the addresses
    // with nothing behind them included (QEMU's 'io' region)
    std::map<int, Case> elsewhere_;
    QList<Chip> ftdiCases_;  // in order

    void Parse(const QString& tracePath) {
        QFile trace(tracePath);
        QVERIFY(trace.open(QIODevice::ReadOnly));
        static const QRegularExpression access(
            QStringLiteral("^memory_region_ops_(read|write) .* addr 0x([0-9a-f]+) value "
                           "0x([0-9a-f]+) size 1 name '(?:serial|io)'"));
        static const QRegularExpression parameters(
            QStringLiteral("^serial_update_parameters (.*)$"));
        static const QRegularExpression chip(
            QStringLiteral("^usb_serial_(?:set_baud .* baud rate (\\d+)|set_data .* (parity .*)|"
                           "handle_control .* got control 0x4001, value 0x([0-9a-f]+)|.*)$"));
        bool inFtdi = false;
        std::map<int, QList<Run>*> inRun;  // per base: the runs of the one under way, or none
        while (!trace.atEnd()) {
            const QString line = QString::fromLatin1(trace.readLine()).trimmed();
            if (const auto match = parameters.match(line); match.hasMatch()) {
                if (inRun[0x2F8] == &runs_[0x2F8])
                    parameters_[static_cast<int>(runs_[0x2F8].size()) - 1] << match.captured(1);
                continue;
            }
            if (const auto match = chip.match(line); match.hasMatch()) {
                if (inFtdi) {
                    Chip& c = ftdiCases_.last();
                    c.events << line;
                    if (match.hasCaptured(1))
                        c.rates << match.captured(1).toInt();
                    if (match.hasCaptured(2))
                        c.framings << match.captured(2);
                    if (match.hasCaptured(3))
                        c.modemControls << match.captured(3).toInt(nullptr, 16);
                }
                continue;
            }
            const auto match = access.match(line);
            if (!match.hasMatch())
                continue;
            // An empty address reads all ones, in 64 bits.
            const Access a{match.captured(1) == "write", match.captured(2).toInt(nullptr, 16),
                           static_cast<int>(match.captured(3).toULongLong(nullptr, 16) & 0xFF)};
            const int base = a.port & ~7;
            const bool marker = a.write && (a.port & 7) == 7;
            if (marker && (a.value == emulated::kCaseMarker || a.value == emulated::kBridgeMarker ||
                           a.value == emulated::kHoldMarker)) {
                QList<Run>& runs = a.value == emulated::kCaseMarker     ? runs_[base]
                                   : a.value == emulated::kBridgeMarker ? bridgeRuns_[base]
                                                                        : holdRuns_[base];
                if (inRun[base] != &runs)
                    runs.append(Run{});
                inRun[base] = &runs;
                runs.last().append(Case{});
            } else if (marker && a.value == emulated::kEndMarker) {
                inRun[base] = nullptr;
                inFtdi = false;
            } else if (marker && a.value == emulated::kFtdiMarker) {
                ftdiCases_.append(Chip{});
                inFtdi = true;
            } else if (inRun[base] != nullptr) {
                inRun[base]->last().last().append(a);
            } else if (inRun[0x2F8] == &runs_[0x2F8]) {
                elsewhere_[static_cast<int>(runs_[0x2F8].size()) - 1].append(a);
            }
        }
    }

    // What the guest printed in one of its sections, each line ending in a newline.
    QString Said(const QString& section) const {
        return console_.section("== " + section + '\n', 1).section("\n== ", 0, 0) + '\n';
    }

    void CompareCases(const QString& group, const QList<Case>& expected, const Run& observed) {
        QCOMPARE(observed.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QVERIFY2(Same(expected[i], observed[i]),
                     qPrintable(SideBySide(QStringLiteral("%1, case %2").arg(group).arg(i),
                                           expected[i], observed[i])));
        }
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QProcess guest;
        guest.setProcessChannelMode(QProcess::MergedChannels);
        guest.start(
            QStringLiteral("bash"),
            {QStringLiteral(QUORLIX_SOURCE_DIR "/tests/emulated/boot-guest"),
             QStringLiteral(QUORLIX_GUEST_BINARY), dir_.path(), QStringLiteral(QUORLIX_BINARY),
             QStringLiteral(QUORLIX_PROBE_STYLE), QStringLiteral(QUORLIX_PROBE_PLATFORM)});
        QVERIFY(guest.waitForFinished(290000));
        const QString said = QString::fromLocal8Bit(guest.readAll());
        if (guest.exitCode() == 77)
            QSKIP(qPrintable("QEMU cannot run here: " + said));
        // What boot-guest said, a guest booted again or one that died, in full: QVERIFY2 would
        // cut it short.
        if (!said.isEmpty())
            qInfo().noquote() << said.trimmed();
        QVERIFY2(guest.exitCode() == 0, "boot-guest failed, as it says above");
        QFile console(dir_.filePath("console.txt"));
        QVERIFY(console.open(QIODevice::ReadOnly));
        console_ = QString::fromUtf8(console.readAll()).remove('\r');
        Parse(dir_.filePath("trace.log"));
    }

    void scriptedCasesOverIoPorts_data() {
        QTest::addColumn<int>("base");
        for (int digit : emulated::kScriptedDigits) {
            const int base =
                std::array{0x3F8, 0x2F8, 0x3E8, 0x3E0, 0x2F0, 0x2E8, 0x2E0, 0x260}[digit - 1];
            QTest::addRow("digit %d, 0x%X", digit, base) << base;
        }
    }
    void scriptedCasesOverIoPorts() {
        QFETCH(int, base);
        QVERIFY(!runs_[base].isEmpty());
        QList<Case> expected;
        for (const emulated::FramingCase& c : emulated::FramingCases()) {
            expected << RateWrites(base, PresetDivisor(c.rate), c.parity | c.wordLength | c.stop);
        }
        expected << Case{{true, base + 4, emulated::kModemSetup}};
        int mcr = emulated::kModemSetup;
        for (const emulated::ModemCase& c : emulated::kModemCases) {
            const int after = c.on ? (mcr | c.mask) : (mcr & ~c.mask);
            expected << Case{{false, base + 4, mcr}, {true, base + 4, after}};
            mcr = after;
        }
        QCOMPARE(expected.size(), 285);
        CompareCases(QStringLiteral("scripted at 0x%1").arg(base, 0, 16), expected,
                     runs_[base].first());
    }

    void panelClicksAndDrag() {
        const int b = emulated::kGuestUarts[1];  // digit 3
        QVERIFY(!runs_[b].isEmpty());
        static const QRegularExpression drag(QStringLiteral("panel drag display: (.*)"));
        const auto shown = drag.match(console_);
        QVERIFY2(shown.hasMatch(), qPrintable(console_));
        const int dragDivisor =
            static_cast<int>(115200.0 / std::atof(shown.captured(1).toLatin1()));
        const QList<Case> expected{
            RateWrites(b, 1552, 0x04),                // 74.2
            {{true, b + 3, 0x0C}},                    // Odd
            {{true, b + 3, 0x07}},                    // 8: parity off
            {{true, b + 3, 0x03}},                    // 1 stop bit
            RateWrites(b, 1550, 0x03),                // + : 74.30 in single precision
            RateWrites(b, 1552, 0x03),                // - : back to 74.20
            RateWrites(b, 384, 0x03),                 // 300.0
            {{false, b + 4, -1}, {true, b + 4, -1}},  // DTR, checked below
            RateWrites(b, 2534, 0x03),                // 45.45
            RateWrites(b, dragDivisor, 0x03),         // the release of the drag
        };
        const Run& observed = runs_[b].first();
        CompareCases(QStringLiteral("panel at 0x%1").arg(b, 0, 16), expected, observed);
        const Case& dtr = observed[7];
        QCOMPARE(dtr[1].value, dtr[0].value | 0x01);  // DTR up, the other bits as read
    }

    void driverBackendThroughTheGuestKernel() {
        const int b = 0x2F8;
        QVERIFY2(runs_[b].size() == 9,
                 "scripted, no-permission, driver, capability, empty-address, closed-reader, "
                 "second-hold, link and held-bridge runs at 0x2F8");
        const QString said = Said("driver");
        QVERIFY2(said.contains("/dev/ttyS1 · driver") && said.contains("status: 0") &&
                     said.contains("note: opening /dev/ttyS1 may have raised DTR and RTS (the "
                                   "kernel does so on every open)"),
                 qPrintable(said));
        // Opened as root, the port is all the program looks at: no other UART's register is
        // read (their modem status registers least of all, whose delta bits others wait on).
        QVERIFY2(elsewhere_[2].isEmpty(),
                 qPrintable(SideBySide("beside the driver run", {}, elsewhere_[2])));
        // Replay what the 8250 driver wrote into a 16550 and look at the result.
        int lcr = 0, dll = 0, dlm = 0, divisor = -1;
        bool dtrUp = false, rtsLowered = false;
        for (const Case& c : runs_[b][2]) {
            for (const Access& a : c) {
                if (!a.write)
                    continue;
                const int offset = a.port - b;
                if (offset == 3) {
                    lcr = a.value;
                    if (!(lcr & 0x80))
                        divisor = dlm << 8 | dll;
                }
                if (offset == 0 && (lcr & 0x80))
                    dll = a.value;
                if (offset == 1 && (lcr & 0x80))
                    dlm = a.value;
                if (offset == 4) {
                    dtrUp |= (a.value & 0x01) != 0;
                    rtsLowered |= (a.value & 0x03) == 0x01;
                }
            }
        }
        QCOMPARE(divisor, 2534);     // the exact divisor, through the custom divisor
        QCOMPARE(lcr & 0x0F, 0x04);  // five bits, no parity, 1.5 stop bits
        QVERIFY(dtrUp);              // DTR raised
        QVERIFY(!rtsLowered);        // and RTS left as the open raised it
        QVERIFY(!parameters_[2].isEmpty());
        QCOMPARE(parameters_[2].last(), QStringLiteral("baudrate=45 parity='N' data=5 stop=2"));
    }

    void bridgeSendsCodesAndReceivesLetters() {
        const int b = 0x2F8;
        QVERIFY2(bridgeRuns_[b].size() == 3, "three bridge runs at 0x2F8");
        const Run& run = bridgeRuns_[b].first();
        QCOMPARE(run.size(), 3);  // start-up, the shell's text, the code on the receive side
        // Replay what the 8250 driver wrote: the line it set up, the data with the latch closed.
        int lcr = 0, dll = 0, dlm = 0, divisor = -1;
        QList<int> sent;
        for (int i = 0; i < 2; ++i) {
            for (const Access& a : run[i]) {
                const bool latch = (lcr & 0x80) != 0;
                if (!a.write)
                    continue;
                if (a.port == b + 3) {
                    lcr = a.value;
                    if (!(lcr & 0x80))
                        divisor = dlm << 8 | dll;
                } else if (a.port == b && latch) {
                    dll = a.value;
                } else if (a.port == b + 1 && latch) {
                    dlm = a.value;
                } else if (a.port == b) {
                    sent << a.value;
                }
            }
        }
        QCOMPARE(divisor, 2534);
        QCOMPARE(lcr & 0x0F, 0x04);  // five-bit words, no parity, 1.5 stop bits
        // R Y R Y, space, FIGS 7 3, CR, two LTRS of fill, LF.
        const QList<int> expected{0x0A, 0x15, 0x0A, 0x15, 0x04, 0x1B,
                                  0x07, 0x01, 0x08, 0x1F, 0x1F, 0x02};
        QCOMPARE(sent, expected);
        const QString said = console_.section("== bridge", 1).section("\n== ", 0, 0);
        QVERIFY2(said.contains("bridge received: F"), qPrintable(said));
        QVERIFY2(said.contains("bridge: 9 characters sent, 1 received, 0 not printable"),
                 qPrintable(said));
        QVERIFY2(said.contains("status: 0"), qPrintable(said));
    }

    // The motor on RTS and a 20-column carriage: RTS is dropped at the start, raised before the
    // first code leaves, and dropped again between one and three seconds after the last; the
    // line ends at its last space within the last ten columns, with CR, the fill and LF.
    void bridgeRunsTheMotorAndEndsLines() {
        const int b = 0x2F8;
        QVERIFY2(bridgeRuns_[b].size() == 3, "three bridge runs at 0x2F8");
        const Run& run = bridgeRuns_[b][1];
        QCOMPARE(run.size(), 4);  // start-up, the line, the two seconds after, SIGTERM
        // Per case: the codes written with the latch closed, and RTS at each modem control write.
        int lcr = 0;
        QList<QList<int>> codes(4);
        QList<QStringList> rts(4);
        for (int i = 0; i < 4; ++i) {
            for (const Access& a : run[i]) {
                if (!a.write)
                    continue;
                if (a.port == b + 3)
                    lcr = a.value;
                else if (a.port == b && !(lcr & 0x80))
                    codes[i] << a.value;
                else if (a.port == b + 4)
                    rts[i] << ((a.value & 0x02) ? "RTS up" : "RTS down");
                if (a.port == b && !(lcr & 0x80) && rts[i].isEmpty() && i == 1)
                    QFAIL("a code left before RTS came up");
            }
        }
        QVERIFY2(!rts[0].isEmpty() && rts[0].last() == "RTS down", qPrintable(rts[0].join(", ")));
        QCOMPARE(rts[1], QStringList{"RTS up"});
        QCOMPARE(rts[2], QStringList{"RTS down"});
        // THE QUICK BROWN FOX, CR LTRS LTRS LF, JUMPS, and for the typed CR the same line end.
        const QList<int> expected{0x10, 0x14, 0x01, 0x04, 0x17, 0x07, 0x06, 0x0E, 0x0F, 0x04, 0x19,
                                  0x0A, 0x18, 0x13, 0x0C, 0x04, 0x0D, 0x18, 0x1D, 0x08, 0x1F, 0x1F,
                                  0x02, 0x0B, 0x07, 0x1C, 0x16, 0x05, 0x08, 0x1F, 0x1F, 0x02};
        QCOMPARE(codes[1], expected);
        const QString said = Said("motor");
        QVERIFY2(said.contains("the motor on RTS: 0.2 s to start, off after 2 s quiet"),
                 qPrintable(said));
    }

    // The quick start's Model 15 bridge on a looped-back UART: a Unix text file of three lines
    // leaves as CR, the fill and LF after each, and comes back out of the link as the same lines.
    void bridgePrintsAUnixFileLineByLine() {
        const int b = 0x2F8;
        QVERIFY2(bridgeRuns_[b].size() == 3, "three bridge runs at 0x2F8");
        const Run& run = bridgeRuns_[b][2];
        QCOMPARE(run.size(), 2);  // start-up, the file
        int lcr = 0;
        QList<int> sent;
        for (int i = 0; i < 2; ++i) {
            for (const Access& a : run[i]) {
                if (a.write && a.port == b + 3)
                    lcr = a.value;
                else if (a.write && a.port == b && !(lcr & 0x80) && i == 1)
                    sent << a.value;
            }
        }
        // ONE, CR LTRS LTRS LF, TWO, the same, THREE, the same.
        const QList<int> expected{0x18, 0x0C, 0x01, 0x08, 0x1F, 0x1F, 0x02, 0x10,
                                  0x13, 0x18, 0x08, 0x1F, 0x1F, 0x02, 0x10, 0x14,
                                  0x0A, 0x01, 0x01, 0x08, 0x1F, 0x1F, 0x02};
        QCOMPARE(sent, expected);
        const QString said = Said("lines");
        QVERIFY2(said.contains("lines read back: ONE|TWO|THREE|\n"), qPrintable(said));
        QVERIFY2(said.contains("status: 0"), qPrintable(said));
    }

    // --print of a three-line file on the 16550 at 0x3E8 (the guest's ttyS2) exits 0 only once
    // every code has left the UART: the codes written to it before the mark that follows the
    // exit are the whole job, and its far side (all that QEMU's UART sent, into a file, over the
    // whole run) holds those and nothing after them. Each left at divisor 2534, five bits, 1.5
    // stop bits.
    void printExitsOnceEveryCodeHasLeft() {
        const int b = emulated::kGuestUarts[1];
        QVERIFY2(runs_[b].size() == 2, "the panel and the print job at 0x3E8");
        QCOMPARE(runs_[b][1].size(), 1);
        int lcr = 0, dll = 0, dlm = 0;
        QList<int> sent;
        for (const Access& a : runs_[b][1].first()) {
            const bool latch = (lcr & 0x80) != 0;
            if (a.write && a.port == b + 3) {
                lcr = a.value;
            } else if (a.write && a.port == b && latch) {
                dll = a.value;
            } else if (a.write && a.port == b + 1 && latch) {
                dlm = a.value;
            } else if (a.write && a.port == b) {
                sent << a.value;
                QVERIFY2((dlm << 8 | dll) == 2534 && (lcr & 0x0F) == 0x04,
                         qPrintable(QString::asprintf("code 0x%02X at divisor %d, line control "
                                                      "0x%02X",
                                                      a.value, dlm << 8 | dll, lcr)));
            }
        }
        // RYRY; C Q, D E, FIGS 7 3, FIGS again after the space (the machine may have gone back
        // to letters there) 4 5; E N D: each line ended by CR, two LTRS of fill, LF.
        const QList<int> expected{0x0A, 0x15, 0x0A, 0x15, 0x08, 0x1F, 0x1F, 0x02, 0x0E, 0x17, 0x04,
                                  0x09, 0x01, 0x04, 0x1B, 0x07, 0x01, 0x04, 0x1B, 0x0A, 0x10, 0x08,
                                  0x1F, 0x1F, 0x02, 0x01, 0x0C, 0x09, 0x08, 0x1F, 0x1F, 0x02};
        QCOMPARE(sent, expected);
        QFile far(dir_.filePath("far.bin"));
        QVERIFY(far.open(QIODevice::ReadOnly));
        QList<int> arrived;
        for (const char code : far.readAll())
            arrived << static_cast<unsigned char>(code);
        QCOMPARE(arrived, expected);
        const QString said = Said("print");
        static const QRegularExpression summary(
            QStringLiteral("print: (\\d+) of \\1 characters sent, 0 not printable, 0 thrown away"));
        QVERIFY2(summary.match(said).hasMatch() && said.endsWith("status: 0\n"), qPrintable(said));
    }

    // A terminal program beside quorlix --hold, over the I/O ports and through the driver: its
    // stty 300, and a close and re-open with stty 110, each rewrite the UART; a byte sent one
    // wait later leaves at divisor 2534, five bits, 1.5 stop bits and DTR up all the same.
    // With its output stopped (a full pipe nobody reads until it has ended) the hold goes on
    // looking and setting all the same.
    void holdKeepsTheLineThroughTheTerminalsChanges_data() {
        QTest::addColumn<int>("run");
        QTest::addColumn<int>("reapplied");  // at least
        QTest::newRow("I/O ports") << 0 << 2;
        QTest::newRow("serial driver") << 1 << 2;
        QTest::newRow("I/O ports, output stopped") << 2 << 1;
    }
    void holdKeepsTheLineThroughTheTerminalsChanges() {
        QFETCH(int, run);
        QFETCH(int, reapplied);
        const int b = 0x2F8;
        QVERIFY2(holdRuns_[b].size() == 3,
                 "a hold run over each backend at 0x2F8, and one with its output stopped");
        const Run& steps = holdRuns_[b][run];
        QCOMPARE(steps.size(), 4);  // start, a byte, stty 300 and a byte, re-open and a byte
        // Replay every write into a 16550: the line each byte left at, and the divisors the
        // terminal's driver wrote on the way.
        int lcr = 0, dll = 0, dlm = 0, mcr = 0;
        QList<int> sent, driverDivisors;
        for (int step = 0; step < steps.size(); ++step) {
            for (const Access& a : steps[step]) {
                if (!a.write)
                    continue;
                const bool latch = (lcr & 0x80) != 0;
                if (a.port == b + 3) {
                    if (latch && !(a.value & 0x80) && (dlm << 8 | dll) != 2534 && step >= 2)
                        driverDivisors << (dlm << 8 | dll);
                    lcr = a.value;
                } else if (a.port == b + 4) {
                    mcr = a.value;
                } else if (a.port == b && latch) {
                    dll = a.value;
                } else if (a.port == b + 1 && latch) {
                    dlm = a.value;
                } else if (a.port == b && step >= 1) {
                    sent << a.value;
                    const QString line = QString::asprintf(
                        "'%c' at divisor %d, line control 0x%02X, modem control 0x%02X", a.value,
                        dlm << 8 | dll, lcr, mcr);
                    // Five bits, 1.5 stop bits, parity off (the 8250 driver leaves even-parity
                    // select on with it), latch closed.
                    QVERIFY2((dlm << 8 | dll) == 2534 && (lcr & 0x8F) == 0x04 && (mcr & 0x01),
                             qPrintable(line));
                }
            }
        }
        QCOMPARE(sent, (QList<int>{'B', 'C', 'D'}));
        // The terminal's own changes did reach the UART: 300 Bd (384), and 110 Bd (1047) at the
        // re-open.
        QVERIFY2(driverDivisors.contains(384) && driverDivisors.contains(1047),
                 qPrintable(QString::number(driverDivisors.size())));
        const QString said = console_.section("== hold", 1)
                                 .section("\n== ", 0, 0)
                                 .section("\n-- ", run + 1, run + 1);
        QVERIFY2(said.contains("hold exit: 0"), qPrintable(said));
        static const QRegularExpression summary(
            QStringLiteral("hold ended: re-applied (\\d+)\u00D7, last: the driver "));
        const auto match = summary.match(said);
        QVERIFY2(match.hasMatch() && match.captured(1).toInt() >= reapplied, qPrintable(said));
    }

    // QEMU's FT232B through the kernel's ftdi_sio: what the chip was last programmed to, beside
    // what the program said. A rate below the chip's range is refused before the port is opened,
    // so the chip gets no request at all.
    void ftdiAdapterGetsWhatWasAsked_data() {
        QTest::addColumn<int>("index");  // the case's place in the guest's == ftdi section
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("firstLine");  // of its output; empty: not checked
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<int>("rate");  // the chip's last; 0: not a request of any kind
        QTest::addColumn<QString>("framing");
        QTest::addColumn<bool>("dtr");  // DTR up until the close, which drops both lines
        const QString tooLow =
            QStringLiteral("the FTDI FT232B's lowest rate is 183 Bd: 45.45 Bd cannot be set");
        QTest::newRow("45.45,5N1.5 refused") << 0 << 1 << ""
                                             << "" << tooLow << 0 << "" << false;
        QTest::newRow("300,8N1") << 1 << 0 << "/dev/ttyUSB0 · driver · FTDI FT232B (ftdi_sio)"
                                 << "rate: 300.00 Bd asked, the FTDI FT232B runs 300.00 Bd "
                                    "(+0.00 %)"
                                 << "" << 300 << "parity N, data bits 8, stop bits 1" << false;
        QTest::newRow("1200,7E1") << 2 << 0 << ""
                                  << "rate: 1200.00 Bd asked, the FTDI FT232B runs 1200.00 Bd "
                                     "(+0.00 %)"
                                  << "" << 1200 << "parity E, data bits 7, stop bits 1" << false;
        QTest::newRow("bridge refused") << 3 << 1 << ""
                                        << "" << tooLow << 0 << "" << false;
        QTest::newRow("300,8N1 --dtr on")
            << 4 << 0 << ""
            << "note: the kernel drops DTR and RTS when the last program closes /dev/ttyUSB0 "
               "(HUPCL)"
            << "" << 300 << "parity N, data bits 8, stop bits 1" << true;
    }
    void ftdiAdapterGetsWhatWasAsked() {
        QFETCH(int, index);
        QFETCH(int, status);
        QFETCH(QString, firstLine);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(int, rate);
        QFETCH(QString, framing);
        QFETCH(bool, dtr);
        QCOMPARE(ftdiCases_.size(), 5);
        const QString said = Said("ftdi").section("\n-- ", index, index);
        QStringList outLines, errLines;
        QString exit;
        for (const QString& line : said.split('\n').mid(1)) {
            if (line.startsWith("stderr: "))
                errLines << line.mid(8);
            else if (line.startsWith("status: "))
                exit = line.mid(8);
            else if (!line.isEmpty())
                outLines << line;
        }
        QVERIFY2(exit == QString::number(status), qPrintable(said));
        QVERIFY2(firstLine.isEmpty() || outLines.value(0) == firstLine, qPrintable(said));
        QVERIFY2(outLines.join('\n').contains(out), qPrintable(said));
        QVERIFY2(errLines.join('\n').contains(err), qPrintable(said));
        const Chip& chip = ftdiCases_[index];
        const QString got = chip.events.join('\n');
        if (rate == 0) {
            QVERIFY2(chip.events.isEmpty(), qPrintable(got));
            return;
        }
        QVERIFY2(!chip.rates.isEmpty() && !chip.framings.isEmpty(), qPrintable(got));
        QCOMPARE(chip.rates.last(), rate);
        QCOMPARE(chip.framings.last(), framing);
        if (dtr) {
            // Replay the modem-control requests before the close's.
            bool up = false;
            for (int value : chip.modemControls.mid(0, chip.modemControls.size() - 1)) {
                if (value & 0x100)
                    up = value & 0x01;
            }
            QVERIFY2(up && chip.modemControls.last() == 0x300, qPrintable(got));
        }
    }

    void noPermissionMeansNoAccess() {
        const int b = 0x2F8;
        QVERIFY(runs_[b].size() >= 2);
        const Run& refused = runs_[b][1];
        QCOMPARE(refused.size(), 1);
        QVERIFY2(refused.first().isEmpty(),
                 qPrintable(SideBySide("no permission", {}, refused.first())));
        const QString said = console_.section("== noperm", 1).section("== driver", 0, 0);
        QVERIFY2(said.contains("no access to the I/O ports 0x2F8-0x2FF: Operation not permitted"),
                 qPrintable(said));
        QVERIFY(said.contains("status: 1"));
    }

    void capabilityServesThePortAlone() {
        // As a user, with cap_sys_rawio+ep on the binary: the UART is programmed...
        const int b = 0x2F8;
        QVERIFY(runs_[b].size() >= 4);
        CompareCases(QStringLiteral("capability run at 0x%1").arg(b, 0, 16),
                     {RateWrites(b, 2534, 0x04) << Read(b + 4)}, runs_[b][3]);
        const QString said = console_.section("== privilege", 1).section("== sudo", 0, 0);
        QCOMPARE(said.count("status: 0"), 4);
        // ...the user's plugin paths were not followed, and the code Qt did load (the style
        // installed with it) ran with no capability left: no other port could be had.
        QCOMPARE(said.count("started with privilege, so these were ignored: -platformpluginpath, "
                            "QT_PLUGIN_PATH and QT_QPA_PLATFORM_PLUGIN_PATH"),
                 3);
        QVERIFY2(!said.contains("probe /probe/"), qPrintable(said));
        static const QRegularExpression probe(QStringLiteral("^probe .*$"),
                                              QRegularExpression::MultilineOption);
        int probes = 0;
        for (const auto& match : probe.globalMatch(said)) {
            ++probes;
            QCOMPARE(match.captured().section(": ", 1).trimmed(),
                     QStringLiteral("uid 65534 euid 65534 CapEff 0000000000000000 CapPrm "
                                    "0000000000000000 iopl refused ioperm 0x3E8 refused"));
        }
        QCOMPARE(probes, 3);  // direct, simulated and driver modes
    }

    void sudoFailureRunsNoQtAsRoot() {
        const QString said = console_.section("== sudo", 1).section("\n== ", 0, 0);
        QVERIFY2(said.contains("There is no such device"), qPrintable(said));
        static const QRegularExpression probe(
            QStringLiteral("probe [^:]*: uid (\\d+) euid (\\d+) "
                           "CapEff (\\S+)"));
        const auto match = probe.match(said);
        QVERIFY2(match.hasMatch(), qPrintable(said));
        QCOMPARE(match.captured(1), QStringLiteral("65534"));
        QCOMPARE(match.captured(2), QStringLiteral("65534"));
        QCOMPARE(match.captured(3), QStringLiteral("0000000000000000"));
    }

    // What the scripted mode leaves behind: at 0x3F8, where this PC has no UART, the four writes
    // and the read-back, and then no --dtr at all, since the line failed; at 0x2F8
    // the latch closed when the trace's reader has gone before the first write, and when it has
    // stopped reading and a SIGTERM comes while the program waits on it.
    void scriptedModeLeavesNoLatchOpenAndNoEmptyBusSet_data() {
        QTest::addColumn<int>("run");  // at 0x2F8; -1: not a case of its own
        QTest::addColumn<Case>("own");
        QTest::addColumn<Case>("elsewhere");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("no UART at 0x3F8")
            << 4 << Case{} << (RateWrites(0x3F8, 2534, 0x04) << Read(0x3FC)) << "empty"
            << QStringList{
                   "quorlix: no UART answers at 0x3F8 (its modem control register reads "
                   "0xFF)",
                   "no UART answers at 0x3F8 (its modem control register reads 0xFF)", "status: 1"};
        QTest::newRow("trace reader gone")
            << 5 << (RateWrites(0x2F8, 2534, 0x04) << Read(0x2FC)) << Case{} << "latch"
            << QStringList{"line control after its reader went: 4\n"};
        QTest::newRow("trace reader stopped, SIGTERM")
            << -1 << Case{} << Case{} << "latch"
            << QStringList{"waiting in: 1 0x2\n",  // write(2, ...)
                           "line control after SIGTERM: 4\n",
                           "SIGTERM ended it while its reader was stopped\n"};
    }
    void scriptedModeLeavesNoLatchOpenAndNoEmptyBusSet() {
        QFETCH(int, run);
        QFETCH(Case, own);
        QFETCH(Case, elsewhere);
        QFETCH(QString, section);
        QFETCH(QStringList, said);
        const QString text = Said(section);
        for (const QString& line : said)
            QVERIFY2(text.contains(line), qPrintable(text));
        if (run < 0)
            return;
        const int b = 0x2F8;
        QVERIFY(runs_[b].size() > run);
        CompareCases(QStringLiteral("at 0x%1").arg(b, 0, 16), {own}, runs_[b][run]);
        QVERIFY2(Same(elsewhere, elsewhere_[run]),
                 qPrintable(SideBySide("elsewhere", elsewhere, elsewhere_[run])));
    }

    // Refused before the UART is touched: a second hold beside one that holds the UART already
    // (through the driver) writes nothing, ends at once and names the first; a bridge whose link
    // cannot be made leaves the line as it was, and never writes its five-bit framing; nor does
    // a bridge refused by a hold's lock, which changes nothing of the port's settings.
    void refusedRunsLeaveTheUartAlone_data() {
        QTest::addColumn<int>("run");       // at 0x2F8
        QTest::addColumn<bool>("noWrite");  // at all; otherwise no five-bit framing
        QTest::addColumn<QString>("section");
        QTest::addColumn<QStringList>("said");  // %1: the first hold's process id
        QTest::newRow("second hold")
            << 6 << true << "held"
            << QStringList{"first hold: %1 running\n",
                           "stderr: quorlix: the UART at 0x2F8 is already held by process %1",
                           "status: 1\n"};
        QTest::newRow("bridge, link not made")
            << 7 << false << "link"
            << QStringList{"stty -a the same: speed 300 baud\n",
                           "stderr: quorlix: cannot make the link /nonexistent/dir/x",
                           "status: 1\n"};
        QTest::newRow("bridge beside a hold")
            << 8 << false << "bridge beside a hold"
            << QStringList{"stty -a the same: speed 38400 baud\n",  // 300 Bd's custom divisor
                           "stderr: quorlix: the UART at 0x2F8 is already held by process %1",
                           "status: 1\n"};
    }
    void refusedRunsLeaveTheUartAlone() {
        QFETCH(int, run);
        QFETCH(bool, noWrite);
        QFETCH(QString, section);
        QFETCH(QStringList, said);
        const QString text = Said(section);
        static const QRegularExpression first(QStringLiteral("first hold: (\\d+)"));
        const QString pid = first.match(text).captured(1);
        for (QString line : said) {
            if (line.contains("%1"))
                line = line.arg(pid.isEmpty() ? QStringLiteral("?") : pid);
            QVERIFY2(text.contains(line), qPrintable(line + " in:\n" + text));
        }
        const int b = 0x2F8;
        QVERIFY(runs_[b].size() > run);
        for (const Access& a : runs_[b][run].first()) {
            // Five-bit words (0x00 in bits 0-1) with the latch closed.
            const bool fiveBits = a.port == b + 3 && (a.value & 0x83) == 0;
            QVERIFY2(!a.write || !(noWrite || fiveBits),
                     qPrintable(SideBySide("written", {}, runs_[b][run].first())));
        }
    }
};

QTEST_GUILESS_MAIN(EmulatedUart)
#include "emulated_uart.moc"
