// SPDX-License-Identifier: GPL-3.0-or-later
// Real port instructions (x86 `in`/`out`) on Linux, after the kernel has granted this thread
// the UART's eight addresses with ioperm.
#pragma once

#include <memory>
#include <string>

#include "uart/PortIo.h"

namespace uart {

// ioperm's signature, so that tests can stand in for the kernel.
using IopermFunction = int (*)(unsigned long from, unsigned long num, int turnOn);

class DirectPortIo final : public PortIo {
  public:
    // Asks for base..base+7 and nothing else (never iopl), on the calling thread, which must
    // be the one that makes every access. On refusal returns null, and `opened` fails with
    // the address range and the system's reason (its last line without an end, for what to do
    // to follow where the command line is known) and the errno value; no port has been
    // touched.
    static std::unique_ptr<DirectPortIo> Acquire(std::uint16_t base, LineOutcome& opened,
                                                 IopermFunction ioperm = nullptr);

    void Out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t In(std::uint16_t port) override;

  private:
    DirectPortIo() = default;
};

}  // namespace uart
