// Kept apart from everything that includes <termios.h>: the kernel's termios2, which carries any baud
// rate as a number, clashes with the C library's declarations.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace veltrane::sim {

// On Linux a pty master answers TCGETS2 with the slave's settings: what the reader has set, less what
// the pty driver takes away. It forces CS8 and drops PARENB, but keeps the input flags and PARODD and
// CMSPAR, so the reader's frame is told from those: a port of seven data bits strips its bytes to seven
// bits (ISTRIP), which is the only place its data bits show, and with seven bits a parity bit is taken
// to be there. Odd, mark and space parity show by their own flags; even parity at eight data bits does
// not, and looks like none, which changes nothing a receiver that does not check parity delivers.
bool readPtyLine(int fd, int* baud, int* dataBits, char* parity, int* stopBits) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    *baud = static_cast<int>(t.c_ospeed);
    const bool sevenBits = (t.c_iflag & ISTRIP) != 0;
    *dataBits = sevenBits ? 7 : 8;
    if (t.c_cflag & CMSPAR)
        *parity = (t.c_cflag & PARODD) ? 'm' : 's';
    else if (t.c_cflag & PARODD)
        *parity = 'o';
    else
        *parity = sevenBits ? 'e' : 'n';
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
