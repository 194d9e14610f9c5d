// SPDX-License-Identifier: GPL-3.0-or-later
// A UART reached through the Linux serial driver instead of its I/O ports. It keeps the image of
// a 16550's registers and turns each completed change into the driver's own terms: a closed
// divisor latch into a custom divisor (or the nearest whole rate), the line control byte into
// termios, the modem control register into the modem-line calls. Behind a chip whose arithmetic
// or limits are known (a USB adapter's, the Raspberry Pi's PL011 and mini UART), a line the chip
// cannot send is refused before the driver is asked, and the rate said is the one the chip runs,
// not the driver's echo of the request. A change that fails leaves the line as it found it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "serial/SerialDriver.h"
#include "uart/PortIo.h"
#include "uart/RegisterImage.h"
#include "usb/ChipModel.h"

namespace serial {

class DriverPortIo final : public uart::PortIo {
  public:
    // `base` is the address the program's writes name; `device` names the port in messages;
    // `chip` is the port's chip, where ChipOf knows one; the Raspberry Pi's UARTs are asked for
    // their clock here, once.
    DriverPortIo(std::uint16_t base, std::string device, std::unique_ptr<SerialDriver> driver,
                 std::optional<usb::Chip> chip = std::nullopt);

    void Out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t In(std::uint16_t port) override;
    std::string Label(std::int32_t base) const override;
    uart::LineOutcome CannotSend(const uart::Framing& framing) const override;
    // Three calls: the termios, the serial settings (for a custom divisor) and the modem lines.
    std::optional<uart::LineState> ReadLineState(std::int32_t base) override;
    bool LookShowsRate() const override { return true; }
    // When the terminal hangs up on the last close (HUPCL), unless another program is seen
    // holding the device open.
    std::string ModemLinesAtExit() override;
    // The UART's I/O address where the driver tells it and the port is not on USB (the 8250
    // family), else the device's number: a hold over the I/O ports and one through the driver
    // meet at the same address.
    std::string HoldKey(std::int32_t base) override;
    // The driver opened the device: there is a port, whether or not it has modem lines.
    bool MayFindNoUart() const override { return false; }

  private:
    // What was said, with the rate the line runs at in place of the last divisor's own, when the
    // driver could not take the divisor (its nearest whole rate, a USB adapter's chip).
    uart::LineOutcome TakeOutcome() override;
    void SetModemLines(std::uint8_t modemControl);
    std::uint8_t LineControlFromDriver();
    std::uint8_t ModemLinesFromDriver(uart::Reg reg);
    // The image's line, once the latch closes, in the driver's terms: with its divisor where
    // one was written since the last change (`divisorChanged`).
    void SetDriverLine(bool divisorChanged);
    // Behind a chip that divides its own clock (a USB adapter's, the PL011) or one not known:
    // the driver is asked for the whole rate.
    void SetChipLine(const usb::Chip& chip, const uart::Framing& framing,
                     std::optional<std::uint16_t> divisor);
    // Behind the 8250 driver (the mini UART's too, once its limits allow the line): the divisor
    // as a custom divisor, else the nearest whole rate.
    void Set8250Line(const uart::Framing& framing, std::optional<std::uint16_t> divisor);
    // The serial settings (where the custom divisor lives) as one change found them, and whether
    // it wrote them: a change the driver then refuses puts them back, and leaves no trace.
    struct SerialChange {
        std::optional<serial_struct> found;
        bool written = false;
    };
    // The driver's termios as `found`, and as `wanted` with `framing` in place; false, said,
    // when they cannot be read.
    bool TermiosWith(const uart::Framing& framing, termios2& found, termios2& wanted);
    // Sets `wanted`, reads it back into `kept` and says what the driver ignored. False, said,
    // when the driver refused it or ignored part of it (the termios `found` and the serial
    // settings of `change` are then put back) or it cannot be read again.
    bool SendTermios(const termios2& wanted, const termios2& found, const SerialChange& change,
                     termios2& kept);
    // The driver set `set` for the whole rate `requested` asked in place of `asked` (`why`):
    // said, with `source` as who sets it. More than the tolerance off `asked`, a failure whose
    // change is put back: false.
    bool TakeOtherRate(speed_t set, speed_t requested, double asked, const termios2& found,
                       const SerialChange& change, const std::string& why, const char* source);
    // Puts back the termios and serial settings a failed change found.
    void PutBack(const termios2& found, const SerialChange& change);
    bool ApplyCustomDivisor(std::uint16_t divisor, SerialChange& change, std::string& why);
    void ClearCustomDivisor(SerialChange& change);
    void PutBackSerial(const SerialChange& change);
    // Marks the device as gone when `error` means that it is.
    void MarkGoneOn(int error);
    // Says that `what` failed with `error`, or that the device is gone (then with `whenGone`).
    void SayFailed(int error, const std::string& what, const char* whenGone = "");

    uart::RegisterImage image_;  // its modem control as last read or written
    std::string device_;
    std::unique_ptr<SerialDriver> driver_;
    bool divisorWritten_ = false;
    std::optional<usb::Chip> chip_;
    std::optional<uart::RunningRate> runningRate_;
    bool gone_ = false;
    bool pinsSaid_ = false;  // that a modem line reaches no pin here
};

}  // namespace serial
