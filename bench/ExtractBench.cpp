// Extraction throughput of the setup program's reader under Wine, beside a
// bare inflate of the same stored bytes by the program's decoder and by
// zlib, and the peak working set for a small and a large entry. Prints
// figures; asserts nothing.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "efs/EFSBuilder.h"
#include "efs/ExeFileSystem.h"
#include "efs/Inflate.h"

static double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return (double)c.QuadPart / f.QuadPart;
}

static void WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD put;
  WriteFile(h, bytes.data(), (DWORD)bytes.size(), &put, NULL);
  CloseHandle(h);
}

// Text-like content that deflates about as well as program files do.
static std::string Content(size_t n, unsigned seed) {
  std::string s;
  s.reserve(n);
  unsigned x = seed * 2654435761u + 1;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += "record " + std::to_string(x % 100000) + " value " + std::to_string((x >> 8) % 977) + "\r\n";
  }
  s.resize(n);
  return s;
}

static SIZE_T PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  return pmc.PeakWorkingSetSize;
}

static double BareInflate(const char* setup, DWORD offset, DWORD size) {
  HANDLE h = CreateFileA(setup, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  SetFilePointer(h, (LONG)offset, NULL, FILE_BEGIN);
  static unsigned char in[32768], out[65536];
  z_stream z = {};
  inflateInit(&z);
  double t0 = Now();
  DWORD left = size;
  int rc = Z_OK;
  while (rc != Z_STREAM_END && (left || z.avail_in)) {
    if (!z.avail_in) {
      DWORD got = 0;
      ReadFile(h, in, left < sizeof in ? left : sizeof in, &got, NULL);
      left -= got;
      z.next_in = in;
      z.avail_in = got;
    }
    z.next_out = out;
    z.avail_out = sizeof out;
    rc = inflate(&z, Z_SYNC_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
  }
  double t = Now() - t0;
  inflateEnd(&z);
  CloseHandle(h);
  return t;
}

// The program's decoder alone: reads as the reader does, output dropped.
class BareIo : public IEfsInflateIo {
 public:
  BareIo(HANDLE h, DWORD left) : m_File(h), m_Left(left) {}
  long Fill(const unsigned char** data) override {
    DWORD got = 0;
    if (m_Left && !ReadFile(m_File, m_In, m_Left < sizeof m_In ? m_Left : sizeof m_In, &got, NULL)) return -1;
    m_Left -= got;
    *data = m_In;
    return (long)got;
  }
  int Flush(const unsigned char*, uint32_t) override { return 1; }

 private:
  HANDLE m_File;
  DWORD m_Left;
  unsigned char m_In[32768];
};

static double BareOwnInflate(const char* setup, DWORD offset, DWORD size, EfsInflateResult* result) {
  HANDLE h = CreateFileA(setup, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  SetFilePointer(h, (LONG)offset, NULL, FILE_BEGIN);
  std::vector<unsigned char> buffer(EFS_INFLATE_BUFFER_SIZE);
  BareIo io(h, size);
  double t0 = Now();
  *result = EfsInflate(io, buffer.data());
  double t = Now() - t0;
  CloseHandle(h);
  return t;
}

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : ".";
  std::string stub = argc > 2 ? argv[2] : "quillset-stub.exe";
  CreateDirectoryA(dir.c_str(), NULL);
  std::string src = dir + "\\src";
  CreateDirectoryA(src.c_str(), NULL);

  // one large entry, and a small one for the working-set comparison
  {
    // written in pieces, so that the bench's own memory does not hide the reader's
    HANDLE h = CreateFileA((src + "\\large.bin").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    for (unsigned i = 0; i < 200; ++i) {
      std::string piece = Content(1u << 20, i + 10);
      DWORD put;
      WriteFile(h, piece.data(), (DWORD)piece.size(), &put, NULL);
    }
    CloseHandle(h);
  }
  WriteFileBytes(src + "\\small.bin", Content(1u << 20, 2));
  CEFSBuilder big;
  big.SetStubFile(stub.c_str());
  big.AddFile((src + "\\large.bin").c_str(), 1);
  big.AddFile((src + "\\small.bin").c_str(), 1);
  std::string bigSetup = dir + "\\large-setup.exe";
  big.Build(bigSetup.c_str(), NULL, InstallerSignature);
  DeleteFileA((src + "\\large.bin").c_str());

  CExeFileSystem efs;
  efs.Open(bigSetup.c_str());
  double t0 = Now();
  efs.ExtractFile("small.bin", (dir + "\\out-small.bin").c_str(), 1, NULL, 500);
  SIZE_T peakSmall = PeakWorkingSet();
  t0 = Now();
  efs.ExtractFile("large.bin", (dir + "\\out-large.bin").c_str(), 1, NULL, 500);
  double tExtract = Now() - t0;
  SIZE_T peakLarge = PeakWorkingSet();
  const EFSENTRY* e = efs.FindEntry("large.bin");
  double tBare = BareInflate(bigSetup.c_str(), e->DataOffset, e->StoredSize);
  EfsInflateResult own;
  double tOwn = BareOwnInflate(bigSetup.c_str(), e->DataOffset, e->StoredSize, &own);
  printf("extract 200 MiB entry: %.1f MB/s (bare inflate of the same bytes: the program's decoder %.1f MB/s%s, "
         "zlib %.1f MB/s)\n",
         200.0 * 1.048576 / tExtract, 200.0 * 1.048576 / tOwn, own == EFS_INFLATE_OK ? "" : " FAILED",
         200.0 * 1.048576 / tBare);
  printf("peak working set after 1 MiB entry: %.1f MiB, after 200 MiB entry: %.1f MiB (difference %.2f MiB)\n",
         peakSmall / 1048576.0, peakLarge / 1048576.0, (peakLarge - peakSmall) / 1048576.0);
  DeleteFileA((dir + "\\out-large.bin").c_str());
  efs.Close();  // it holds the file while open
  DeleteFileA(bigSetup.c_str());

  // 2000 files of 1-8 KiB
  CEFSBuilder many;
  many.SetStubFile(stub.c_str());
  unsigned long long bytes = 0;
  for (int i = 0; i < 2000; ++i) {
    std::string name = src + "\\f" + std::to_string(i) + ".txt";
    size_t n = 1024 + (i * 7919) % 7169;
    bytes += n;
    WriteFileBytes(name, Content(n, i));
    many.AddFile(name.c_str(), 1);
  }
  std::string manySetup = dir + "\\many-setup.exe";
  many.Build(manySetup.c_str(), NULL, InstallerSignature);
  CExeFileSystem m;
  m.Open(manySetup.c_str());
  std::string out = dir + "\\out";
  CreateDirectoryA(out.c_str(), NULL);
  t0 = Now();
  for (DWORD i = 0; i < m.GetCount(); ++i)
    m.ExtractFile(m.GetName((int)i), (out + "\\" + m.GetName((int)i)).c_str(), 1, NULL, 500);
  double tMany = Now() - t0;
  printf("extract 2000 files of 1-8 KiB: %.2f s, %.0f files/s, %.1f MB/s\n", tMany, 2000 / tMany,
         bytes / 1e6 / tMany);
  return 0;
}
