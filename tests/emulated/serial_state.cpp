// SPDX-License-Identifier: GPL-3.0-or-later
// Runs inside the emulated Raspberry Pi, where busybox has no setserial: says what the serial
// driver keeps for a port beside its termios, and puts a custom speed back to normal between
// cases.
//
//   quorlix_serial_state show DEVICE     type, baud_base, flags and custom_divisor (TIOCGSERIAL)
//   quorlix_serial_state normal DEVICE   no custom speed, no custom divisor (TIOCSSERIAL)
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "show") != 0 && std::strcmp(argv[1], "normal") != 0)) {
        std::fputs("usage: quorlix_serial_state show|normal DEVICE\n", stderr);
        return 2;
    }
    const int fd = open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK);
    serial_struct serial{};
    if (fd < 0 || ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    if (std::strcmp(argv[1], "normal") == 0) {
        serial.flags &= ~ASYNC_SPD_MASK;
        serial.custom_divisor = 0;
        if (ioctl(fd, TIOCSSERIAL, &serial) != 0) {
            std::perror(argv[2]);
            return 1;
        }
        return 0;
    }
    std::printf("serial: type %d baud_base %d flags 0x%x custom_divisor %d\n", serial.type,
                serial.baud_base, serial.flags, serial.custom_divisor);
    return 0;
}
