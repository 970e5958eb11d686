// The vendor's identity from the script, on a copy of the setup program.
#include <errno.h>
#include <stdio.h>

#include "cli/Branding.h"
#include "cli/Commands.h"
#include "cli/Platform.h"
#include "cli/Project.h"
#include "cli/Resources.h"

namespace {

bool ReadFile(const std::string& path, std::string* bytes, int* error) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    *error = errno;
    return false;
  }
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
  *error = ferror(f) ? EIO : 0;
  fclose(f);
  return !*error;
}

}  // namespace

bool BrandedProgram(const CProject& project, const std::string& stub, std::vector<Diagnostic>* problems,
                    std::vector<std::string>* errors, std::string* image) {
  int iconLine, publisherLine, versionLine;
  const std::string icon = project.Identity("SetupIcon", &iconLine);
  SetupIdentity identity;
  identity.ProductName = project.ApplicationName();
  identity.Publisher = project.Identity("Publisher", &publisherLine);
  identity.Version = project.Identity("Version", &versionLine);
  if (!iconLine && !publisherLine && !versionLine) return false;
  bool ok = true;
  if (!icon.empty()) {
    std::string bytes;
    int error = 0;
    if (PlatformIsDirectory(icon.c_str()))
      error = EISDIR;
    else if (ReadFile(icon, &bytes, &error)) {
      const std::string why = ReadIconFile(bytes, &identity.Icon);
      if (!why.empty()) problems->push_back({iconLine, 0, "SetupIcon " + icon + ": " + why});
      ok = why.empty();
    }
    if (error) {
      problems->push_back({iconLine, 0, "SetupIcon: cannot read " + icon + ": " + PlatformErrorText(error)});
      ok = false;
    }
  } else if (iconLine) {
    ok = false;  // named empty by the script's checks
  }
  uint16_t numbers[4];
  if (versionLine && !ParseFileVersion(identity.Version, numbers))
    problems->push_back({versionLine, 1,
                         "Version " + identity.Version + ": the setup file's properties take numbers up to 65535, and show " +
                             std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                             std::to_string(numbers[2]) + "." + std::to_string(numbers[3])});
  if (!ok || stub.empty()) return false;
  int error = 0;
  if (!ReadFile(stub, image, &error)) return false;  // the builder names it
  const std::string why = BrandProgram(image, identity);
  if (!why.empty()) {
    errors->push_back("the setup program " + stub + " cannot carry SetupIcon, Publisher and Version: " + why);
    return false;
  }
  return true;
}
