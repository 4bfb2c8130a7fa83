// Arbitrary line rates through the kernel's termios2 interface. Its
// declarations clash with the C library's <termios.h>, so they stay in
// termios2_rate.cpp and nothing else includes them.
#pragma once

namespace vyo::termios2 {

// Sets the input and output rate of the terminal `fd` to `rate` bits per
// second, leaving every other setting as it is. Returns 0 or an errno value.
int SetRate(int fd, unsigned rate);

// Reads back the output rate the driver settled on. Returns 0 or an errno value.
int GetRate(int fd, unsigned* rate);

}  // namespace vyo::termios2
