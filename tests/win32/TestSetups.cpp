#include "TestSetups.h"

#include <windows.h>

#include "efs/EFSBuilder.h"
#include "efs/EfsFormat.h"

std::string BuildTestSetup(const TempFolder& dir, const char* name,
                           const std::vector<std::pair<std::string, std::string>>& files) {
  WriteWholeFile(dir.File("stub.exe"), std::string(3000, 'S'));
  CEFSBuilder b;
  b.SetStubFile(dir.File("stub.exe").c_str());
  CreateDirectoryA(dir.File("src").c_str(), NULL);
  int i = 0;
  for (auto& f : files) {
    const std::string src = dir.File(("src\\" + f.first).c_str());
    WriteWholeFile(src, f.second);
    b.AddFile(src.c_str(), i++ % 2 == 0);
  }
  const std::string out = dir.File(name);
  b.Build(out.c_str(), nullptr, InstallerSignature);
  return out;
}
