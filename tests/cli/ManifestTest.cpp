// quillset manifest: the three files read back by a small YAML reader, held
// against winget's published 1.12.0 schema (names, types, lengths, patterns,
// enumerations: the table below) and against the setup file they describe.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "CliSupport.h"
#include "driver/CommandLine.h"
#include "efs/Sha256.h"

namespace {

struct Node {
  char Kind = 0;  // 0 null, 's' scalar, 'm' mapping, 'a' sequence
  std::string Text;
  bool Quoted = false;
  std::vector<std::pair<std::string, Node>> Map;
  std::vector<Node> Seq;
  const Node& operator[](const std::string& key) const {
    static const Node none;
    for (const auto& kv : Map)
      if (kv.first == key) return kv.second;
    return none;
  }
};

// Block mappings, sequences and one-line scalars: what the command writes.
// Anything a YAML reader could take otherwise is an error.
class YamlReader {
 public:
  explicit YamlReader(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find('\n', at);
      std::string line = text.substr(at, end - at);
      at = end == std::string::npos ? text.size() : end + 1;
      size_t indent = line.find_first_not_of(' ');
      if (indent != std::string::npos && line[indent] != '#') m_Lines.push_back({(int)indent, line.substr(indent)});
    }
  }
  Node Read() {
    Node n = Block(0);
    if (m_At < m_Lines.size()) Error = "stray line: " + m_Lines[m_At].second;
    return n;
  }
  std::string Error;

 private:
  static bool Item(const std::string& s) { return s == "-" || s.compare(0, 2, "- ") == 0; }
  Node Block(int indent) {
    Node n;
    if (m_At < m_Lines.size() && m_Lines[m_At].first == indent && Item(m_Lines[m_At].second)) {
      n.Kind = 'a';
      while (m_At < m_Lines.size() && m_Lines[m_At].first == indent && Item(m_Lines[m_At].second)) {
        m_Lines[m_At] = {indent + 2, m_Lines[m_At].second.substr(2)};
        n.Seq.push_back(Block(indent + 2));
      }
      return n;
    }
    while (m_At < m_Lines.size() && m_Lines[m_At].first == indent && !Item(m_Lines[m_At].second)) {
      const std::string line = m_Lines[m_At++].second;
      size_t colon = line.find(": ");
      if (colon == std::string::npos && line.back() == ':') colon = line.size() - 1;
      if (colon == std::string::npos || !std::regex_match(line.substr(0, colon), std::regex("[A-Za-z0-9]+"))) {
        if (n.Kind == 0) return Scalar(line);
        Error = "not a key: " + line;
        return n;
      }
      n.Kind = 'm';
      const std::string key = line.substr(0, colon);
      for (const auto& kv : n.Map)
        if (kv.first == key) Error = "key twice: " + key;
      Node value;
      if (colon + 1 < line.size())
        value = Scalar(line.substr(colon + 2));
      else if (m_At < m_Lines.size() && (m_Lines[m_At].first > indent || Item(m_Lines[m_At].second)))
        value = Block(m_Lines[m_At].first);
      n.Map.emplace_back(key, value);
    }
    if (m_At < m_Lines.size() && m_Lines[m_At].first > indent) Error = "indented: " + m_Lines[m_At].second;
    return n;
  }
  Node Scalar(const std::string& s) {
    Node n;
    n.Kind = 's';
    if (s[0] == '\'') {
      n.Quoted = true;
      for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] != '\'') n.Text += s[i];
        else if (i + 1 < s.size() && s[i + 1] == '\'') n.Text += s[i++];
        else if (i + 1 != s.size()) Error = "text after a quoted scalar: " + s;
        else return n;
      }
      Error = "unterminated: " + s;
    } else if (strchr("-?:,[]{}#&*!|>\"%@`", s[0]) || s.find(": ") != std::string::npos ||
               s.find(" #") != std::string::npos || s.back() == ' ') {
      Error = "a plain scalar YAML reads otherwise: " + s;
    }
    n.Text = s;
    return n;
  }
  std::vector<std::pair<int, std::string>> m_Lines;
  size_t m_At = 0;
};

