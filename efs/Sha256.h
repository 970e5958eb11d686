// SHA-256, for binding the slices of a split setup to its first slice. The
// setup program and the command share it, so both hash alike on any host.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum { SHA256_SIZE = 32 };

class CSha256 {
 public:
  CSha256() { Reset(); }
  void Reset();
  void Update(const void* data, size_t size);
  // The digest of everything given since the last Reset; resets.
  void Final(unsigned char digest[SHA256_SIZE]);

 private:
  void Block(const unsigned char* block);

  uint32_t m_State[8];
  uint64_t m_Length;  // bytes so far
  unsigned char m_Buffer[64];
  size_t m_Used;
};
