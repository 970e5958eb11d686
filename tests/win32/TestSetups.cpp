#include "TestSetups.h"

#include <windows.h>

#include "efs/EfsFormat.h"

std::string BuildTestSetup(const TempFolder& dir, const char* name,
                           const std::vector<std::pair<std::string, std::string>>& files) {
  WriteWholeFile(dir.File("stub.exe"), std::string(3000, 'S'));
  std::vector<SetupSource> sources;
  for (auto& f : files) sources.push_back({f.first, f.second, sources.size() % 2 == 1});
  const std::string out = dir.File(name);
  BuildSetupOf(dir.File("stub.exe"), dir.File("src"), sources, out);
  return out;
}
