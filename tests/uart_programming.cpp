// SPDX-License-Identifier: GPL-3.0-or-later
// What reaches the UART: the divisor latch and framing writes, the modem-line read-modify-write,
// and what a 16550 makes of them.
#include <QTest>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>

#include "line/Hold.h"
#include "uart/LineSettings.h"
#include "uart/RecordingPortIo.h"
#include "uart/SimulatedUart.h"
#include "uart/TracingPortIo.h"

using namespace uart;
using line::Hold;

using Accesses = std::vector<PortAccess>;
Q_DECLARE_METATYPE(Accesses)
Q_DECLARE_METATYPE(line::Hold::Look)

namespace {

QString Show(const Accesses& accesses) {
    QStringList lines;
    for (const PortAccess& access : accesses)
        lines << QString::fromStdString(FormatAccess(access));
    return lines.join(QStringLiteral(", "));
}

}  // namespace

// Passes accesses on, and notes how much trace had been printed when the latch closed; opening
// it raises SIGUSR1.
class LatchWatch final : public PortIo {
  public:
    LatchWatch(PortIo& inner, const char* trace) : inner_(inner), trace_(trace) { uart = &inner; }
    void Out(std::uint16_t port, std::uint8_t value) override {
        if (port == 0x2FB && (value & kLcrDlab) == 0)
            printedAtClose = std::strlen(trace_);
        inner_.Out(port, value);
        if (port == 0x2FB && value == kLcrDlab)
            raise(SIGUSR1);
    }
    std::uint8_t In(std::uint16_t port) override { return inner_.In(port); }

    std::size_t printedAtClose = SIZE_MAX;
    static inline int latchOpenAtSignal = -1;  // -1: no signal arrived
    static inline PortIo* uart = nullptr;

  private:
    PortIo& inner_;
    const char* trace_;
};

class UartProgramming : public QObject {
    Q_OBJECT

  private slots:
    void init() { LineSettings = LineSettingsData{}; }

    void programUartWritesInDataSheetOrder_data() {
        QTest::addColumn<int>("base");
        QTest::addColumn<double>("rate");
        QTest::addColumn<Accesses>("expected");

        const auto rateWrites = [](std::uint16_t base, std::uint8_t high, std::uint8_t low) {
            return Accesses{OutAccess(base + 3, 0x80), OutAccess(base + 1, high),
                            OutAccess(base + 0, low), OutAccess(base + 3, 0x04)};
        };
        QTest::newRow("rate 0 rewrites only the framing")
            << 0x2F8 << 0.0 << Accesses{OutAccess(0x2FB, 0x04)};
        QTest::newRow("35.0 is not above the floor")
            << 0x2F8 << 35.0 << Accesses{OutAccess(0x2FB, 0x04)};
        QTest::newRow("NaN leaves the divisor alone")
            << 0x2F8 << std::numeric_limits<double>::quiet_NaN()
            << Accesses{OutAccess(0x2FB, 0x04)};
        QTest::newRow("negative rate leaves the divisor alone")
            << 0x2F8 << -45.45 << Accesses{OutAccess(0x2FB, 0x04)};
        QTest::newRow("35.01 programs divisor 3290")
            << 0x2F8 << 35.01 << rateWrites(0x2F8, 0x0C, 0xDA);
        QTest::newRow("45.45 preset, divisor 2534")
            << 0x2F8 << 45.45 << rateWrites(0x2F8, 0x09, 0xE6);
        QTest::newRow("50.0 preset, divisor 2304")
            << 0x2F8 << 50.0 << rateWrites(0x2F8, 0x09, 0x00);
        QTest::newRow("56.9 preset, divisor 2024")
            << 0x2F8 << 56.9 << rateWrites(0x2F8, 0x07, 0xE8);
        QTest::newRow("74.2 preset, divisor 1552")
            << 0x2F8 << 74.2 << rateWrites(0x2F8, 0x06, 0x10);
        QTest::newRow("100.0 preset, divisor 1152")
            << 0x2F8 << 100.0 << rateWrites(0x2F8, 0x04, 0x80);
        QTest::newRow("110.0 preset, divisor 1047")
            << 0x2F8 << 110.0 << rateWrites(0x2F8, 0x04, 0x17);
        QTest::newRow("300.0 preset, divisor 384")
            << 0x2F8 << 300.0 << rateWrites(0x2F8, 0x01, 0x80);
        QTest::newRow("truncates, never rounds: 76.8 gives 1500")
            << 0x2F8 << 76.8 << rateWrites(0x2F8, 0x05, 0xDC);
        QTest::newRow("above 115200 writes divisor 0 unchanged")
            << 0x2F8 << 230400.0 << rateWrites(0x2F8, 0x00, 0x00);
        QTest::newRow("base 0x3F8") << 0x3F8 << 300.0 << rateWrites(0x3F8, 0x01, 0x80);
        QTest::newRow("base 0x260") << 0x260 << 45.45 << rateWrites(0x260, 0x09, 0xE6);
    }
    void programUartWritesInDataSheetOrder() {
        QFETCH(int, base);
        QFETCH(double, rate);
        QFETCH(Accesses, expected);
        RecordingPortIo io;
        const ScopedPortIo installed(io);
        ProgramUart(base, rate);
        QCOMPARE(Show(io.Accesses()), Show(expected));
    }