// winget's schema 1.12.0, the fields of the three files: type ('s' string,
// 'i' integer, 'a' array, 'o' object), required, length (characters, or
// items), pattern, enumeration, and an object's (or array's objects') fields.
struct Rule {
  const char* Name;
  char Type = 0;
  bool Required = false;
  size_t Min = 0, Max = 0;
  const char* Pattern = nullptr;
  const char* Enum = nullptr;
  const std::vector<Rule>* Fields = nullptr;
};
const char kId[] = R"(^[^\.\s\\/:\*\?"<>\|\x01-\x1f]{1,32}(\.[^\.\s\\/:\*\?"<>\|\x01-\x1f]{1,32}){1,7}$)";
const char kVersion[] = R"(^[^\\/:\*\?"<>\|\x01-\x1f]+$)";
const char kLocale[] = R"(^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$)";
const char kUrl[] = "^([Hh][Tt][Tt][Pp][Ss]?)://.+$";
const char kManifestVersion[] = R"(^\d{1,5}(\.\d{1,5}){2}$)";
const size_t N = 100000;
const std::vector<Rule> kSwitches = {{"Silent", 's', 0, 1, 512}, {"SilentWithProgress", 's', 0, 1, 512},
    {"Interactive", 's', 0, 1, 512}, {"InstallLocation", 's', 0, 1, 512}, {"Log", 's', 0, 1, 512},
    {"Upgrade", 's', 0, 1, 512}, {"Custom", 's', 0, 1, 2048}, {"Repair", 's', 0, 1, 512}};
const std::vector<Rule> kReturnCode = {{"InstallerReturnCode", 'i', 1, 0, N}, {"ReturnResponse", 's', 1, 0, N, nullptr,
    "packageInUse packageInUseByApplication installInProgress fileInUse missingDependency diskFull insufficientMemory "
    "invalidParameter noNetwork contactSupport rebootRequiredToFinish rebootRequiredForInstall rebootInitiated "
    "cancelledByUser alreadyInstalled downgrade blockedByPolicy systemNotSupported custom"},
    {"ReturnResponseUrl", 's', 0, 0, 2048, kUrl}};
const std::vector<Rule> kEntry = {{"DisplayName", 's', 0, 1, 256}, {"Publisher", 's', 0, 1, 256},
    {"DisplayVersion", 's', 0, 1, 128}, {"ProductCode", 's', 0, 1, 255}, {"UpgradeCode", 's', 0, 1, 255},
    {"InstallerType"}};
