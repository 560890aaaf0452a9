#pragma once

#include "serial/SerialBackend.h"

#include <sys/types.h>
#include <termios.h>

// Each helper owns the flag bits of one concern and sets or clears all of
// them, whatever another program left in the struct.
// No line editing, VMIN 1; line errors and breaks marked when `markErrors`.
void setRawMode(termios& t, bool markErrors);
// Whether a device can have parity, framing or break conditions at all; a
// pseudo-terminal cannot, and marking would only slow its reads down.
bool canHaveLineErrors(dev_t device);
void setDataBits(termios& t, int bits);  // 5..8
void setParity(termios& t, char parity); // n e o m s
void setStopBits(termios& t, bool two);
void setFlowControl(termios& t, int mode); // 0..3
// The Bxxx code for a standard rate; false when the rate has none.
bool standardSpeedCode(int rate, speed_t& code);

// The rate an integer divisor of the UART's clock (baud_base) really makes
// of the requested one; the request itself when the clock is unknown (0).
int divisorRate(int baudBase, int requested);
// Both ends of a UART link tolerate a few percent between their rates.
bool rateWithinTolerance(int requested, int actual);

// Everything but the speed, as the struct says.
LineConfig configFromTermios(const termios& t, int speed);
