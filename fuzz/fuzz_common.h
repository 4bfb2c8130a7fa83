// Shared by the fuzz targets: a reader that turns the fuzzer's
// bytes into choices, and a check that stops the run with a message when an
// invariant does not hold (libFuzzer saves the input that got there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vyo::fuzz {

[[noreturn]] inline void Violated(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: invariant violated: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) ::vyo::fuzz::Violated(__FILE__, __LINE__, #cond); \
  } while (0)

// Reads the input front to back; past its end every read gives zeros, so
// any input is a complete script.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}

  bool Empty() const { return n_ == 0; }
  size_t Remaining() const { return n_; }

  uint8_t Byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint16_t U16() { return uint16_t((uint16_t(Byte()) << 8) | Byte()); }
  uint32_t U32() { return (uint32_t(U16()) << 16) | U16(); }
  bool Flag() { return Byte() & 1; }

  std::vector<uint8_t> Take(size_t k) {
    if (k > n_) k = n_;
    std::vector<uint8_t> out(p_, p_ + k);
    p_ += k;
    n_ -= k;
    return out;
  }

 private:
  const uint8_t* p_;
  size_t n_;
};

}  // namespace vyo::fuzz