    void framingByteCombinesTheThreeFields_data() {
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("wordLength");
        QTest::addColumn<int>("stop");
        QTest::addColumn<int>("expected");
        QTest::newRow("start values: 5N1.5") << 0x00 << 0 << 4 << 0x04;
        QTest::newRow("8E1") << 0x18 << 3 << 0 << 0x1B;
        QTest::newRow("8N2") << 0x00 << 3 << 4 << 0x07;
        QTest::newRow("7 odd 2") << 0x08 << 2 << 4 << 0x0E;
        QTest::newRow("6 mark 1") << 0x28 << 1 << 0 << 0x29;
        QTest::newRow("5 space 1.5") << 0x38 << 0 << 4 << 0x3C;
    }
    void framingByteCombinesTheThreeFields() {
        QFETCH(int, parity);
        QFETCH(int, wordLength);
        QFETCH(int, stop);
        QFETCH(int, expected);
        LineSettings.parityBits = parity;
        LineSettings.wordLengthBits = wordLength;
        LineSettings.stopBits = stop;
        RecordingPortIo io;
        const ScopedPortIo installed(io);
        ProgramUart(0x2F8, 0);
        QCOMPARE(Show(io.Accesses()),
                 Show({OutAccess(0x2FB, static_cast<std::uint8_t>(expected))}));
    }

