// quillset manifest SETUP: the three winget manifests (version, default
// locale, installer) of a setup file. Every value comes from the file: its
// stored script, its setup program and its bytes; only what the file cannot
// know (the package's id, where it is downloaded, its licence) is given.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "cli/SetupFile.h"
#include "common/Mbcs.h"
#include "driver/CommandLine.h"
#include "efs/Sha256.h"
#include "script/FileParser.h"

namespace {

const char kManifestVersion[] = "1.12.0";
const char kLocale[] = "en-US";
// The setup program's own switches (docs/quillset.md, "Installing without a
// person"). winget puts InstallLocation last, which /D= must be; the log
// path may hold blanks, so its token is quoted.
const char kSilent[] = "/S";
const char kSilentWithProgress[] = "/PASSIVE";
const char kInstallLocation[] = "/D=<INSTALLPATH>";
const char kLog[] = "/LOG=\"<LOGPATH>\"";
// The entry's DisplayName is the application's name cut to this many characters.
const size_t kDisplayNameCharacters = 255;
// A restart finishes the installation: files in use are replaced then.
const int kExitRestartToFinish = 3010;

// Every exit code of the setup program but 0, as winget tells it.
struct ReturnCode {
  int Code;
  const char* Response;
};
const ReturnCode kReturnCodes[] = {
    {SETUP_EXIT_FAILED, "contactSupport"},  // rolled back; the log says why
    {SETUP_EXIT_CANCELLED, "cancelledByUser"},
    // winget checks the download's hash: a file damaged after that is the machine's fault
    {SETUP_EXIT_DAMAGED, "contactSupport"},
    {SETUP_EXIT_RUNNING, "installInProgress"},
    {SETUP_EXIT_BAD_COMMAND_LINE, "invalidParameter"},
    {SETUP_EXIT_DOWNGRADE, "downgrade"},
    {SETUP_EXIT_FILES_IN_USE, "fileInUse"},
    // winget has no response for missing rights; mostly it is a declined elevation prompt
    {SETUP_EXIT_NO_RIGHTS, "cancelledByUser"},
    {kExitRestartToFinish, "rebootRequiredToFinish"},
};

struct ManifestOptions {
  std::string Setup, Id, Url, Output, License, Description;
};

// What the manifests say, read and checked.
struct Package {
  std::string Id, Version, Name, Publisher, License, Description, Url, Sha256, ProductCode;
  const char* Arch = "";
  std::string Scope = "machine";  // machine, user or choose
};

// The characters of UTF-8 text, as the schema counts lengths.
std::vector<std::string> Characters(const std::string& utf8) {
  std::vector<std::string> out;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80 || out.empty())
      out.emplace_back(1, (char)c);
    else
      out.back() += (char)c;
  }
  return out;
}

// Characters no manifest value may hold: controls, and what YAML takes for
// a line break or a byte-order mark.
bool Unprintable(const std::string& c) {
  const unsigned char b = (unsigned char)c[0];
  if (b < 0x20 || b == 0x7F) return true;
  if (c.size() == 2 && b == 0xC2 && (unsigned char)c[1] < 0xA0) return true;  // U+0080 to U+009F
  return c == "\xE2\x80\xA8" || c == "\xE2\x80\xA9" || c == "\xEF\xBB\xBF";
}

// "" when value may stand as the field, else why not.
std::string CheckText(const std::string& value, size_t least, size_t most) {
  if (!Utf8IsValid(value.data(), value.size())) return "it is not UTF-8 text";
  const std::vector<std::string> chars = Characters(value);
  for (const std::string& c : chars)
    if (Unprintable(c)) return "it holds a control character";
  if (chars.size() < least) return "winget takes " + std::to_string(least) + " characters at least";
  if (chars.size() > most) return "winget takes " + std::to_string(most) + " characters at most";
  return "";
}

// What winget forbids in a package's version and in each part of its id.
bool ForbiddenInName(char c) {
  return strchr("\\/:*?\"<>|", c) != nullptr || (unsigned char)c < 0x20;
}

