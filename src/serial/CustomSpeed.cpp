#include "serial/CustomSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int setCustomSpeed(int fd, unsigned rate) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0)
        return -1;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t);
}

int readActualSpeed(int fd, unsigned* inputRate, unsigned* outputRate) {
    struct termios2 t;
    const int result = ioctl(fd, TCGETS2, &t);
    if (result == 0) {
        *inputRate = t.c_ispeed;
        *outputRate = t.c_ospeed;
    }
    return result;
}
