// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the project for arm64 and boots Debian's own arm64 kernel on QEMU's Raspberry Pi 3
// (tests/emulated/boot-pi), then checks what happened there: the core test programs pass, and
// the program on the Pi's two UARTs does what it says. The PL011 is judged by QEMU's trace of its
// register writes, the rate decoded from IBRD and FBRD (QEMU's own baud-rate event rounds to
// 4 Bd); the mini UART, whose divisor latch QEMU does not model, by what its driver kept.
// The cases the guest runs are the tables below: a row here is a run there.
#include <linux/serial.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <optional>

namespace {

// PL011 registers (ARM PrimeCell UART TRM), as offsets in QEMU's trace, and LCR_H's bits.
constexpr int kDr = 0x00;
constexpr int kIbrd = 0x24;
constexpr int kFbrd = 0x28;
constexpr int kLcrH = 0x2C;
constexpr int kLcrHPen = 0x02;
constexpr int kLcrHEps = 0x04;
constexpr int kLcrHStp2 = 0x08;
constexpr int kLcrHWlenShift = 5;
constexpr int kLcrHSps = 0x80;
// The bytes the guest's terminal program sends around each case on the PL011.
constexpr int kCaseStart = 0x01;
constexpr int kCaseEnd = 0x02;

struct Pl011Case {
    const char* name;
    const char* arguments;   // for quorlix --device /dev/ttyAMA0
    const char* framing;     // what LCR_H must say
    const char* failsToday;  // the reason, or null
};
// clang-format off
constexpr std::array kPl011Cases{
    Pl011Case{"300,8N1",             "--apply 300,8N1",     "8N1", nullptr},
    Pl011Case{"1200,7E1",            "--apply 1200,7E1",    "7E1", nullptr},
    Pl011Case{"45.45,5N1.5 told 2",  "--apply 45.45,5N1.5", "5N2", nullptr},
    Pl011Case{"50,5N1.5 told 2",     "--apply 50,5N1.5",    "5N2", nullptr},
};
// clang-format on

struct MiniCase {
    const char* name;
    const char* arguments;  // for quorlix --device /dev/ttyS1
    const char* says;       // on standard error
    const char* failsToday;
};
// clang-format off
constexpr std::array kMiniCases{
    MiniCase{"5N1.5 refused",            "--apply 45.45,5N1.5", "dtoverlay=disable-bt", nullptr},
    MiniCase{"below its floor refused",  "--apply 45.45,8N1",   "dtoverlay=disable-bt", nullptr},
};
// clang-format on

// The program itself, with no device: an arm64 machine has no I/O ports to ask for.
struct RunCase {
    const char* name;
    const char* arguments;  // for quorlix
    int status;
    const char* says;  // on standard error
};
constexpr std::array kRunCases{
    RunCase{"I/O ports refused", "--apply 45.45,5N1.5 2", 1,
            "no access to the I/O ports 0x2F8-0x2FF: Function not implemented"},
    RunCase{"the serial driver named instead", "--dtr on 1", 1,
            "Reach the UART through its serial driver instead:\n"
            "  quorlix --device /dev/serial0"},
};

// One case as the guest ran it: what the program said, and what it left behind.
struct GuestCase {
    QString heading;  // "pl011 --apply 300,8N1"
    QString text;     // everything the guest said for it
    QStringList out;
    QStringList err;
    int status = -1;
    int baudBase = 0, flags = 0, customDivisor = 0;
    QString sttyBefore, sttyAfter;
    QList<QPair<int, int>> writes;  // PL011 register writes, offset and value
};

// What the PL011 was last set to in a case: the kernel writes FBRD, IBRD, then LCR_H.
struct Pl011Line {
    int ibrd = 0, fbrd = 0, lcrH = 0;
    double rate = 0;  // for the port's clock, baud_base times 16
    QString framing;  // "5N2"
};

std::optional<Pl011Line> DecodedLine(const GuestCase& c) {
    std::optional<Pl011Line> line;
    int fbrd = -1, ibrd = -1;
    for (const auto& [offset, value] : c.writes) {
        if (offset == kFbrd) {
            fbrd = value;
            ibrd = -1;
        } else if (offset == kIbrd && fbrd >= 0) {
            ibrd = value;
        } else if (offset == kLcrH && ibrd > 0) {
            line = Pl011Line{ibrd, fbrd, value, 0, {}};
            fbrd = ibrd = -1;
        }
    }
    if (!line)
        return line;
    line->rate = c.baudBase * 16.0 * 4 / (line->ibrd * 64 + line->fbrd);
    const int bits = 5 + (line->lcrH >> kLcrHWlenShift & 3);
    const bool even = line->lcrH & kLcrHEps;
    const char parity = (line->lcrH & kLcrHPen) == 0   ? 'N'
                        : (line->lcrH & kLcrHSps) != 0 ? (even ? 'S' : 'M')
                                                       : (even ? 'E' : 'O');
    line->framing =
        QStringLiteral("%1%2%3").arg(bits).arg(parity).arg(line->lcrH & kLcrHStp2 ? 2 : 1);
    return line;
}

// The rate the program said the line runs: "rate: 45.45 Bd asked, <how> 46.00 Bd (+1.21 %)".
std::optional<double> PrintedRate(const GuestCase& c) {
    static const QRegularExpression rate(QStringLiteral("^rate: .* (\\d+\\.\\d+) Bd \\([+-]"));
    for (const QString& line : c.out) {
        if (const auto match = rate.match(line); match.hasMatch())
            return match.captured(1).toDouble();
    }
    return std::nullopt;
}

// The test programs that link the core alone, as the build lists them.
QStringList CoreTests() {
    return QStringLiteral(QUORLIX_CORE_TESTS).split(' ', Qt::SkipEmptyParts);
}

}  // namespace