    void divisorForEveryRate_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("divisor");
        constexpr double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("35.01 truncates to 3290") << 35.01 << 3290;
        QTest::newRow("1.76: the last rate below the saturation") << 1.76 << 65454;
        QTest::newRow("115200 / 65535 fits exactly") << 115200.0 / 65535 << 0xFFFF;
        QTest::newRow("115200 / 65536 saturates, never wraps to 0") << 115200.0 / 65536 << 0xFFFF;
        QTest::newRow("a tiny rate saturates") << 1e-300 << 0xFFFF;
        QTest::newRow("0 saturates") << 0.0 << 0xFFFF;
        QTest::newRow("above 115200: 0") << 115201.0 << 0;
        QTest::newRow("infinity: 0") << inf << 0;
        QTest::newRow("negative: 0") << -45.45 << 0;
        QTest::newRow("minus infinity: 0") << -inf << 0;
        QTest::newRow("NaN: 0") << std::numeric_limits<double>::quiet_NaN() << 0;
    }
    void divisorForEveryRate() {
        QFETCH(double, rate);
        QFETCH(int, divisor);
        QCOMPARE(int(DivisorForRate(rate)), divisor);
    }

    void setModemLineKeepsTheOtherBits_data() {
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("DTR on over OUT2") << 0x01 << true << 0x08 << 0x09;
        QTest::newRow("RTS off keeps DTR and OUT2") << 0x02 << false << 0x0B << 0x09;
        QTest::newRow("DTR off keeps loop, OUT1, OUT2, RTS") << 0x01 << false << 0x1F << 0x1E;
        QTest::newRow("RTS on when already on writes it again") << 0x02 << true << 0x02 << 0x02;
        QTest::newRow("DTR on keeps the upper bits as read") << 0x01 << true << 0x20 << 0x21;
    }
    void setModemLineKeepsTheOtherBits() {
        QFETCH(int, mask);
        QFETCH(bool, on);
        QFETCH(int, before);
        QFETCH(int, after);
        LineSettings.portBase = 0x3E8;
        RecordingPortIo io;
        io.SetReadValue(0x3EC, static_cast<std::uint8_t>(before));
        const ScopedPortIo installed(io);
        SetModemLine(static_cast<std::uint8_t>(mask), on);
        QCOMPARE(Show(io.Accesses()), Show({InAccess(0x3EC, static_cast<std::uint8_t>(before)),
                                            OutAccess(0x3EC, static_cast<std::uint8_t>(after))}));
    }

    // Held at 45.45 Bd with DTR up at 0x2F8, a look (over the I/O ports) finds the line control
    // and modem control registers as below.
    void holdPutsBackWhatALookFindsChanged_data() {
        QTest::addColumn<QString>("framing");  // held, with 45.45 Bd; empty: DTR alone
        QTest::addColumn<int>("lcr");
        QTest::addColumn<int>("mcr");
        QTest::addColumn<int>("looks");
        QTest::addColumn<Hold::Look>("found");  // by the last look
        QTest::addColumn<QString>("reason");    // of the last re-application
        QTest::addColumn<QString>("said");      // the hold's limit, or the backend's notice
        QTest::addColumn<QString>("writes");    // by the last look, after its two reads
        const QString line = ", out 0x2FB 0x80, out 0x2F9 0x09, out 0x2F8 0xE6, out 0x2FB 0x04";
        const QString dtr = ", in 0x2FC 0x08, out 0x2FC 0x09", none;
        const Hold::Look kept = Hold::Look::Kept, reapplied = Hold::Look::Reapplied;
        QTest::newRow("as written: two reads, nothing else")
            << "5N1.5" << 0x04 << 0x09 << 1 << kept << none << none << none;
        QTest::newRow("the 8250 driver's own 5N1.5, even-parity select on: set again")
            << "5N1.5" << 0x14 << 0x09 << 1 << reapplied << "the driver set 5N1.5" << none << line;
        QTest::newRow("a break in progress is no change")
            << "5N1.5" << 0x44 << 0x09 << 1 << kept << none << none << none;
        QTest::newRow("the latch open once: the driver between its writes")
            << "5N1.5" << 0x84 << 0x09 << 1 << kept << none << none << none;
        QTest::newRow("the latch open at two looks: left open, closed by setting the line")
            << "5N1.5" << 0x84 << 0x09 << 2 << reapplied << "the driver left the divisor latch open"
            << none << line;
        QTest::newRow("open again at the look after closing it: between writes again")
            << "5N1.5" << 0x84 << 0x09 << 3 << kept << "the driver left the divisor latch open"
            << none << none;
        QTest::newRow("DTR dropped: put back alone")
            << "5N1.5" << 0x04 << 0x08 << 1 << reapplied << "the driver dropped DTR" << none << dtr;
        QTest::newRow("DTR alone held, the latch open: DTR is not behind it")
            << none << 0x84 << 0x08 << 1 << reapplied << "the driver dropped DTR" << none << dtr;
        QTest::newRow("8N1 and DTR dropped: both put back")
            << "5N1.5" << 0x03 << 0x08 << 1 << reapplied << "the driver set 8N1 and dropped DTR"
            << none << line + dtr;
        QTest::newRow("7E1: the 8250 driver's byte is this program's, its rate change unseen")
            << "7E1" << 0x1A << 0x09 << 1 << kept << none
            << "over the I/O ports a rate the driver sets at 7E1 goes unseen" << none;
        QTest::newRow("no UART at the address: the bus reads 0xFF, the look fails")
            << "5N1.5" << 0xFF << 0xFF << 1 << Hold::Look::LookFailed << none
            << "no UART answers at 0x2F8 (its modem control register reads 0xFF)" << none;
        QTest::newRow("no UART: bits 5 to 7 of the modem control register set, the rest not")
            << "5N1.5" << 0x04 << 0xE8 << 1 << Hold::Look::LookFailed << none
            << "no UART answers at 0x2F8 (its modem control register reads 0xE8)" << none;
    }
    void holdPutsBackWhatALookFindsChanged() {
        QFETCH(QString, framing);
        QFETCH(int, lcr);
        QFETCH(int, mcr);
        QFETCH(int, looks);
        QFETCH(Hold::Look, found);
        QFETCH(QString, reason);
        QFETCH(QString, said);
        QFETCH(QString, writes);
        LineSettings.portBase = 0x2F8;
        RecordingPortIo io;
        io.SetReadValue(0x2FB, static_cast<std::uint8_t>(lcr));
        io.SetReadValue(0x2FC, static_cast<std::uint8_t>(mcr));
        const ScopedPortIo installed(io);
        Hold hold(0x2F8);
        if (!framing.isEmpty()) {
            std::string error;
            const std::optional<Framing> held = Framing::Parse(framing.toStdString(), error);
            QVERIFY2(held, error.c_str());
            hold.KeepLine(45.45, *held, std::nullopt);
        }
        hold.KeepModemLine(0x01, true);
        Hold::Looked last;
        for (int i = 0; i < looks; ++i) {
            io.Clear();
            last = hold.LookAndPutBack();
        }
        QCOMPARE(last.look, found);
        QCOMPARE(QString::fromStdString(hold.LastReason()), reason);
        QCOMPARE(QString::fromStdString(hold.Limit() + last.outcome.notice), said);
        QCOMPARE(Show(io.Accesses()),
                 QString::asprintf("in 0x2FB 0x%02X, in 0x2FC 0x%02X", lcr, mcr) + writes);
        const LineOutcome next = ApplyLine(0x2F8, 0);  // one write, which says nothing
        QVERIFY(!next.failed && next.notice.empty());  // nothing left over from the look
    }

    void noBackendMeansNoAccess() {
        // Until start-up installs a backend, the inert one swallows everything.
        RecordingPortIo io;
        { const ScopedPortIo installed(io); }
        ProgramUart(0x2F8, 45.45);
        QVERIFY(io.Accesses().empty());
    }

    void simulatorPowersUpAsEmulatorsDo() {
        const SimulatedUart uart(0x2F8);
        const UartView view = uart.View();
        QCOMPARE(view.divisor, std::uint16_t{12});
        QCOMPARE(view.rate, 9600.0);
        QCOMPARE(uart.LineControl(), std::uint8_t{0x00});
        QCOMPARE(uart.ModemControl(), std::uint8_t{0x08});
        QVERIFY(view.out2 && !view.dtr && !view.rts);
    }

    void simulatorDecodesWhatProgramUartWrote_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("wordLength");
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("summary");  // before the modem lines, as at power-up
        QTest::addColumn<QString>("locale");   // the user's, while the summary is formed
        QTest::newRow("Baudot 45.45 5N1.5")
            << 45.45 << 0 << 0 << 4 << "2534 (45.46 Bd) 5N1.5" << QString();
        QTest::newRow("300 8E1") << 300.0 << 0x18 << 3 << 0 << "384 (300.00 Bd) 8E1" << QString();
        QTest::newRow("110 7O2") << 110.0 << 0x08 << 2 << 4 << "1047 (110.03 Bd) 7O2" << QString();
        QTest::newRow("74.2 6M1") << 74.2 << 0x28 << 1 << 0 << "1552 (74.23 Bd) 6M1" << QString();
        QTest::newRow("50 5S1.5") << 50.0 << 0x38 << 0 << 4 << "2304 (50.00 Bd) 5S1.5" << QString();
        QTest::newRow("framing only keeps power-up divisor")
            << 0.0 << 0 << 3 << 0 << "12 (9600.00 Bd) 8N1" << QString();
        QTest::newRow("a decimal-comma locale changes no number")
            << 0.0 << 0 << 3 << 0 << "12 (9600.00 Bd) 8N1"
            << "de_DE.UTF-8";
    }
    void simulatorDecodesWhatProgramUartWrote() {
        QFETCH(double, rate);
        QFETCH(int, parity);
        QFETCH(int, wordLength);
        QFETCH(int, stop);
        QFETCH(QString, locale);
        QFETCH(QString, summary);
        LineSettings = {0x2F8, parity, wordLength, stop};
        SimulatedUart uart(0x2F8);
        const ScopedPortIo installed(uart);
        ProgramUart(0x2F8, rate);
        const UartView view = uart.View();
        QVERIFY(!view.breakOn);
        QVERIFY((uart.LineControl() & 0x80) == 0);  // the latch is closed again
        QCOMPARE(uart.TransmittedBytes(), 0u);      // the latch writes never leaked into data
        const QByteArray saved(setlocale(LC_ALL, nullptr));
        if (!locale.isEmpty() && setlocale(LC_ALL, locale.toLatin1().constData()) == nullptr)
            QSKIP("the locale is not installed (tools/setup makes it)");
        const QString described = QString::fromStdString(Describe(view));
        setlocale(LC_ALL, saved.constData());
        QCOMPARE(described, summary + " DTR- RTS- OUT1- OUT2+ LOOP-");
    }

    void simulatorLatchSwitchesTheLowRegisters() {
        SimulatedUart uart(0x3F8);
        uart.Out(0x3F9, 0x05);  // latch closed: interrupt enable
        uart.Out(0x3FB, 0x80);
        uart.Out(0x3F9, 0x01);
        uart.Out(0x3F8, 0x80);
        QCOMPARE(uart.In(0x3F8), std::uint8_t{0x80});
        QCOMPARE(uart.In(0x3F9), std::uint8_t{0x01});
        uart.Out(0x3FB, 0x03);
        QCOMPARE(uart.In(0x3F9), std::uint8_t{0x05});
        QCOMPARE(uart.Divisor(), std::uint16_t{0x0180});
        uart.Out(0x2F8, 0x55);  // another UART's address: ignored
        QCOMPARE(uart.In(0x2F8), std::uint8_t{0xFF});
        QCOMPARE(uart.Divisor(), std::uint16_t{0x0180});
    }

    void simulatorDivisorZeroHasNoRate() {
        SimulatedUart uart(0x2F8);
        LineSettings.portBase = 0x2F8;
        const ScopedPortIo installed(uart);
        ProgramUart(0x2F8, 500000.0);
        QCOMPARE(uart.View().divisor, std::uint16_t{0});
        QCOMPARE(uart.View().rate, 0.0);
    }

    void simulatorModemLinesAndLoopBack() {
        SimulatedUart uart(0x2F8);
        LineSettings.portBase = 0x2F8;
        const ScopedPortIo installed(uart);
        SetModemLine(0x01, true);
        SetModemLine(0x02, true);
        QCOMPARE(uart.ModemControl(), std::uint8_t{0x0B});
        SetModemLine(0x01, false);
        const UartView view = uart.View();
        QVERIFY(!view.dtr && view.rts && view.out2 && !view.out1 && !view.loop);
        uart.Out(0x2FC, 0x1F);  // loop-back: outputs appear on the status inputs
        QCOMPARE(uart.In(0x2FE), std::uint8_t{0xF0});
        QCOMPARE(QString::fromStdString(Describe(uart.View())),
                 QStringLiteral("12 (9600.00 Bd) 5N1 DTR+ RTS+ OUT1+ OUT2+ LOOP+"));
    }

    // The trace comes in order, but nothing of it while the latch is open; a signal that comes
    // then (here one raised at the latch's opening) arrives once the latch is closed.
    void traceLinesFollowTheAccessesInOrder() {
        char buffer[512] = {};
        std::FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
        QVERIFY(out != nullptr);
        SimulatedUart uart(0x2F8);
        LatchWatch watch(uart, buffer);
        TracingPortIo tracing(watch, out, 0x2F8);
        LineSettings.portBase = 0x2F8;
        const auto previous = signal(SIGUSR1, [](int) {
            LatchWatch::latchOpenAtSignal = (LatchWatch::uart->In(0x2FB) & kLcrDlab) != 0;
        });
        {
            const ScopedPortIo installed(tracing);
            ProgramUart(0x2F8, 45.45);
            SetModemLine(0x01, true);
        }
        signal(SIGUSR1, previous);
        std::fclose(out);
        QCOMPARE(QString::fromLatin1(buffer),
                 QStringLiteral("out 0x2FB 0x80\nout 0x2F9 0x09\nout 0x2F8 0xE6\nout 0x2FB 0x04\n"
                                "in 0x2FC 0x08\nout 0x2FC 0x09\n"));
        QCOMPARE(uart.View().divisor, std::uint16_t{2534});  // passed through to the backend
        QCOMPARE(watch.printedAtClose, std::size_t{0});
        QCOMPARE(LatchWatch::latchOpenAtSignal, 0);

        // A look over the I/O ports that finds no UART: both reads printed, the failure kept.
        char lookBuffer[128] = {};
        out = fmemopen(lookBuffer, sizeof lookBuffer - 1, "w");
        RecordingPortIo empty;  // every address reads 0xFF
        TracingPortIo tracingEmpty(empty, out, 0x2F8);
        const LineLook look = LookAtLine(tracingEmpty, 0x2F8);
        QVERIFY(!look.state);
        std::fclose(out);
        QCOMPARE(QString::fromLatin1(lookBuffer), QStringLiteral("in 0x2FB 0xFF\nin 0x2FC 0xFF\n"));
        QVERIFY(look.outcome.notice.starts_with("no UART answers at 0x2F8"));
        QVERIFY(look.outcome.failed);
    }

    void traceFormatPadsLowAddresses() {
        QCOMPARE(QString::fromStdString(FormatAccess(OutAccess(0x60, 0x5))),
                 QStringLiteral("out 0x060 0x05"));
        QCOMPARE(QString::fromStdString(FormatAccess(InAccess(0x3FC, 0xAB))),
                 QStringLiteral("in 0x3FC 0xAB"));
    }
};

QTEST_APPLESS_MAIN(UartProgramming)
#include "uart_programming.moc"
