// Kept apart from everything that includes <termios.h>: the kernel's termios2, which carries any baud
// rate as a number, clashes with the C library's declarations.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace veltrane::sim {

// On Linux a pty master answers TCGETS2 with the slave's settings: what the reader has set.
bool readPtyLine(int fd, int* baud, int* dataBits, char* parity, int* stopBits) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    *baud = static_cast<int>(t.c_ospeed);
    switch (t.c_cflag & CSIZE) {
        case CS5:
            *dataBits = 5;
            break;
        case CS6:
            *dataBits = 6;
            break;
        case CS7:
            *dataBits = 7;
            break;
        default:
            *dataBits = 8;
            break;
    }
    *parity = !(t.c_cflag & PARENB) ? 'n' : (t.c_cflag & PARODD) ? 'o' : 'e';
    *stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return true;
}

// Sets the held slave descriptor to the indicator's own speed and stop bits.
bool writePtyLine(int fd, int baud, int stopBits) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~(CBAUD | CSTOPB);
    t.c_cflag |= BOTHER;
    if (stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace veltrane::sim