class EmulatedPi : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;
    QList<GuestCase> cases_;
    bool skipped_ = false;

    const GuestCase* Find(const QString& heading) const {
        for (const GuestCase& c : cases_) {
            if (c.heading == heading)
                return &c;
        }
        return nullptr;
    }

    // The guest's console, cut at each case's "-- KIND ARGS" line; the PL011's register writes,
    // cut at the bytes its terminal program sent around each PL011 case.
    void Parse() {
        QFile console(dir_.filePath("console.txt"));
        QVERIFY(console.open(QIODevice::ReadOnly));
        // QEMU's mini UART sends the divisor the driver writes as data: bytes that are no UTF-8.
        const QString text =
            QString::fromUtf8(console.readAll()).remove('\r').remove(QChar::ReplacementCharacter);
        static const QRegularExpression serial(QStringLiteral(
            "^serial: type \\d+ baud_base (\\d+) flags 0x([0-9a-f]+) custom_divisor (\\d+)$"));
        for (const QString& block : text.split(QStringLiteral("\n-- ")).mid(1)) {
            GuestCase c;
            const QStringList lines = block.section(QStringLiteral("\n== "), 0, 0).split('\n');
            c.heading = lines.first();
            c.text = lines.join('\n');
            for (const QString& line : lines.mid(1)) {
                if (const auto match = serial.match(line); match.hasMatch()) {
                    c.baudBase = match.captured(1).toInt();
                    c.flags = match.captured(2).toInt(nullptr, 16);
                    c.customDivisor = match.captured(3).toInt();
                } else if (line.startsWith(QStringLiteral("status: "))) {
                    c.status = line.mid(8).toInt();
                } else if (line.startsWith(QStringLiteral("stderr: "))) {
                    c.err << line.mid(8);
                } else if (line.startsWith(QStringLiteral("stty before: "))) {
                    c.sttyBefore = line.mid(13);
                } else if (line.startsWith(QStringLiteral("stty after: "))) {
                    c.sttyAfter = line.mid(12);
                } else if (!line.isEmpty()) {
                    c.out << line;
                }
            }
            cases_ << c;
        }
        QFile trace(dir_.filePath("trace.log"));
        QVERIFY(trace.open(QIODevice::ReadOnly));
        static const QRegularExpression write(
            QStringLiteral("pl011_write addr 0x([0-9a-f]+) value 0x([0-9a-f]+)"));
        QList<QList<QPair<int, int>>> spans;
        bool inCase = false;
        while (!trace.atEnd()) {
            const auto match = write.match(QString::fromLatin1(trace.readLine()));
            if (!match.hasMatch())
                continue;
            const int offset = match.captured(1).toInt(nullptr, 16);
            const int value = match.captured(2).toInt(nullptr, 16);
            if (offset == kDr && (value == kCaseStart || value == kCaseEnd)) {
                inCase = value == kCaseStart;
                if (inCase)
                    spans.append(QList<QPair<int, int>>{});
            } else if (inCase) {
                spans.last().append({offset, value});
            }
        }
        int span = 0;
        for (GuestCase& c : cases_) {
            if (c.heading.startsWith(QStringLiteral("pl011 ")) && span < spans.size())
                c.writes = spans[span++];
        }
        QCOMPARE(span, spans.size());
    }

  public:
    bool Skipped() const { return skipped_; }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QFile cases(dir_.filePath("cases"));
        QVERIFY(cases.open(QIODevice::WriteOnly));
        for (const QString& test : CoreTests())
            cases.write("core " + test.toUtf8() + '\n');
        for (const Pl011Case& c : kPl011Cases)
            cases.write(QByteArray("pl011 ") + c.arguments + '\n');
        for (const MiniCase& c : kMiniCases)
            cases.write(QByteArray("mini ") + c.arguments + '\n');
        for (const RunCase& c : kRunCases)
            cases.write(QByteArray("run ") + c.arguments + '\n');
        cases.close();
        QProcess guest;
        guest.setProcessChannelMode(QProcess::MergedChannels);
        guest.start(QStringLiteral("bash"),
                    {QStringLiteral(QUORLIX_SOURCE_DIR "/tests/emulated/boot-pi"),
                     QStringLiteral(QUORLIX_CROSS_FOLDER), dir_.path(), cases.fileName()});
        QVERIFY(guest.waitForFinished(1150000));
        const QString said = QString::fromLocal8Bit(guest.readAll());
        if (guest.exitCode() == 77) {
            skipped_ = true;
            QSKIP(qPrintable("the emulated Raspberry Pi cannot run here: " + said));
        }
        // What boot-pi said (how long each step took, or why it failed), in full.
        if (!said.isEmpty())
            qInfo().noquote() << said.trimmed();
        QVERIFY2(guest.exitCode() == 0, "boot-pi failed, as it says above");
        Parse();
    }

    // The programs that need no Qt Widgets, built for arm64 and run on the Pi's kernel.
    void coreTestsPassOnArm64_data() {
        QTest::addColumn<QString>("test");
        for (const QString& test : CoreTests())
            QTest::newRow(qPrintable(test)) << test;
    }
    void coreTestsPassOnArm64() {
        QFETCH(QString, test);
        const GuestCase* c = Find("core " + test);
        QVERIFY2(c != nullptr, "the guest did not run it");
        static const QRegularExpression totals(QStringLiteral("^Totals: \\d+ passed, 0 failed"),
                                               QRegularExpression::MultilineOption);
        QVERIFY2(c->status == 0 && totals.match(c->text).hasMatch(), qPrintable(c->text));
    }

    // The program on the PL011 (/dev/ttyAMA0, 48 MHz): the framing its registers were set to,
    // and the rate they run, which the program must have printed (within 0.05 %), set without a
    // custom divisor (the PL011's driver keeps one and ignores it).
    void pl011RunsWhatTheProgramSays_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("framing");
        QTest::addColumn<QString>("failsToday");
        for (const Pl011Case& c : kPl011Cases)
            QTest::newRow(c.name) << c.arguments << c.framing << c.failsToday;
    }
    void pl011RunsWhatTheProgramSays() {
        QFETCH(QString, arguments);
        QFETCH(QString, framing);
        QFETCH(QString, failsToday);
        const GuestCase* c = Find("pl011 " + arguments);
        QVERIFY2(c != nullptr, "the guest did not run it");
        QVERIFY2(c->status == 0 && c->baudBase > 0, qPrintable(c->text));
        const std::optional<Pl011Line> line = DecodedLine(*c);
        QVERIFY2(line.has_value(), qPrintable("no rate was written\n" + c->text));
        const QString registers =
            QStringLiteral("the PL011 runs %4 Bd %5 (IBRD %1 FBRD %2 LCR_H 0x%3)\n")
                .arg(line->ibrd)
                .arg(line->fbrd)
                .arg(line->lcrH, 2, 16, QLatin1Char('0'))
                .arg(line->rate, 0, 'f', 2)
                .arg(line->framing);
        QVERIFY2(line->framing == framing, qPrintable(registers + c->text));
        const std::optional<double> printed = PrintedRate(*c);
        QVERIFY2(printed.has_value(), qPrintable(c->text));
        // Said whatever comes next, for the rows still expected to fail.
        qInfo().noquote() << QStringLiteral("%1 Bd said, ").arg(*printed, 0, 'f', 2) +
                                 registers.trimmed();
        const QByteArray reason = failsToday.toUtf8();
        if (!reason.isEmpty())
            QEXPECT_FAIL("", reason.constData(), Abort);
        QVERIFY2(qAbs(*printed / line->rate - 1) <= 0.0005 && c->customDivisor == 0 &&
                     (c->flags & ASYNC_SPD_MASK) == 0,
                 qPrintable(registers + c->text));
    }

    // The mini UART (/dev/ttyS1) cannot send five- or six-bit words, parity, a longer stop or
    // a rate below its floor: that is refused (status 1) before its driver is asked, which would
    // change the line to what it can, and the termios are as they were.
    void miniUartRefusesWhatItCannotSend_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QString>("failsToday");
        for (const MiniCase& c : kMiniCases)
            QTest::newRow(c.name) << c.arguments << c.says << c.failsToday;
    }
    void miniUartRefusesWhatItCannotSend() {
        QFETCH(QString, arguments);
        QFETCH(QString, says);
        QFETCH(QString, failsToday);
        const GuestCase* c = Find("mini " + arguments);
        QVERIFY2(c != nullptr, "the guest did not run it");
        QVERIFY2(c->status >= 0 && !c->sttyBefore.isEmpty(), qPrintable(c->text));
        qInfo().noquote() << QStringLiteral("status %1, termios %2")
                                 .arg(c->status)
                                 .arg(c->sttyAfter == c->sttyBefore
                                          ? QStringLiteral("unchanged")
                                          : c->sttyBefore + " changed to " + c->sttyAfter);
        const QByteArray reason = failsToday.toUtf8();
        if (!reason.isEmpty())
            QEXPECT_FAIL("", reason.constData(), Abort);
        QVERIFY2(
            c->status == 1 && c->sttyAfter == c->sttyBefore && c->err.join('\n').contains(says),
            qPrintable(c->text));
    }

    // Without I/O ports the direct backend compiles all the same, and refuses at run time.
    void programRefusesWhatThisMachineLacks_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        for (const RunCase& c : kRunCases)
            QTest::newRow(c.name) << c.arguments << c.status << c.says;
    }
    void programRefusesWhatThisMachineLacks() {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, says);
        const GuestCase* c = Find("run " + arguments);
        QVERIFY2(c != nullptr, "the guest did not run it");
        QVERIFY2(c->status == status && c->err.join('\n').contains(says), qPrintable(c->text));
    }
};

// A run that could not boot the guest at all exits with CTest's skip status.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    EmulatedPi test;
    const int failed = QTest::qExec(&test, argc, argv);
    return failed == 0 && test.Skipped() ? 77 : failed;
}
#include "emulated_pi.moc"