std::vector<Rule> InstallerFields(bool item) {
  std::vector<Rule> r = {{"InstallerType", 's', 0, 0, N, nullptr, "msix msi appx exe zip inno nullsoft wix burn pwa portable font"},
      {"Scope", 's', 0, 0, N, nullptr, "user machine"},
      {"InstallModes", 'a', 0, 0, 3, nullptr, "interactive silent silentWithProgress"},
      {"InstallerSwitches", 'o', 0, 0, N, nullptr, nullptr, &kSwitches},
      {"UpgradeBehavior", 's', 0, 0, N, nullptr, "install uninstallPrevious deny"},
      {"ElevationRequirement", 's', 0, 0, N, nullptr, "elevationRequired elevationProhibited elevatesSelf"},
      {"ExpectedReturnCodes", 'a', 0, 0, 128, nullptr, nullptr, &kReturnCode},
      {"ProductCode", 's', 0, 1, 255}, {"AppsAndFeaturesEntries", 'a', 0, 0, 128, nullptr, nullptr, &kEntry}};
  for (const char* name : {"InstallerLocale", "Platform", "MinimumOSVersion", "NestedInstallerType", "NestedInstallerFiles",
                           "InstallerSuccessCodes", "Commands", "Protocols", "FileExtensions", "Dependencies",
                           "PackageFamilyName", "Capabilities", "RestrictedCapabilities", "Markets", "InstallerAbortsTerminal",
                           "ReleaseDate", "InstallLocationRequired", "RequireExplicitUpgrade", "DisplayInstallWarnings",
                           "UnsupportedOSArchitectures", "UnsupportedArguments", "InstallationMetadata",
                           "DownloadCommandProhibited", "RepairBehavior", "ArchiveBinariesDependOnPath", "Authentication"})
    r.push_back({name});
  if (item) {
    r.push_back({"Architecture", 's', 1, 0, N, nullptr, "x86 x64 arm arm64 neutral"});
    r.push_back({"InstallerUrl", 's', 1, 0, 2048, kUrl});
    r.push_back({"InstallerSha256", 's', 1, 0, N, "^[A-Fa-f0-9]{64}$"});
    r.push_back({"SignatureSha256"});
  }
  return r;
}
const std::vector<Rule> kInstaller = InstallerFields(true);
std::vector<Rule> Manifest(const char* type, std::vector<Rule> fields) {
  fields.insert(fields.begin(), {{"PackageIdentifier", 's', 1, 0, 128, kId}, {"PackageVersion", 's', 1, 0, 128, kVersion}});
  fields.push_back({"ManifestType", 's', 1, 0, N, nullptr, type});
  fields.push_back({"ManifestVersion", 's', 1, 0, N, kManifestVersion});
  return fields;
}
const std::vector<Rule> kVersionFile = Manifest("version", {{"DefaultLocale", 's', 1, 0, 20, kLocale}});
const std::vector<Rule> kLocaleFile = Manifest("defaultLocale", {{"PackageLocale", 's', 1, 0, 20, kLocale},
    {"Publisher", 's', 1, 2, 256}, {"PackageName", 's', 1, 2, 256}, {"License", 's', 1, 3, 512},
    {"ShortDescription", 's', 1, 3, 256}, {"PublisherUrl"}, {"PublisherSupportUrl"}, {"PrivacyUrl"}, {"Author"},
    {"PackageUrl"}, {"LicenseUrl"}, {"Copyright"}, {"CopyrightUrl"}, {"Description"}, {"Moniker"}, {"Tags"},
    {"Agreements"}, {"ReleaseNotes"}, {"ReleaseNotesUrl"}, {"PurchaseUrl"}, {"InstallationNotes"},
    {"Documentations"}, {"Icons"}});
std::vector<Rule> InstallerFile() {
  std::vector<Rule> r = InstallerFields(false);
  r.push_back({"Channel"});
  r.push_back({"Installers", 'a', 1, 1, 1024, nullptr, nullptr, &kInstaller});
  return Manifest("installer", r);
}