std::string CheckIdentifier(const std::string& id) {
  std::string why = CheckText(id, 3, 128);
  if (!why.empty()) return why;
  size_t parts = 0;
  for (size_t at = 0; at <= id.size(); ++parts) {
    size_t end = id.find('.', at);
    if (end == std::string::npos) end = id.size();
    const std::string part = id.substr(at, end - at);
    if (part.empty()) return "a part between dots is empty";
    if (Characters(part).size() > 32) return "the part " + part + " is longer than 32 characters";
    for (char c : part)
      if (ForbiddenInName(c) || c == ' ' || c == '\t')
        return "it holds \"" + std::string(1, c) + "\"; winget takes no blank or any of \\ / : * ? \" < > |";
    at = end + 1;
  }
  if (parts < 2 || parts > 8) return "winget takes two to eight parts, PUBLISHER.APP";
  return "";
}

std::string CheckVersion(const std::string& version) {
  std::string why = CheckText(version, 1, 128);
  if (!why.empty()) return why;
  for (char c : version)
    if (ForbiddenInName(c)) return "it holds \"" + std::string(1, c) + "\", which winget takes in no version";
  return "";
}

std::string CheckUrl(const std::string& url) {
  std::string why = CheckText(url, 1, 2048);
  if (!why.empty()) return why;
  std::string scheme = url.substr(0, url.find("://"));
  for (char& c : scheme) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
  if ((scheme != "https" && scheme != "http") || url.size() <= scheme.size() + 3)
    return "winget downloads from https:// (or http://) only";
  if (url.find(' ') != std::string::npos) return "it holds a blank (write it as %20)";
  return "";
}

