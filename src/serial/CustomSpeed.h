#pragma once

// Rates without a Bxxx constant go through termios2/BOTHER. Kept apart from
// <termios.h>: the kernel's and glibc's struct termios cannot meet in one file.
// Both return the ioctl's result (-1 with errno set on failure).
int setCustomSpeed(int fd, unsigned rate);
int readActualSpeed(int fd, unsigned* inputRate, unsigned* outputRate);