size_t Characters(const std::string& s) {
  return (size_t)std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

bool InEnum(const char* list, const std::string& word) {
  return (" " + std::string(list) + " ").find(" " + word + " ") != std::string::npos;
}

// A YAML scalar's type as a YAML 1.1 reader takes it: an unquoted number is no string.
char TypeOf(const Node& n) {
  if (n.Kind != 's') return n.Kind == 'm' ? 'o' : n.Kind;
  if (!n.Quoted && std::regex_match(n.Text, std::regex("-?[0-9]+"))) return 'i';
  if (!n.Quoted && std::regex_match(n.Text, std::regex("-?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][-+]?[0-9]+)?"))) return 'f';
  return 's';
}

void Check(const Node& object, const std::vector<Rule>& rules, const std::string& where) {
  ASSERT_EQ('m', object.Kind) << where;
  for (const auto& kv : object.Map) {
    const Rule* rule = nullptr;
    for (const Rule& r : rules) rule = r.Name == kv.first ? &r : rule;
    ASSERT_TRUE(rule) << where << ": winget knows no field " << kv.first;
    const Node& v = kv.second;
    const std::string at = where + "." + kv.first;
    if (!rule->Type) continue;
    ASSERT_EQ(rule->Type, TypeOf(v)) << at << ": " << v.Text;
    if (rule->Type == 's') {
      EXPECT_GE(Characters(v.Text), rule->Min) << at;
      EXPECT_LE(Characters(v.Text), rule->Max) << at;
      EXPECT_TRUE(!rule->Pattern || std::regex_search(v.Text, std::regex(rule->Pattern))) << at << ": " << v.Text;
      EXPECT_TRUE(!rule->Enum || InEnum(rule->Enum, v.Text)) << at << ": " << v.Text;
    } else if (rule->Type == 'i') {
      EXPECT_NE("0", v.Text) << at;
    } else if (rule->Type == 'o') {
      Check(v, *rule->Fields, at);
    } else if (rule->Type == 'a') {
      EXPECT_GE(v.Seq.size(), std::max<size_t>(rule->Min, 1)) << at;
      EXPECT_LE(v.Seq.size(), rule->Max) << at;
      std::set<std::string> seen;
      for (const Node& item : v.Seq) {
        if (rule->Fields) {
          Check(item, *rule->Fields, at + "[]");
        } else {
          EXPECT_EQ('s', TypeOf(item)) << at;
          EXPECT_TRUE(InEnum(rule->Enum, item.Text)) << at << ": " << item.Text;
          EXPECT_TRUE(seen.insert(item.Text).second) << at << " holds " << item.Text << " twice";
        }
      }
    }
  }
  for (const Rule& r : rules)
    if (r.Required) {
      EXPECT_TRUE(object[r.Name].Kind) << where << ": no " << r.Name;
    }
}

Node ReadManifest(const std::string& path, const std::vector<Rule>& rules) {
  const std::string text = ReadWholeFile(path);
  YamlReader reader(text);
  Node n = reader.Read();
  EXPECT_EQ("", reader.Error) << path << ":\n" << text;
  Check(n, rules, path);
  return n;
}

std::string Sha256Of(const std::string& path) {
  const Bytes b = ReadWholeFile(path);
  CSha256 sha;
  sha.Update(b.data(), b.size());
  unsigned char d[SHA256_SIZE];
  sha.Final(d);
  char hex[2 * SHA256_SIZE + 1];
  for (int i = 0; i < SHA256_SIZE; ++i) snprintf(hex + 2 * i, 3, "%02X", d[i]);
  return hex;
}

const char kScript[] = "QSP40\n[Global]\nApplicationName = Hello: the #1 'App'\nDefaultDir = %PROGRAMFILES%Hello\n"
                       "AppId = HelloApp\nVersion = 1.20\nPublisher = Müller & Söhne\n[Files]\nreadme.txt, %MAINDIR%readme.txt\n";

// A setup file of script, built with the setup program of arch.
std::string BuildSetup(const TempDir& dir, const std::string& script, const char* stub, std::vector<std::string> extra = {}) {
  Project project(dir);
  project.Write(script);
  WriteWholeFile(dir.File("readme.txt"), "hello");
  WriteWholeFile(dir.File("stub.exe"), stub ? ReadWholeFile(stub) : FakeStub());
  RunResult built = project.Build(dir.File("Setup.exe"), extra);
  EXPECT_EQ(0, built.Code) << built.Err;
  return dir.File("Setup.exe");
}

std::vector<std::string> Args(const std::string& setup, std::vector<std::string> more = {}) {
  std::vector<std::string> a = {"manifest", "--id", "Acme.Hello", "--url", "https://example.com/hello/Setup.exe",
                                "--license", "MIT", setup};
  a.insert(a.end() - 1, more.begin(), more.end());
  return a;
}

struct Stub {
  const char* Arch;
  const char* Path;
};
class ManifestLanes : public testing::TestWithParam<Stub> {};

TEST_P(ManifestLanes, TheFilesParseHoldToTheSchemaAndDescribeTheSetupFile) {
  if (!Exists(GetParam().Path)) GTEST_SKIP() << "not built: " << GetParam().Path;
  TempDir dir;
  const std::string setup = BuildSetup(dir, kScript, GetParam().Path);
  RunResult r = RunQuillset(Args(setup), dir.Path);
  ASSERT_EQ(0, r.Code) << r.Err;
  const std::string folder = "manifests/a/Acme/Hello/1.20/";
  EXPECT_EQ(folder + "Acme.Hello.yaml\n" + folder + "Acme.Hello.locale.en-US.yaml\n" + folder + "Acme.Hello.installer.yaml\n", r.Out);
  const Node version = ReadManifest(dir.File(folder + "Acme.Hello.yaml"), kVersionFile);
  const Node locale = ReadManifest(dir.File(folder + "Acme.Hello.locale.en-US.yaml"), kLocaleFile);
  const Node installer = ReadManifest(dir.File(folder + "Acme.Hello.installer.yaml"), InstallerFile());
  for (const Node* n : {&version, &locale, &installer}) {
    EXPECT_EQ("Acme.Hello", (*n)["PackageIdentifier"].Text);
    EXPECT_EQ("1.20", (*n)["PackageVersion"].Text);  // a string, never the number 1.2
  }
  EXPECT_EQ("Hello: the #1 'App'", locale["PackageName"].Text);
  EXPECT_EQ("Hello: the #1 'App'", locale["ShortDescription"].Text);
  EXPECT_EQ("Müller & Söhne", locale["Publisher"].Text);
  EXPECT_EQ("MIT", locale["License"].Text);
  ASSERT_EQ(1u, installer["Installers"].Seq.size());
  const Node& one = installer["Installers"].Seq[0];
  EXPECT_EQ(GetParam().Arch, one["Architecture"].Text);
  EXPECT_EQ("exe", one["InstallerType"].Text);
  EXPECT_EQ("machine", one["Scope"].Text);
  EXPECT_EQ("elevatesSelf", one["ElevationRequirement"].Text);
  EXPECT_EQ(Sha256Of(setup), one["InstallerSha256"].Text);
  EXPECT_EQ("https://example.com/hello/Setup.exe", one["InstallerUrl"].Text);
  EXPECT_EQ("HelloApp", one["ProductCode"].Text);
  EXPECT_EQ("install", one["UpgradeBehavior"].Text);
  const Node& switches = one["InstallerSwitches"];
  EXPECT_EQ("/S", switches["Silent"].Text);
  EXPECT_EQ("/PASSIVE", switches["SilentWithProgress"].Text);
  EXPECT_EQ("/D=<INSTALLPATH>", switches["InstallLocation"].Text);
  EXPECT_EQ("/LOG=\"<LOGPATH>\"", switches["Log"].Text);
  EXPECT_FALSE(switches["Custom"].Kind);
  EXPECT_FALSE(one["AppsAndFeaturesEntries"].Kind);  // the entry shows the package's own values
  // every exit code of the setup program but 0, once
  std::set<std::string> codes = {"3010"}, listed;
  for (int code = 1; code < 65536; ++code)
    if (strcmp(ExitCodeMeaning(code), "unknown") != 0) codes.insert(std::to_string(code));
  for (const Node& c : one["ExpectedReturnCodes"].Seq) EXPECT_TRUE(listed.insert(c["InstallerReturnCode"].Text).second);
  EXPECT_EQ(codes, listed);
}

INSTANTIATE_TEST_SUITE_P(Lanes, ManifestLanes, testing::Values(Stub{"x86", QS_STUB32_FILE}, Stub{"x64", QS_STUB64_FILE}),
                         [](const testing::TestParamInfo<Stub>& p) { return std::string(p.param.Arch); });

// Scope = choose: one installer per scope, each with its switch; a name
// longer than the Add/Remove Programs entry keeps is stated as the entry has it.
TEST(Manifest, ScopesAndTheEntrysOwnName) {
  if (!Exists(QS_STUB32_FILE)) GTEST_SKIP() << "not built: " << QS_STUB32_FILE;
  const std::string longName = "Ä" + std::string(255, 'n');
  struct Case {
    std::string From, To;
    std::vector<std::string> Scopes, Customs, Elevation;
  } cases[] = {
      {"AppId", "Scope = user\nAppId", {"user"}, {""}, {""}},
      {"AppId", "Scope = choose\nAppId", {"machine", "user"}, {"/ALLUSERS", "/CURRENTUSER"}, {"elevatesSelf", ""}},
      {"Hello: the #1 'App'", longName, {"machine"}, {""}, {"elevatesSelf"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string script = kScript;
    script.replace(script.find(c.From), c.From.size(), c.To);
    RunResult r = RunQuillset(Args(BuildSetup(dir, script, QS_STUB32_FILE), {"-o", dir.File("out")}));
    ASSERT_EQ(0, r.Code) << c.To << r.Err;
    const Node installers = ReadManifest(dir.File("out/Acme.Hello.installer.yaml"), InstallerFile())["Installers"];
    ASSERT_EQ(c.Scopes.size(), installers.Seq.size()) << c.To;
    for (size_t i = 0; i < c.Scopes.size(); ++i) {
      EXPECT_EQ(c.Scopes[i], installers.Seq[i]["Scope"].Text) << c.To;
      EXPECT_EQ(c.Customs[i], installers.Seq[i]["InstallerSwitches"]["Custom"].Text) << c.To;
      EXPECT_EQ(c.Elevation[i], installers.Seq[i]["ElevationRequirement"].Text) << c.To;
    }
    const Node& entry = installers.Seq[0]["AppsAndFeaturesEntries"];
    if (c.To == longName) {
      ASSERT_EQ(1u, entry.Seq.size());
      EXPECT_EQ(longName.substr(0, longName.size() - 1), entry.Seq[0]["DisplayName"].Text);
    } else {
      EXPECT_FALSE(entry.Kind) << c.To;
    }
  }
}

// What the manifests cannot say right is refused, named, and nothing is written.
TEST(Manifest, RefusesWhatItCannotStateAndWritesNothing) {
  // Publisher and Version need a setup program with resources
  if (!Exists(QS_STUB32_FILE)) GTEST_SKIP() << "not built: " << QS_STUB32_FILE;
  const char* stub = QS_STUB32_FILE;
  auto without = [](const std::string& key, std::string s = kScript) {
    const size_t at = s.find(key + " = ");
    return s.erase(at, s.find('\n', at) + 1 - at);
  };
  std::string badVersion = kScript;
  badVersion.replace(badVersion.find("1.20"), 4, "1.2/beta");
  struct Case {
    std::string Script;
    std::vector<std::string> Options;
    int Code;
    std::string Said;
  } cases[] = {
      {without("Version"), {}, 1, "no [Global] Version (the manifest's PackageVersion); add it"},
      {without("AppId"), {}, 1, "no [Global] AppId (the ProductCode"},
      {without("Publisher", without("Version")), {}, 1,
       "no [Global] Version (the manifest's PackageVersion), Publisher (the manifest's Publisher); add them"},
      {badVersion, {}, 1, "[Global] Version 1.2/beta: it holds \"/\""},
      {kScript, {"--id", "Acme"}, 1, "--id Acme: winget takes two to eight parts"},
      {kScript, {"--id", "Acme.He llo"}, 1, "--id Acme.He llo: it holds \" \""},
      {kScript, {"--url", "ftp://example.com/Setup.exe"}, 1, "--url ftp://example.com/Setup.exe: winget downloads"},
      {kScript, {"--url", "https://example.com/a b.exe"}, 1, "it holds a blank"},
      {kScript, {"--license", ""}, 2, "--license"},
      {kScript, {"--split", "1000"}, 1, "the first slice of a split setup"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::vector<std::string> options = c.Options, build;
    if (c.Options.size() && c.Options[0] == "--split") build.swap(options);
    const std::string setup = BuildSetup(dir, c.Script, stub, build);
    RunResult r = RunQuillset(Args(setup, options), dir.Path);
    EXPECT_EQ(c.Code, r.Code) << c.Said;
    EXPECT_NE(std::string::npos, r.Err.find(c.Said)) << r.Err;
    EXPECT_FALSE(Exists(dir.File("manifests"))) << c.Said;
  }
  TempDir dir;  // a program of no known architecture
  RunResult r = RunQuillset(Args(BuildSetup(dir, "QSP40\n[Global]\nApplicationName = Hello\nDefaultDir = C:\\Hello\n", nullptr), {"-o", dir.File("out")}));
  EXPECT_EQ(1, r.Code);
  EXPECT_NE(std::string::npos, r.Err.find("neither x86 nor x64")) << r.Err;
  EXPECT_FALSE(Exists(dir.File("out")));
}

}  // namespace