// YAML: a plain scalar where it can only be read as this text, else quoted.
bool PlainIsSafe(const std::string& v) {
  if (v.empty() || v.back() == ' ' || v.back() == ':') return false;
  const unsigned char first = (unsigned char)v[0];
  // a digit may start a number, other signs are YAML's indicators
  if (!((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z') || first == '/' || first >= 0x80))
    return false;
  for (size_t i = 0; i < v.size(); ++i) {
    const unsigned char c = (unsigned char)v[i];
    if (c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) continue;
    if (c == ':' && v[i + 1] != ' ') continue;
    if (!strchr(" ._-+/()@,;=~<>", c) || c == '\0') return false;
  }
  // words that YAML 1.1 reads as a boolean or null
  std::string lower = v;
  for (char& c : lower) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
  for (const char* word : {"y", "n", "yes", "no", "on", "off", "true", "false", "null"})
    if (lower == word) return false;
  return true;
}

std::string Scalar(const std::string& v) {
  if (PlainIsSafe(v)) return v;
  std::string quoted = "'";
  for (char c : v) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

std::string Field(const std::string& indent, const char* key, const std::string& value) {
  return indent + key + ": " + Scalar(value) + "\n";
}

std::string Header(const char* schema) {
  return std::string("# yaml-language-server: $schema=https://aka.ms/winget-manifest.") + schema + "." +
         kManifestVersion + ".schema.json\n";
}

std::string VersionManifest(const Package& p) {
  return Header("version") + Field("", "PackageIdentifier", p.Id) + Field("", "PackageVersion", p.Version) +
         Field("", "DefaultLocale", kLocale) + "ManifestType: version\nManifestVersion: " + kManifestVersion + "\n";
}

std::string LocaleManifest(const Package& p) {
  return Header("defaultlocale") + Field("", "PackageIdentifier", p.Id) + Field("", "PackageVersion", p.Version) +
         Field("", "PackageLocale", kLocale) + Field("", "Publisher", p.Publisher) +
         Field("", "PackageName", p.Name) + Field("", "License", p.License) +
         Field("", "ShortDescription", p.Description) + "ManifestType: defaultLocale\nManifestVersion: " +
         kManifestVersion + "\n";
}

// One installer entry: scope "machine" or "user", with custom as its
// switch when the setup lets the user choose.
std::string Installer(const Package& p, const std::string& scope, const char* custom) {
  const std::string in = "  ";
  std::string text = "- Architecture: " + std::string(p.Arch) + "\n" + in + "InstallerType: exe\n" +
                     Field(in, "Scope", scope) + Field(in, "InstallerUrl", p.Url) +
                     Field(in, "InstallerSha256", p.Sha256) + in + "InstallModes:\n" + in + "- interactive\n" + in +
                     "- silent\n" + in + "- silentWithProgress\n" + in + "InstallerSwitches:\n" +
                     Field(in + "  ", "Silent", kSilent) + Field(in + "  ", "SilentWithProgress", kSilentWithProgress) +
                     Field(in + "  ", "InstallLocation", kInstallLocation) + Field(in + "  ", "Log", kLog);
  if (custom) text += Field(in + "  ", "Custom", custom);
  text += in + "UpgradeBehavior: install\n";
  // a per-user installation needs no rights and does not mind having them
  if (scope == "machine") text += in + "ElevationRequirement: elevatesSelf\n";
  text += in + "ExpectedReturnCodes:\n";
  for (const ReturnCode& r : kReturnCodes)
    text += in + "- InstallerReturnCode: " + std::to_string(r.Code) + "\n" + in + "  ReturnResponse: " + r.Response + "\n";
  text += Field(in, "ProductCode", p.ProductCode);
  // The entry as the setup program writes it; only what differs from the
  // package is stated.
  std::vector<std::string> name = Characters(p.Name);
  if (name.size() > kDisplayNameCharacters) {
    name.resize(kDisplayNameCharacters);
    std::string shown;
    for (const std::string& c : name) shown += c;
    text += in + "AppsAndFeaturesEntries:\n" + Field(in + "- ", "DisplayName", shown) +
            Field(in + "  ", "ProductCode", p.ProductCode);
  }
  return text;
}

std::string InstallerManifest(const Package& p) {
  std::string text = Header("installer") + Field("", "PackageIdentifier", p.Id) +
                     Field("", "PackageVersion", p.Version) + "Installers:\n";
  if (p.Scope == "choose")
    text += Installer(p, "machine", "/ALLUSERS") + Installer(p, "user", "/CURRENTUSER");
  else
    text += Installer(p, p.Scope, nullptr);
  return text + "ManifestType: installer\nManifestVersion: " + kManifestVersion + "\n";
}

int ParseOptions(const Arguments& args, ManifestOptions* o) {
  COptionWalker walk("manifest", args);
  bool option;
  std::string text;
  while (walk.Next(&option, &text)) {
    std::string* value = nullptr;
    if (!option) {
      if (!o->Setup.empty()) return UsageError("manifest", "one setup file only, please: " + text);
      o->Setup = text;
      continue;
    }
    if (text == "--id") value = &o->Id;
    else if (text == "--url") value = &o->Url;
    else if (text == "-o" || text == "--output") value = &o->Output;
    else if (text == "--license") value = &o->License;
    else if (text == "--description") value = &o->Description;
    else return UsageError("manifest", "unknown option " + text);
    if (!walk.Value(value)) return EXIT_USAGE;
  }
  if (o->Setup.empty()) return UsageError("manifest", "which setup file?");
  if (o->Id.empty()) return UsageError("manifest", "the package's id, please: --id PUBLISHER.APP");
  if (o->Url.empty()) return UsageError("manifest", "where the setup file is downloaded from, please: --url URL");
  // nothing in the setup file says it, and a wrong one misleads every user
  if (o->License.empty())
    return UsageError("manifest", "the package's licence, please: --license TEXT (MIT, Proprietary, ...)");
  return EXIT_OK;
}

// The package, from the options and the setup file; a failure names what
// to change.
CommandResult ReadPackage(const ManifestOptions& o, Package* p) {
  const std::string& setup = o.Setup;
  std::string why;
  if (!(why = CheckIdentifier(o.Id)).empty()) return InputFailure("--id " + o.Id + ": " + why);
  if (!(why = CheckUrl(o.Url)).empty()) return InputFailure("--url " + o.Url + ": " + why);
  if (!(why = CheckText(o.License, 3, 512)).empty()) return InputFailure("--license " + o.License + ": " + why);
  p->Id = o.Id;
  p->Url = o.Url;
  p->License = o.License;

  CSetupFile file;
  CommandResult opened = file.Open(setup.c_str());
  if (!opened.Ok()) return opened;
  if (file.Kind() == FILEKIND_DAMAGED) return InputFailure(setup + " is " + DamageText(file.Layout()));
  if (file.Kind() == FILEKIND_NONE && file.Layout().SliceRecordSize)
    return InputFailure(setup + " is the first slice of a split setup: winget downloads one file; "
                        "build the setup without --split for the manifest");
  if (file.Kind() != FILEKIND_INSTALLER)
    return InputFailure(setup + " is " +
                        (file.Kind() == FILEKIND_UNINSTALLER ? "an uninstaller" : "a setup program without a project") +
                        ": the manifest is written for a setup file that quillset build made");
  switch (file.Arch()) {
    case PE_ARCH_X86: p->Arch = "x86"; break;
    case PE_ARCH_X64: p->Arch = "x64"; break;
    default: return InputFailure(setup + ": its setup program is neither x86 nor x64");
  }
  const int at = file.Find("default.qsp");
  if (at < 0) return InputFailure(setup + ": not a setup file (no project script stored in it)");
  std::string text;
  const EfsDecodeResult r = DecodeToText(file, file.Entries()[(size_t)at], &text);
  if (r != EFS_DECODE_OK) return InputFailure(setup + ": its project script: " + DecodeResultText(r));
  CFileParser script;
  if (!script.LoadText(text.data(), (uint32_t)text.size()))
    return InputFailure(setup + ": its stored project script does not start with QSP40");

  // the keys winget matches an installation by, named when missing
  struct Key {
    const char* Name;
    std::string* Value;
    const char* Use;
  };
  const Key keys[] = {
      {"ApplicationName", &p->Name, "the manifest's PackageName"},
      {"Version", &p->Version, "the manifest's PackageVersion"},
      {"Publisher", &p->Publisher, "the manifest's Publisher"},
      {"AppId", &p->ProductCode, "the ProductCode by which winget finds the installation"},
  };
  std::string missing;
  for (const Key& k : keys) {
    *k.Value = StoredGlobalValue(script, k.Name);
    if (k.Value->empty()) missing += std::string(missing.empty() ? "" : ", ") + k.Name + " (" + k.Use + ")";
  }
  if (!missing.empty())
    return InputFailure(setup + ": its script has no [Global] " + missing + "; add " +
                        (missing.find(',') == std::string::npos ? "it" : "them") + " and build the setup again");
  if (!(why = CheckVersion(p->Version)).empty()) return InputFailure(setup + ": [Global] Version " + p->Version + ": " + why);
  if (!(why = CheckText(p->Name, 2, 256)).empty())
    return InputFailure(setup + ": [Global] ApplicationName " + p->Name + ": " + why);
  if (!(why = CheckText(p->Publisher, 2, 256)).empty())
    return InputFailure(setup + ": [Global] Publisher " + p->Publisher + ": " + why);
  if (!(why = CheckText(p->ProductCode, 1, 255)).empty())
    return InputFailure(setup + ": [Global] AppId " + p->ProductCode + ": " + why);
  p->Description = o.Description.empty() ? p->Name : o.Description;
  if (!(why = CheckText(p->Description, 3, 256)).empty())
    return InputFailure((o.Description.empty() ? "the short description (the application's name) " + p->Name +
                                                     ": " + why + "; give --description TEXT"
                                               : "--description " + o.Description + ": " + why));
  // as the setup program reads it: anything else is a machine-wide one
  const std::string scope = StoredGlobalValue(script, "Scope");
  p->Scope = scope == "user" || scope == "choose" ? scope : "machine";

  // the whole file, signature and all, as winget downloads it
  FILE* f = fopen(setup.c_str(), "rb");
  if (!f) return InputFailure("cannot read " + setup + ": " + PlatformErrorText(errno));
  CSha256 sha;
  std::vector<unsigned char> buffer(1 << 16);
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), f)) > 0) sha.Update(buffer.data(), n);
  const int failed = ferror(f);
  fclose(f);
  if (failed) return InputFailure("cannot read " + setup);
  unsigned char digest[SHA256_SIZE];
  sha.Final(digest);
  for (unsigned char b : digest) {
    static const char kHex[] = "0123456789ABCDEF";
    p->Sha256 += kHex[b >> 4];
    p->Sha256 += kHex[b & 15];
  }
  return Succeeded();
}

