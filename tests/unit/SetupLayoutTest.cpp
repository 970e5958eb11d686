// Where a setup file ends: signed and unsigned, whole and cut short, and
// programs that are no setup file at all.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "../FakeSignature.h"
#include "efs/EfsFormat.h"
#include "efs/PeImage.h"
#include "efs/SetupLayout.h"
#include "LayoutReader.h"

namespace {

std::string Sig(const unsigned char* s) { return std::string(reinterpret_cast<const char*>(s), 16); }

void Put32(std::string& b, size_t at, uint32_t v) {
  unsigned char le[4];
  EfsWriteU32(le, v);
  b.replace(at, 4, reinterpret_cast<const char*>(le), 4);
}

std::string Program(uint32_t rawSize = 0x600, uint32_t zeros = 0) { return MinimalProgram(rawSize, zeros); }

// Stands in for a container: bytes, then the installer signature.
std::string Container(size_t size = 1000) { return std::string(size - 16, 'c') + Sig(InstallerSignature); }

// the layout never asks for bytes the file does not have
SetupLayout StrictLayout(const std::string& file) { return Layout(file, true); }

std::string Signed(std::string file, uint32_t table = 1512) {
  EXPECT_TRUE(AppendFakeCertificate(file, table));
  return file;
}

TEST(SetupLayout, TheSignatureAtTheLogicalEndTellsTheKind) {
  const std::string program = Program();
  const uint64_t p = program.size();
  struct Case {
    const char* what;
    std::string file;
    SetupTail tail;
    uint64_t end;
    uint64_t certificate;
    int damaged;
  } cases[] = {
      {"bare program: a first slice", program, SETUP_TAIL_NONE, p, 0, 0},
      {"installer", program + Container(), SETUP_TAIL_INSTALLER, p + 1000, 0, 0},
      {"uninstaller", program + Sig(UninstallerSignature), SETUP_TAIL_UNINSTALLER, p + 16, 0, 0},
      {"signed installer", Signed(program + Container(1000)), SETUP_TAIL_INSTALLER, p + 1000, 1512, 0},
      {"signed bare program", Signed(program), SETUP_TAIL_NONE, p, 1512, 0},
      {"signed uninstaller", Signed(program + Sig(UninstallerSignature), 8), SETUP_TAIL_UNINSTALLER, p + 16, 8, 0},
      // cut short, with or without a signature before
      {"installer cut in its data", (program + Container()).substr(0, p + 500), SETUP_TAIL_NONE, p + 500, 0, 1},
      {"installer cut in its trailer", (program + Container()).substr(0, p + 990), SETUP_TAIL_NONE, p + 990, 0, 1},
      {"signed installer cut in its table", Signed(program + Container()).substr(0, p + 1000 + 700), SETUP_TAIL_NONE,
       p + 1700, 0, 1},
      {"signed installer cut before its table", Signed(program + Container()).substr(0, p + 600), SETUP_TAIL_NONE,
       p + 600, 0, 1},
      {"signed bare program cut in its table", Signed(program).substr(0, p + 100), SETUP_TAIL_NONE, p + 100, 0, 1},
      {"program cut in its own section", program.substr(0, p - 100), SETUP_TAIL_NONE, p - 100, 0, 1},
      {"program with a byte behind it", program + "x", SETUP_TAIL_NONE, p + 1, 0, 1},
      // no program whose extent we know: only the signature speaks
      {"not a program", std::string(5000, 'M'), SETUP_TAIL_NONE, 5000, 0, 0},
      {"not a program, installer", std::string(5000, 'M') + Sig(InstallerSignature), SETUP_TAIL_INSTALLER, 5016, 0, 0},
      {"shorter than a signature", std::string(15, 'M'), SETUP_TAIL_NONE, 15, 0, 0},
      {"empty", std::string(), SETUP_TAIL_NONE, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetupLayout l = StrictLayout(c.file);
    EXPECT_EQ(c.file.size(), l.FileSize);
    EXPECT_EQ(c.tail, l.Tail);
    EXPECT_EQ(c.end, l.End);
    EXPECT_EQ(c.certificate, l.CertificateSize);
    EXPECT_EQ(c.damaged, l.Damaged);
  }
  EXPECT_EQ(p, StrictLayout(program + Container()).ProgramEnd);
  EXPECT_EQ(0u, StrictLayout(std::string(5000, 'M')).ProgramEnd);
}

TEST(SetupLayout, TheZeroPaddingBeforeTheTableIsNoPartOfTheFile) {
  const std::string program = Program();
  // every remainder of the container's size: signing pads with 0 to 7 zeros
  for (size_t size = 1000; size < 1008; ++size) {
    SCOPED_TRACE(size);
    std::string file = Signed(program + Container(size));
    SetupLayout l = StrictLayout(file);
    EXPECT_EQ(SETUP_TAIL_INSTALLER, l.Tail);
    EXPECT_EQ(program.size() + size, l.End);
    EXPECT_EQ(0, l.Damaged);
    // cut inside the padding, the table is gone: damaged
    if (size % 8) {
      EXPECT_EQ(1, StrictLayout(file.substr(0, program.size() + size + 1)).Damaged);
    }
  }
  // a program of odd length ending in zeros, signed: still exactly the program
  const std::string odd = Program(0x5FD, 40);
  SetupLayout l = StrictLayout(Signed(odd));
  EXPECT_EQ(SETUP_TAIL_NONE, l.Tail);
  EXPECT_EQ(odd.size(), l.End);
  EXPECT_EQ(0, l.Damaged);
  // only zeros are padding: a byte of data there is a damaged file
  std::string bad = Signed(program + Container(1003));
  bad[program.size() + 1003] = 'x';
  EXPECT_EQ(1, StrictLayout(bad).Damaged);
  // and no signing tool pads with 8: a signature ending on an 8-byte
  // boundary, then eight zeros before the table, is a damaged file
  const size_t aligned = 1000 + (8 - (program.size() + 1000) % 8) % 8;
  for (const std::string& front : {program + Container(aligned), program + Container(aligned + 8)}) {
    ASSERT_EQ(0u, front.size() % 8);
    std::string file = front + std::string(8, '\0');
    const size_t table = file.size();
    ASSERT_TRUE(AppendFakeCertificate(file, 512));
    ASSERT_EQ(table + 512, file.size()) << "the table follows the eight zeros directly";
    l = StrictLayout(file);
    EXPECT_EQ(SETUP_TAIL_NONE, l.Tail);
    EXPECT_EQ(1, l.Damaged);
    EXPECT_EQ(FILEKIND_DAMAGED, SetupKindOf(l));
  }
}

TEST(SetupLayout, OnlyATableThatEndsTheFileCounts) {
  const std::string program = Program();
  const std::string file = program + Container();
  auto withEntry = [&](uint32_t address, uint32_t size) {
    std::string f = file;
    PeHeaders h;
    EXPECT_TRUE(ReadPeHeaders(reinterpret_cast<const unsigned char*>(f.data()), f.size(), &h));
    Put32(f, h.DirectoriesOffset + 8 * PE_DIRECTORY_SECURITY, address);
    Put32(f, h.DirectoriesOffset + 8 * PE_DIRECTORY_SECURITY + 4, size);
    return f;
  };
  const uint32_t e = static_cast<uint32_t>(file.size());
  struct Case { const char* what; uint32_t address, size; } cases[] = {
      {"beyond the end", e, 800},
      {"past the end", e - 8, 800},
      {"short of the end", e - 800, 400},
      {"inside the program", 0x100, e - 0x100},
      {"no size", e, 0},
      {"no address", 0, e},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetupLayout l = StrictLayout(withEntry(c.address, c.size));
    EXPECT_EQ(file.size(), l.End);
    EXPECT_EQ(0u, l.CertificateSize);
    EXPECT_EQ(SETUP_TAIL_INSTALLER, l.Tail);
  }
}

TEST(SetupLayout, CoffSymbolsOfAnUnstrippedProgramArePartOfIt) {
  std::string program = Program();
  const uint32_t symbols = static_cast<uint32_t>(program.size());
  Put32(program, 0x80 + 12, symbols);
  Put32(program, 0x80 + 16, 3);
  program += std::string(3 * PE_SYMBOL_SIZE, 's');
  std::string strings(40, 't');
  Put32(strings, 0, 40);  // the string table counts its own size field
  program += strings;
  SetupLayout l = StrictLayout(program);
  EXPECT_EQ(program.size(), l.ProgramEnd);
  EXPECT_EQ(0, l.Damaged);
  EXPECT_EQ(SETUP_TAIL_INSTALLER, StrictLayout(program + Container()).Tail);
  EXPECT_EQ(1, StrictLayout(program.substr(0, program.size() - 10)).Damaged);
}

TEST(SetupLayout, AFailedReadIsReported) {
  const std::string file = Signed(Program() + Container());
  for (uint64_t at : {uint64_t(0), uint64_t(0x90), uint64_t(file.size() - 1512 - 1)}) {
    StringReader reader(file, true);
    reader.FailAt = at;
    SetupLayout l;
    EXPECT_FALSE(ReadSetupLayout(reader, file.size(), &l)) << at;
  }
}

TEST(PeImage, ClearingTheSignatureLeavesAnUnsignedProgram) {
  const std::string program = Program();
  std::string headers = Signed(program + Container());
  Put32(headers, 0x98 + 64, 0x1234567);  // a checksum, as signing tools set it
  headers.resize(program.size());
  ASSERT_TRUE(PeClearSignature(reinterpret_cast<unsigned char*>(&headers[0]), headers.size()));
  EXPECT_TRUE(headers == program) << "only the security entry and the checksum change";
  SetupLayout l = StrictLayout(headers + Sig(UninstallerSignature));
  EXPECT_EQ(SETUP_TAIL_UNINSTALLER, l.Tail);
  EXPECT_EQ(0u, l.CertificateSize);

  // unsigned, its checksum is its own and stays
  std::string checked = program;
  Put32(checked, 0x98 + 64, 0x2ED43);
  const std::string before = checked;
  ASSERT_TRUE(PeClearSignature(reinterpret_cast<unsigned char*>(&checked[0]), checked.size()));
  EXPECT_TRUE(checked == before);

  std::string notProgram(600, 'M');
  EXPECT_FALSE(PeClearSignature(reinterpret_cast<unsigned char*>(&notProgram[0]), notProgram.size()));
  EXPECT_EQ(std::string(600, 'M'), notProgram);
}

}  // namespace
