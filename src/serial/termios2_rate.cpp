#include "serial/termios2_rate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace vyo::termios2 {

int SetRate(int fd, unsigned rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  // Output rate in c_ospeed; input rate bits cleared so the input follows
  // the output, and c_ispeed set as well for drivers that read it.
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER;
  tio.c_ospeed = rate;
  tio.c_ispeed = rate;
  if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

int GetRate(int fd, unsigned* rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  *rate = tio.c_ospeed;
  return 0;
}

}  // namespace vyo::termios2