// manifests/<first letter>/<one folder per part of the id>/<version>, as the
// community repository lays them out.
CommandResult DefaultFolder(const Package& p, std::string* folder) {
  // Windows drops a final dot or blank from a folder's name
  if (p.Version == "." || p.Version == ".." || p.Version.back() == '.' || p.Version.back() == ' ')
    return InputFailure("the version " + p.Version + " makes no folder name: give -o DIR");
  std::string first = Characters(p.Id)[0];
  if (first[0] >= 'A' && first[0] <= 'Z') first[0] = (char)(first[0] + 32);
  std::string path = PlatformJoin("manifests", first);
  for (size_t at = 0; at <= p.Id.size();) {
    size_t end = p.Id.find('.', at);
    if (end == std::string::npos) end = p.Id.size();
    path = PlatformJoin(path, p.Id.substr(at, end - at));
    at = end + 1;
  }
  *folder = PlatformJoin(path, p.Version);
  return Succeeded();
}

// The files, each written beside its name and renamed once all are written.
CommandResult WriteFiles(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& files) {
  errno = 0;
  if (!PlatformMakeFolders(folder.c_str()))
    return InputFailure("cannot make the folder " + folder + ": " +
                        (errno ? PlatformErrorText(errno) : std::string("a file of that name is in the way")));
  std::vector<std::string> temporaries;
  std::string why;
  for (const auto& file : files) {
    const std::string target = PlatformJoin(folder, file.first);
    temporaries.push_back(PlatformTemporarySibling(target));
    PlatformCleanupAdd(temporaries.back());
    FILE* f = fopen(temporaries.back().c_str(), "wb");
    const bool written = f && fwrite(file.second.data(), 1, file.second.size(), f) == file.second.size();
    if (!(f && fclose(f) == 0 && written)) {
      why = "cannot write " + target + ": " + PlatformErrorText(errno ? errno : EIO);
      break;
    }
  }
  for (size_t i = 0; why.empty() && i < files.size(); ++i) {
    const std::string target = PlatformJoin(folder, files[i].first);
    if (!PlatformReplaceFile(temporaries[i].c_str(), target.c_str()))
      why = "cannot write " + target + ": " + PlatformErrorText(errno);
    else
      printf("%s\n", target.c_str());
  }
  for (const std::string& t : temporaries) {
    PlatformRemoveFile(t.c_str());
    PlatformCleanupRemove(t);
  }
  return why.empty() ? Succeeded() : InputFailure(why);
}

}  // namespace

int RunManifest(const Arguments& args) {
  ManifestOptions o;
  const int usage = ParseOptions(args, &o);
  if (usage != EXIT_OK) return usage;
  Package p;
  CommandResult read = ReadPackage(o, &p);
  if (!read.Ok()) return Finish(read);
  std::string folder = o.Output;
  if (folder.empty()) {
    CommandResult named = DefaultFolder(p, &folder);
    if (!named.Ok()) return Finish(named);
  }
  return Finish(WriteFiles(folder, {{p.Id + ".yaml", VersionManifest(p)},
                                    {p.Id + ".locale." + kLocale + ".yaml", LocaleManifest(p)},
                                    {p.Id + ".installer.yaml", InstallerManifest(p)}}));
}
