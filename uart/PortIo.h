// SPDX-License-Identifier: GPL-3.0-or-later
// The one seam between this program and the hardware: a byte out to an I/O address and a
// byte in from one. Every register access goes through the backend installed here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "uart/Framing.h"
#include "uart/LineOutcome.h"

namespace uart {

// What one look at a UART finds, without disturbing it: the line control and modem control
// registers as they stand, and the bit rate where the backend can see it.
struct LineState {
    std::uint8_t lineControl = 0;
    std::uint8_t modemControl = 0;
    // The rate the line runs at. The I/O ports cannot show it: the divisor sits behind the latch,
    // and opening the latch would take the driver's received data register away from it.
    std::optional<double> rate;
};

struct LineLook;
struct LineControlLook;

class PortIo {
  public:
    virtual ~PortIo() = default;
    virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t In(std::uint16_t port) = 0;

    // Where the UART is and how it is reached, e.g. "0x2F8 · I/O ports".
    virtual std::string Label(std::int32_t base) const;
    // Whether the hardware behind the backend can send `framing`: failed, with why, where it
    // cannot (a USB adapter's chip that has no five-bit words); nothing said where it can or
    // that cannot be told.
    virtual LineOutcome CannotSend(const Framing&) const { return {}; }

    // One look at the UART at `base`: here two reads, the line control and the modem control
    // register. Nothing when the look failed (here: no UART answers at `base`); LookAtLine says
    // why.
    virtual std::optional<LineState> ReadLineState(std::int32_t base);
    // Whether ReadLineState shows the rate the line runs at.
    virtual bool LookShowsRate() const { return false; }
    // What becomes of DTR and RTS once this program lets the port go: empty when they stay as
    // they are, otherwise why they may not.
    virtual std::string ModemLinesAtExit() { return {}; }

    // Called once a change is complete and the process takes signals again: what a backend
    // kept back while the latch was open (a trace) may go out now, and wait for its reader.
    virtual void ChangeDone() {}

    // What names the UART at `base` for one hold at a time across processes: its I/O address
    // ("0x2F8"), else the device's number ("188:0"); empty where no other process reaches it.
    virtual std::string HoldKey(std::int32_t base);

    // Whether an address may have no UART behind it, so that a look must first ask whether one
    // answers: true of the I/O ports; a device the driver opened is there.
    virtual bool MayFindNoUart() const { return true; }

    // Whether `modemControl`, read from the UART at `base`, shows an empty bus (IsEmptyBus);
    // then says that no UART answers there, as a failure.
    bool NoUartAnswers(std::int32_t base, std::uint8_t modemControl);

  protected:
    // Adds `text` to the notice of what is said next ("; " between), and with `failure` marks
    // the change or look as failed.
    void Say(std::string text, bool failure = false);
    // Adds a whole outcome: a refusal with what would serve instead.
    void Say(LineOutcome said);
    // What the backend has said since it was last taken (a setting the hardware could not take
    // exactly, an error), once. A backend with more to say (the rate a line runs at) adds it.
    virtual LineOutcome TakeOutcome();
    // The same of another backend: of one that this one wraps.
    static LineOutcome TakeOutcomeOf(PortIo& io) { return io.TakeOutcome(); }

  private:
    // What is said is taken only by the operations that apply a line or look at it, each of
    // which returns it (LineSettings.h): no caller has to remember to ask.
    friend LineOutcome ApplyLine(std::int32_t portBase, double rate);
    friend LineOutcome ApplyModemLine(std::uint8_t mask, bool on);
    friend LineLook LookAtLine(PortIo& io, std::int32_t base);
    friend LineOutcome LookForUart(PortIo& io, std::int32_t base);
    friend LineControlLook LookAtLineControl(PortIo& io, std::int32_t base);

    LineOutcome said_;
};

// Whether a modem control register reading shows a bus with nothing on it: an 8250, 16450 or
// 16550 reads the register's top three bits as 0 (a 16750 its bit 5 at most), an empty bus
// reads 0xFF. The one test for a missing UART: every read that looks for one reads this
// register.
bool IsEmptyBus(std::uint8_t modemControl);

// "0x2F8 · kind".
std::string PortLabel(std::int32_t base, const char* kind);

// The backend that ProgramUart and SetModemLine use. It is chosen once at start-up; until
// then a backend that touches nothing is in place, so a stray access can never reach a port
// the user did not choose.
PortIo& ThePortIo();

// Installs `io` (not owned; it must outlive its use) and returns the previous backend.
// Passing nullptr puts the inert backend back.
PortIo* InstallPortIo(PortIo* io);

// Installs a backend for the lifetime of a scope, then restores the previous one.
class ScopedPortIo {
  public:
    explicit ScopedPortIo(PortIo& io) : previous_(InstallPortIo(&io)) {}
    ~ScopedPortIo() { InstallPortIo(previous_); }
    ScopedPortIo(const ScopedPortIo&) = delete;
    ScopedPortIo& operator=(const ScopedPortIo&) = delete;

  private:
    PortIo* previous_;
};

}  // namespace uart
