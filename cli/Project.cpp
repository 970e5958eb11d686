#include "cli/Project.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "cli/FileSources.h"
#include "cli/Platform.h"
#include "common/Mbcs.h"
#include "efs/EfsFormat.h"
#include "script/ActionSections.h"
#include "script/Choices.h"
#include "script/LaunchCommand.h"
#include "script/PlaceholderTokens.h"

struct KeyedSection {
  const char* Name;
  std::vector<const char*> Keys;
};

namespace {

// The keyed sections and their keys; the action sections come from their
// table. A key of neither is refused at build time: the setup program would
// take its default without a word (DefaultDir's is C:\).
const KeyedSection kKeyedSections[] = {
    {"Global",
     {"ApplicationName", "DefaultDir", "AllowChangeInstallDir", "ShowEULAPage", "AppId", "AppIdRoot", "Version",
      "Publisher", "ShowLanguageDialog", "KeepInstalledDir", "Compression", "SetupIcon", "Scope", "LicenseFile",
      "WizardImage", "RunAfterInstall"}},
    {"Background", {"UseBackground", "TopColor", "BottomColor", "Bitmap", "BitmapPlacement", "Metafile"}},
};

const KeyedSection* FindKeyedSection(const std::string& name) {
  for (const KeyedSection& k : kKeyedSections)
    if (name == k.Name) return &k;
  return nullptr;
}

bool HasKey(const KeyedSection& section, const std::string& key) {
  for (const char* k : section.Keys)
    if (key == k) return true;
  return false;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return s;
}

// Edits between a and b without regard to case; two neighbours swapped
// count as one.
size_t Distance(const std::string& a0, const std::string& b0) {
  const std::string a = Lower(a0), b = Lower(b0);
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// The known name that name is most likely a typo of ("" when none is
// close): a few edits, or one is the other with a tail (DefaultDirectory).
std::string NearestName(const std::string& name, const std::vector<std::string>& known) {
  std::string best;
  size_t bestDistance = (size_t)-1;
  for (const std::string& k : known) {
    size_t d = Distance(name, k);
    const std::string a = Lower(name), b = Lower(k);
    const size_t shorter = std::min(a.size(), b.size());
    const bool prefix = shorter >= 4 && a.compare(0, shorter, b, 0, shorter) == 0;
    if (d > std::max<size_t>(1, k.size() / 3) && !prefix) continue;
    if (prefix) d = std::min<size_t>(d, 2);
    if (d < bestDistance) best = k, bestDistance = d;
  }
  return best;
}

// "did you mean `X`?" for the nearest of known, else the whole list; each
// name written between open and close ("[" and "]" for sections).
std::string Suggestion(const std::string& name, const std::vector<std::string>& known, const std::string& kind,
                       const std::string& open = "", const std::string& close = "") {
  const std::string nearest = NearestName(name, known);
  if (!nearest.empty())
    return "did you mean `" + open + nearest + close + "`?" +
           (Lower(nearest) == Lower(name) ? " (" + kind + " names are case-sensitive)" : "");
  std::string all;
  for (const std::string& k : known) all += (all.empty() ? "" : ", ") + open + k + close;
  return "the " + kind + "s are " + all;
}

// The sections that list the components and the tasks.
const char* const kChoiceSections[] = {"Components", "Tasks"};

bool IsChoiceSection(const std::string& name) { return name == kChoiceSections[0] || name == kChoiceSections[1]; }

std::vector<std::string> SectionNames() {
  std::vector<std::string> names;
  for (const KeyedSection& k : kKeyedSections) names.push_back(k.Name);
  for (const ActionSection& a : kActionSections) names.push_back(a.Name);
  for (const char* c : kChoiceSections) names.push_back(c);
  return names;
}

int CountChar(const std::string& s, char c) {
  int n = 0;
  for (const char* p = s.c_str(); *p; p = MbcsNext(p))
    if (*p == c) ++n;
  return n;
}

// Offset of the first c at a character boundary, or npos.
size_t FindChar(const std::string& s, char c, size_t from = 0) {
  if (from > s.size()) return std::string::npos;
  const char* p = MbcsFindChar(s.c_str() + from, c);
  return p ? (size_t)(p - s.c_str()) : std::string::npos;
}

// Offset of the last "\" or "/" at a character boundary, or npos.
size_t FindLastSeparator(const std::string& s) {
  size_t last = std::string::npos;
  for (const char* p = s.c_str(); *p; p = MbcsNext(p))
    if (*p == '\\' || *p == '/') last = (size_t)(p - s.c_str());
  return last;
}

std::string FileNamePart(const std::string& s) {
  size_t cut = FindLastSeparator(s);
  return cut == std::string::npos ? s : s.substr(cut + 1);
}

std::string SkipBlanks(const std::string& s) {
  size_t a = 0;
  while (a < s.size() && s[a] == ' ') ++a;
  return s.substr(a);
}

bool IsBlankLine(const std::string& s) {
  return TrimBlanks(s).empty();
}

bool IsDecimal(const std::string& value) {
  std::string v = TrimBlanks(value);
  size_t i = 0;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
  if (i == v.size()) return false;
  for (; i < v.size(); ++i)
    if (v[i] < '0' || v[i] > '9') return false;
  return true;
}

std::string Quote(const std::string& s) {
  return "\"" + s + "\"";
}

// A line as the setup program reads it: split by its section's reader in a
// copy of text, whose fields and problem it holds.
struct ReadLine {
  std::vector<char> Buffer;
  SectionLine Fields;
  LineProblem Problem;
  ReadLine(ActionSectionId id, const std::string& text) : Buffer(text.begin(), text.end()) {
    Buffer.push_back('\0');
    Problem = ReadActionLine(id, Buffer.data(), &Fields);
  }
  ReadLine(const ReadLine&) = delete;  // the fields point into Buffer
  // Field k and all of the line after it, as written (before it was cut).
  std::string From(const std::string& text, int k) const { return text.substr((size_t)(Fields.Field[k] - Buffer.data())); }
};

// The first placeholder in text that stands for a folder, whose path may
// hold a blank on the user's machine ("" when none).
std::string FolderPlaceholderIn(const std::string& text) {
  for (const char* p = MbcsFindChar(text.c_str(), '%'); p;) {
    const PlaceholderToken* t = MatchPlaceholderToken(p);
    if (!t) return "";
    if (t->AddsSeparator && t->Kind != PLACEHOLDER_SOURCE_DRIVE) return t->Text;
    p = MbcsFindChar(p + t->Length, '%');
  }
  return "";
}

void Add(std::vector<Diagnostic>* out, int line, const std::string& message, int warning = 0) {
  out->push_back({line, warning, message});
}

void AddAt(std::vector<Diagnostic>* out, int line, int column, const std::string& message) {
  out->push_back({line, 0, message, column});
}

// The first placeholder in text for a folder of Windows ("" when none).
std::string SystemFolderIn(const std::string& text) {
  for (const char* p = MbcsFindChar(text.c_str(), '%'); p;) {
    const PlaceholderToken* t = MatchPlaceholderToken(p);
    if (!t) return "";
    if (t->Kind == PLACEHOLDER_WINDOWS || t->Kind == PLACEHOLDER_SYSTEM) return t->Text;
    p = MbcsFindChar(p + t->Length, '%');
  }
  return "";
}

// An installation for one user runs with that user's rights only: what
// needs more would fail on Windows half-way through, after the files.
std::string NoRightsTo(const std::string& what) {
  return "a per-user installation (Scope = user) has no rights to " + what;
}

// A folder field that writes into a folder of Windows, refused with why.
void RefuseSystemFolder(const std::string& field, const char* what, const char* instead, int line,
                        std::vector<Diagnostic>* out) {
  const std::string folder = SystemFolderIn(field);
  if (!folder.empty()) Add(out, line, std::string(what) + ": " + NoRightsTo(folder) + "; " + instead);
}

}  // namespace

std::string Utf16Encoding(const std::string& bytes) {
  if (bytes.size() < 2) return "";
  const unsigned char a = (unsigned char)bytes[0], b = (unsigned char)bytes[1];
  if ((a == 0xFF && b == 0xFE) || (a != 0 && b == 0)) return "UTF-16 (little-endian)";
  if ((a == 0xFE && b == 0xFF) || (a == 0 && b != 0)) return "UTF-16 (big-endian)";
  return "";
}

std::string FindPlaceholderProblem(const std::string& text) {
  const char* p = MbcsFindChar(text.c_str(), '%');
  while (p) {
    const PlaceholderToken* t = MatchPlaceholderToken(p);
    if (!t) {
      const char* close = MbcsFindChar(p + 1, '%');
      if (!close) return "a lone \"%\" (write %% for a percent sign)";
      std::string name(p, (size_t)(close - p) + 1);
      return "unknown placeholder " + name;
    }
    p = MbcsFindChar(p + t->Length, '%');
  }
  return "";
}

CommandResult CProject::Load(const std::string& path, int codePage) {
  m_Path = path;
  m_Folder = PlatformFolderOf(path);
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return InputFailure("cannot open " + path + ": " + PlatformErrorText(errno));
  char buffer[65536];
  size_t n;
  m_Text.clear();
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) m_Text.append(buffer, n);
  int failed = ferror(f);
  fclose(f);
  if (failed || PlatformIsDirectory(path.c_str())) return InputFailure("cannot read " + path);
  if (m_Text.size() >= 0xFFFFFFFFu) return InputFailure(path + " is too large for a project script");
  const std::string utf16 = Utf16Encoding(m_Text);
  if (!utf16.empty()) return InputFailure(path + " is " + utf16 + " text: save it as UTF-8");
  m_ConvertedFrom = 0;
  // the parser takes the mark too, but a setup program on an older Windows
  // converts the script to its code page first, where the mark is no text
  m_Rewritten = m_Text.compare(0, 3, "\xEF\xBB\xBF") == 0;
  if (m_Rewritten) m_Text.erase(0, 3);
  if (!Utf8IsValid(m_Text.data(), m_Text.size())) {
    std::string utf8;
    if (!PlatformToUtf8(m_Text, codePage, &utf8))
      return InputFailure(path + " is neither UTF-8 nor text of code page " + std::to_string(codePage) +
                          "; give its code page with --codepage");
    m_Text = utf8;
    m_ConvertedFrom = codePage;
    m_Rewritten = true;
  }
  m_Loaded = m_Parser.LoadText(m_Text.data(), (uint32_t)m_Text.size());
  if (m_Loaded) m_AppName = Value("Global", "ApplicationName", "");
  return Succeeded();
}

int CProject::LineAt(const char* p) const {
  int line = 1;
  for (const char* q = m_Text.c_str(); q < p; ++q)
    if (*q == '\n') ++line;
  return line;
}

int CProject::HeaderLine(const char* section) const {
  std::string header = std::string("[") + section + "]";
  const char* found = MbcsFindText(m_Text.c_str(), header.c_str(), header.size());
  return found ? LineAt(found) : 0;
}

int CProject::KeyLine(const char* section, const char* key) const {
  std::string header = std::string("[") + section + "]";
  const char* found = MbcsFindText(m_Text.c_str(), header.c_str(), header.size());
  if (!found) return 0;
  const char* body = MbcsFindChar(found + header.size(), '\n');
  if (!body) return 0;
  const char* end = MbcsFindChar(body, '[');
  if (!end) end = m_Text.c_str() + m_Text.size();
  size_t keyLength = strlen(key);
  for (const char* p = body; *p && p < end; p = MbcsNext(p)) {
    if (*p != '\n' || strncmp(p + 1, key, keyLength) != 0) continue;
    char after = p[1 + keyLength];
    if (after == ' ' || after == '=') return LineAt(p + 1);
  }
  return 0;
}

std::string CProject::Value(const char* section, const char* key, const char* defaultValue) const {
  int32_t n = m_Parser.GetValue(section, key, defaultValue, nullptr, 0);
  if (n <= 1) return "";
  std::vector<char> buffer((size_t)n);
  m_Parser.GetValue(section, key, defaultValue, buffer.data(), n);
  return buffer.data();
}

std::string CProject::Line(const char* section, int index) const {
  int32_t n = m_Parser.GetLine(section, index, nullptr, 0);
  if (n <= 1) return "";
  std::vector<char> buffer((size_t)n);
  m_Parser.GetLine(section, index, buffer.data(), n);
  return buffer.data();
}

// A script path on this system: "\" and "/" both separate, relative paths
// start at the script's folder.
std::string CProject::Resolve(const std::string& source) const {
  std::string p = source;
#ifndef _WIN32
  for (char& c : p)
    if (c == '\\') c = '/';
#endif
  if (!PlatformIsAbsolute(p)) p = PlatformJoin(m_Folder, p);
  return PlatformNormalise(p);
}

void CProject::Check(std::vector<Diagnostic>* out, std::vector<ProjectSource>* sources) const {
  if (!m_Loaded) {
    Add(out, 1, "not a project script: the first line must start with \"QSP40\"");
    return;
  }
  CheckSections(out);
  CheckHiddenKeys("Global", out);
  CheckHiddenKeys("Background", out);
  CheckGlobal(out);
  CheckChoices(out);
  // the pictures first: start-up finds them by their own names
  CheckBackground(out, sources);
  CheckFiles(out, sources);
  for (const ActionSection& section : kActionSections)
    if (section.Id != SECTION_FILES) CheckActionSection(section, out);
}

// Every line as sections go: a header names a known section, a keyed
// section's lines name its keys. What the setup program would pass over
// without a word is refused; what it reads differently is warned about.
void CProject::CheckSections(std::vector<Diagnostic>* out) const {
  const KeyedSection* keyed = nullptr;
  bool inSection = false, firstAppearance = false;
  std::map<std::string, int> seen;  // keys of the first appearance, by line
  int here = 1;
  for (const char* line = m_Text.c_str(); *line; ++here) {
    const char* next = MbcsFindChar(line, '\n');
    std::string text(line, next ? (size_t)(next - line) : strlen(line));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (here > 1 && text[0] == '[') {
      keyed = CheckHeader(text, here, out) ? FindKeyedSection(text.substr(1, text.find(']') - 1)) : nullptr;
      firstAppearance = keyed && HeaderLine(keyed->Name) == here;
      inSection = true;
    } else if (keyed) {
      CheckKeyLine(*keyed, text, here, firstAppearance ? &seen : nullptr, out);
    } else if (here > 1 && !inSection && !IsBlankLine(text)) {
      Add(out, here, "this line is in no section, so the setup program never reads it", 1);
      inSection = true;  // once is enough
    }
    if (!next) break;
    line = next + 1;
  }
}

// 1 when the header names a section the setup program reads.
int CProject::CheckHeader(const std::string& text, int here, std::vector<Diagnostic>* out) const {
  const size_t close = text.find(']');
  if (close == std::string::npos) {
    Add(out, here, "`" + text + "` is no section header (no \"]\"), yet it ends the section above it");
    return 0;
  }
  const std::string name = text.substr(1, close - 1);
  // [Files:docs]: an action section given for a component or task
  size_t sectionLength;
  const char* choice = SplitChoiceHeader(name.c_str(), &sectionLength);
  const std::string section = name.substr(0, sectionLength);
  if (!FindKeyedSection(section) && !FindActionSection(section.c_str()) && !IsChoiceSection(section)) {
    Add(out, here, "`[" + name + "]`: no such section; " + Suggestion(section, SectionNames(), "section", "[", "]"));
    return 0;
  }
  if (choice && !FindActionSection(section.c_str())) {
    Add(out, here, "`[" + name + "]`: only an action section ([Files], [Shortcuts] ...) can be given for a "
                   "component or task");
    return 0;
  }
  if (choice) {
    const std::vector<std::string> names = ChoiceNames();
    if (std::find(names.begin(), names.end(), choice) == names.end()) {
      const std::string nearest = NearestName(choice, names);
      std::string all;
      for (const std::string& n : names) all += (all.empty() ? "" : ", ") + n;
      Add(out, here, "`[" + name + "]` names no component or task, so its lines would never run; " +
                         (names.empty()     ? std::string("list it in [Components] or [Tasks]")
                          : nearest.empty() ? "the components and tasks are " + all
                                            : "did you mean `" + nearest + "`?" +
                                                  (Lower(nearest) == Lower(choice) ? " (names are case-sensitive)" : "")));
      return 0;
    }
  }
  const int first = HeaderLine(name.c_str());
  if (first != here)
    Add(out, here,
        "[" + name + "] is never read here: the setup program takes the section from its first appearance, on line " +
            std::to_string(first),
        1);
  return 1;
}

// A line of a keyed section: a known key in the first column, then "=".
void CProject::CheckKeyLine(const KeyedSection& section, const std::string& text, int here,
                            std::map<std::string, int>* seen, std::vector<Diagnostic>* out) const {
  if (IsBlankLine(text)) return;
  const size_t start = text.find_first_not_of(" \t");
  const size_t end = text.find_first_of(" \t=", start);
  const std::string key = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const std::string where = " in [" + std::string(section.Name) + "]";
  if (key.empty()) return Add(out, here, "this line of [" + std::string(section.Name) + "] names no key: write KEY = VALUE");
  if (!HasKey(section, key)) {
    if (key == "Language" && std::string(section.Name) == "Global")
      return Add(out, here, "Language is not read: the setup program speaks the language of its translation table "
                            "(quillset build --language)", 1);
    for (const KeyedSection& other : kKeyedSections)
      if (&other != &section && HasKey(other, key))
        return Add(out, here, "`" + key + "` belongs in [" + other.Name + "], not [" + section.Name + "]");
    return Add(out, here, "`" + key + "`: no such key" + where + "; " +
                              Suggestion(key, std::vector<std::string>(section.Keys.begin(), section.Keys.end()), "key"));
  }
  if (start > 0)
    return Add(out, here, "`" + key + "` is indented: the setup program finds a key only at the start of its line");
  if (end != std::string::npos && text[end] == '\t')
    return Add(out, here, "a tab follows `" + key + "`: the setup program takes only blanks and \"=\" after a key");
  if (text.find('=', end == std::string::npos ? text.size() : end) == std::string::npos)
    return Add(out, here, "`" + key + "` has no \"=\": write " + key + " = VALUE");
  if (!seen) return;
  auto found = seen->emplace(key, here);
  if (!found.second)
    Add(out, here, key + " is given again: the setup program reads the first, on line " +
                       std::to_string(found.first->second), 1);
}

// A "[" anywhere in a keyed section ends it for the setup program, even
// inside a value: the keys below it read as missing.
void CProject::CheckHiddenKeys(const char* section, std::vector<Diagnostic>* out) const {
  std::string header = std::string("[") + section + "]";
  const char* found = MbcsFindText(m_Text.c_str(), header.c_str(), header.size());
  if (!found) return;
  const char* body = MbcsFindChar(found + header.size(), '\n');
  if (!body) return;
  const char* bracket = MbcsFindChar(body, '[');
  if (!bracket || bracket[-1] == '\n') return;
  std::string hidden;
  const char* line = MbcsFindChar(bracket, '\n');
  while (line && line[1] && line[1] != '[') {
    const char* start = line + 1;
    const char* end = start;
    while (*end && *end != '\n' && *end != '\r' && *end != ' ' && *end != '=') ++end;
    if (end > start) hidden += (hidden.empty() ? "" : ", ") + std::string(start, end);
    line = MbcsFindChar(start, '\n');
  }
  if (hidden.empty()) return;
  Add(out, LineAt(bracket),
      "the \"[\" in this value ends " + header + " for the setup program: " + hidden +
          " below it will be ignored",
      1);
}

int CProject::LanguageDialogLine() const {
  return Value("Global", "ShowLanguageDialog", "FALSE") == "TRUE" ? KeyLine("Global", "ShowLanguageDialog") : 0;
}

bool CProject::PerUser() const { return Value("Global", "Scope", "machine") == "user"; }

std::string CProject::Compression() const {
  return KeyLine("Global", "Compression") ? Value("Global", "Compression", "") : "";
}

void CProject::CheckGlobal(std::vector<Diagnostic>* out) const {
  if (int line = KeyLine("Global", "Compression")) {
    std::string c = Compression();
    if (c != "zlib" && c != "lzma" && c != "stored")
      Add(out, line, "Compression = " + c + ": give zlib, lzma or stored");
  }
  int global = HeaderLine("Global");
  int32_t n = m_Parser.GetValue("Global", "ApplicationName", "", nullptr, 0);
  int keyLine = KeyLine("Global", "ApplicationName");
  if (n == 0) {
    Add(out, keyLine, "ApplicationName is empty");
  } else if (n == 1) {
    if (!global) {
      Add(out, 1, "no [Global] section: it must give ApplicationName");
    } else {
      std::string message = "[Global] has no ApplicationName";
      // say why when the key is there but the setup program cannot see it
      const char* p = strstr(m_Text.c_str(), "\nApplicationName");
      if (p) message += " that the setup program can read (the one on line " +
                        std::to_string(LineAt(p + 1)) + " is outside [Global] or hidden by a \"[\" above it)";
      Add(out, global, message);
    }
  }
  if (KeyLine("Global", "DefaultDir")) {
    std::string dir = Value("Global", "DefaultDir", "C:\\");
    int line = KeyLine("Global", "DefaultDir");
    std::string problem = FindPlaceholderProblem(dir);
    if (!problem.empty())
      Add(out, line, "DefaultDir: " + problem);
    else if (dir.find("%MAINDIR%") != std::string::npos)
      Add(out, line, "DefaultDir cannot use %MAINDIR%: the installation folder is made from DefaultDir");
    else if (PerUser())
      RefuseSystemFolder(dir, "DefaultDir", "use %PROGRAMFILES%, which is the user's programs folder", line, out);
  }
  for (const char* key : {"AllowChangeInstallDir", "ShowEULAPage", "KeepInstalledDir", "ShowLanguageDialog"}) {
    int line = KeyLine("Global", key);
    std::string v = Value("Global", key, "FALSE");
    if (line && v != "TRUE" && v != "FALSE")
      Add(out, line, std::string(key) + " = " + v + " is read as FALSE: only TRUE (exactly) turns it on", 1);
  }
  CheckAppId(out);
  if (const int line = KeyLine("Global", "SetupIcon"))
    if (Value("Global", "SetupIcon", "").empty()) Add(out, line, "SetupIcon is empty: leave it out, or name an .ico file");
  if (const int line = KeyLine("Global", "LicenseFile"))
    if (Value("Global", "LicenseFile", "").empty()) Add(out, line, "LicenseFile is empty: leave it out, or name a text file");
  if (const int line = KeyLine("Global", "WizardImage"))
    if (Value("Global", "WizardImage", "").empty()) Add(out, line, "WizardImage is empty: leave it out, or name a .bmp file");
}

std::string CProject::Identity(const char* key, int* line) const {
  *line = KeyLine("Global", key);
  if (!*line) return "";
  const std::string value = Value("Global", key, "");
  const bool file = std::string(key) == "SetupIcon" || std::string(key) == "LicenseFile" ||
                    std::string(key) == "WizardImage";
  return file && !value.empty() ? Resolve(value) : value;
}

// AppId names a registry key below ...\Uninstall, taken as it stands; the
// issue on upgrades finds an installation by it, so it must stay a plain name.
void CProject::CheckAppId(std::vector<Diagnostic>* out) const {
  const int line = KeyLine("Global", "AppId");
  const std::string id = Value("Global", "AppId", "");
  if (line) {
    if (id.empty())
      Add(out, line, "AppId is empty: leave it out, or name the Add/Remove Programs entry");
    else if (id.find_first_of("\\/") != std::string::npos)
      Add(out, line, "AppId " + id + " holds a \"\\\" or \"/\": it is one registry key name");
    else if (id.find('%') != std::string::npos)
      Add(out, line, "AppId " + id + " holds a \"%\": it is used as it stands, placeholders are not filled in");
    else if (id.size() > 200)
      Add(out, line, "AppId is longer than 200 characters");
  }
  const int rootLine = KeyLine("Global", "AppIdRoot");
  const std::string root = Value("Global", "AppIdRoot", "");
  if (rootLine && root != "HKEY_LOCAL_MACHINE" && root != "HKEY_CURRENT_USER")
    Add(out, rootLine, "AppIdRoot = " + root + ": use HKEY_LOCAL_MACHINE (the default) or HKEY_CURRENT_USER");
  // Version and Publisher also name the setup file's vendor
  const int rootKeyLine = KeyLine("Global", "AppIdRoot");
  if (rootKeyLine && !line)
    Add(out, rootKeyLine, "AppIdRoot is used only for the Add/Remove Programs entry, which needs AppId", 1);
  const int scopeLine = KeyLine("Global", "Scope");
  const std::string scope = Value("Global", "Scope", "machine");
  if (scopeLine && scope != "machine" && scope != "user" && scope != "choose")
    Add(out, scopeLine, "Scope = " + scope + ": use machine (the default), user or choose");
  if (PerUser() && root == "HKEY_LOCAL_MACHINE")
    Add(out, rootLine,
        "AppIdRoot = HKEY_LOCAL_MACHINE: " + NoRightsTo("HKEY_LOCAL_MACHINE") +
            "; its Add/Remove Programs entry goes under HKEY_CURRENT_USER (leave AppIdRoot out)");
  const int keepLine = KeyLine("Global", "KeepInstalledDir");
  if (keepLine && !line)
    Add(out, keepLine, "KeepInstalledDir needs AppId: the installed version is found by its entry", 1);
}

void CProject::AddSource(const ProjectSource& s, std::vector<Diagnostic>* out,
                         std::vector<ProjectSource>* sources) const {
  for (const ProjectSource& other : *sources) {
    if (EfsCompareNames(other.Name.c_str(), s.Name.c_str()) != 0) continue;
    if (!PlatformSamePath(other.Path, s.Path))
      Add(out, s.Line,
          "another file named " + other.Name + " is stored from line " + std::to_string(other.Line) +
              " (" + other.Path + "); the setup file keeps files by name, so names must differ");
    return;
  }
  if (s.Name.size() > 255) {
    Add(out, s.Line, "file name longer than 255 bytes: " + s.Name);
    return;
  }
  for (const char* reserved : {"default.qsp", "Translations.ini", EFS_LICENCE_ENTRY, EFS_WIZARD_IMAGE_ENTRY})
    if (EfsCompareNames(s.Name.c_str(), reserved) == 0) {
      Add(out, s.Line,
          "the setup file keeps its own " + std::string(reserved) + "; rename " + s.Path);
      return;
    }
  sources->push_back(s);
}

void CProject::CheckFiles(std::vector<Diagnostic>* out, std::vector<ProjectSource>* sources) const {
  std::vector<FileToInstall> install;
  bool plain = true;  // every line one file to a file path
  // [Files], then the sections of the components and tasks
  for (const std::string& header : ChoiceHeaders(kActionSections[SECTION_FILES].Name))
  for (int i = 0, count = m_Parser.GetLineCount(header.c_str()); i < count; ++i) {
    const char* files = header.c_str();
    int line;
    std::string text;
    if (!ActionLine(files, i, false, out, &line, &text)) continue;
    FilesLine fields;
    if (!SplitFilesLine(text.c_str(), &fields)) {
      AddAt(out, line, (int)text.size() + 1, "[Files] line has no comma: write \"source, destination\"");
      continue;
    }
    std::string source = TrimBlanks(std::string(fields.Source, fields.SourceLength));
    std::string destination = fields.Destination;
    if (destination.empty()) {
      Add(out, line, "[Files] line has no destination after the comma");
      continue;
    }
    std::string problem = FindPlaceholderProblem(destination);
    if (!problem.empty()) {
      Add(out, line, problem);
      continue;
    }
    if (PerUser())
      RefuseSystemFolder(destination, "the destination", "install into %MAINDIR% or another folder of the user's",
                         line, out);
    const size_t before = install.size();
    ExpandFilesLine(source, destination, line, m_Folder, m_AppName, &install, out);
    for (size_t k = before; k < install.size(); ++k) install[k].Section = header;
    if (install.size() != before + 1 || install.back().Destination != destination) plain = false;
  }
  // the names the setup file keeps for itself and for start-up's pictures
  std::vector<std::string> taken = {"default.qsp", "Translations.ini", EFS_LICENCE_ENTRY, EFS_WIZARD_IMAGE_ENTRY};
  for (const ProjectSource& s : *sources) taken.push_back(s.Name);
  std::vector<StoredFile> stored;
  const bool named = NameStoredFiles(&install, taken, &stored, out) != 0;
  for (const StoredFile& f : stored) AddSource({f.Path, f.Name, f.Line}, out, sources);
  m_LinesNameEntries = named;
  m_StoredText.clear();
  if (named || !plain) m_StoredText = WithExplicitFilesLines(m_Text, install, stored);
  CheckRunAfterInstall(install, out);
}

// The program the finish page offers to start: named by its full path, and
// where it lies in the installation's own folder, one of its files.
void CProject::CheckRunAfterInstall(const std::vector<FileToInstall>& install, std::vector<Diagnostic>* out) const {
  const int line = KeyLine("Global", "RunAfterInstall");
  if (!line) return;
  const std::string value = Value("Global", "RunAfterInstall", "");
  LaunchCommand parts;
  const LaunchCommandProblem split = SplitLaunchCommand(value.c_str(), &parts);
  if (split != LAUNCH_COMMAND_OK)
    return Add(out, line,
               split == LAUNCH_COMMAND_UNCLOSED_QUOTE
                   ? "RunAfterInstall: the quote before the program is never closed"
                   : "RunAfterInstall names no program: write RunAfterInstall = %MAINDIR%App.exe [arguments]");
  const std::string problem = FindPlaceholderProblem(value);
  if (!problem.empty()) return Add(out, line, "RunAfterInstall: " + problem);
  const std::string program(parts.Program, parts.ProgramLength);
  if (program[0] != '%' && !IsFullLaunchPath(program.c_str()))
    return Add(out, line,
               "RunAfterInstall: " + program +
                   " is no full path; the setup program starts only a program named with its folder "
                   "(%MAINDIR%App.exe)");
  const std::string mainDir = "%MAINDIR%";
  if (program.compare(0, mainDir.size(), mainDir) != 0) return;
  auto same = [](const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      char x = a[i] == '/' ? '\\' : a[i], y = b[i] == '/' ? '\\' : b[i];
      if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
      if (x != y) return false;
    }
    return true;
  };
  for (const FileToInstall& f : install)
    if (same(f.Destination, program)) return;
  Add(out, line,
      "RunAfterInstall: " + program + " is not a file the script installs" +
          (parts.Arguments[0] ? " (quote a program whose path has blanks)" : ""),
      1);
}

void CProject::CheckBackground(std::vector<Diagnostic>* out, std::vector<ProjectSource>* sources) const {
  int useLine = KeyLine("Background", "UseBackground");
  std::string use = Value("Background", "UseBackground", "FALSE");
  if (use != "TRUE") {
    if (useLine && use != "FALSE")
      Add(out, useLine, "UseBackground = " + use + " is read as FALSE: only TRUE (exactly) turns it on", 1);
    return;
  }
  for (const char* key : {"Bitmap", "Metafile"}) {
    std::string value = Value("Background", key, "");
    if (value.empty()) continue;
    int line = KeyLine("Background", key);
    std::string name = FileNamePart(value);
    if (name.empty()) {
      Add(out, line, std::string(key) + " " + value + " names a folder, not a file");
      continue;
    }
    AddSource({Resolve(value), name, line, true}, out, sources);
  }
  for (const char* key : {"TopColor", "BottomColor"}) {
    int line = KeyLine("Background", key);
    std::string v = Value("Background", key, "");
    if (!line || v.empty()) continue;
    bool hex = v.size() <= 6;
    for (char c : v)
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) hex = false;
    if (!hex)
      Add(out, line, std::string(key) + " = " + v + " is not six hexadecimal digits (BBGGRR)", 1);
  }
  int placementLine = KeyLine("Background", "BitmapPlacement");
  std::string placement = Value("Background", "BitmapPlacement", "STRETCH");
  if (placementLine && placement != "STRETCH" && placement != "CENTER" && placement != "TILE")
    Add(out, placementLine,
        "BitmapPlacement = " + placement + " draws no bitmap: use STRETCH, CENTER or TILE", 1);
}

namespace {

// An [INIFiles] line's file, and where its value ends at a blank that the
// author did not mean.
void CheckIniValue(const ActionSection& section, int line, const std::string& text, const std::string& expanded,
                   const ReadLine& read, std::vector<Diagnostic>* out) {
  if (TrimBlanks(read.Fields.Field[0]).empty())
    return Add(out, line, "[INIFiles] line names no INI file: the setup program cannot write its entry");
  // in double quotes the whole value is written, blanks and all
  if (read.Fields.Quoted) return;
  const std::string value = TrimBlanks(read.From(expanded, 3));
  const ReadLine written(section.Id, text);
  const std::string field = written.Problem ? "" : written.From(text, 3);
  const std::string folder = FolderPlaceholderIn(field);
  if (!folder.empty())
    Add(out, line,
        "the value " + Quote(TrimBlanks(field)) + " is not in double quotes: " + folder +
            " can hold a blank, and the value ends at the first one",
        1);
  else if (value.find(' ') != std::string::npos)
    Add(out, line,
        "the value " + Quote(value) + " has a blank: only " + Quote(value.substr(0, value.find(' '))) +
            " is written (put it in double quotes)",
        1);
}

// A [Shortcuts] line's file and icon index.
void CheckIconIndex(const ActionSection&, int line, const std::string&, const std::string& expanded,
                    const ReadLine& read, std::vector<Diagnostic>* out) {
  if (TrimBlanks(read.Fields.Field[0]).empty())
    return Add(out, line, "[Shortcuts] line names no shortcut file: the setup program cannot save the shortcut");
  std::string index = TrimBlanks(read.From(expanded, 6));
  if (!index.empty() && !IsDecimal(index)) Add(out, line, "icon index " + Quote(index) + " is not a decimal number", 1);
}

// What the setup program would write of a [SysRegInt] or [SysRegString]
// line it can read.
void CheckRegistryValue(const ActionSection& section, int line, const std::string&, const std::string&,
                        const ReadLine& read, std::vector<Diagnostic>* out) {
  const char* value = read.Fields.Field[3];
  if (section.Id == SECTION_SYSREGSTRING) {
    if (!value || !*value)
      Add(out, line, "[SysRegString] line has no value after \"=\": the setup program cannot write an empty string");
  } else if (value && !IsDecimal(value)) {
    Add(out, line, "the value " + Quote(value) + " is not a decimal number; the setup program writes its leading digits only", 1);
  }
}

// The column of the reader's problem in the line as written (text is what
// follows its flag): where the placeholders before it left the text as it
// stands; 0 where they did not.
int ColumnOf(const std::string& written, const std::string& text, const std::string& expanded, const ReadLine& read) {
  const size_t before = read.Fields.Column - 1;
  if (!read.Fields.Column || before > text.size() || expanded.compare(0, before, text, 0, before) != 0) return 0;
  return (int)(written.size() - text.size() + read.Fields.Column);
}

// Why the setup program cannot read a line, as the author can mend it.
std::string LineProblemText(const ActionSection& section, const ReadLine& read) {
  const std::string root = read.Buffer.data();  // the reader cut the line after the root
  switch (read.Problem) {
    case LINE_NO_ROOT:
      return std::string("registry line has no \"/\": write ROOT/KEY") +
             (section.Id == SECTION_SYSREGUNINSTALL ? "" : "/NAME=VALUE") +
             " with ROOT one of HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CURRENT_CONFIG";
    case LINE_UNKNOWN_ROOT:
      return "unknown registry root " + Quote(root) +
             ": use HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_CURRENT_CONFIG (the names are "
             "case-sensitive)";
    case LINE_NO_VALUE_NAME:
      return "registry line has no value name: write " + root +
             "/KEY/NAME=VALUE (KEY/ with nothing after it for the key's default value)";
    case LINE_NO_KEY:
      return "names no key below " + root + ": the uninstaller would have to remove the whole root";
    default:
      return std::string("[") + section.Name + "] line cannot be read";
  }
}

// The system splits an unquoted program path at its first blank and tries
// each piece: C:\Program.exe before C:\Program Files\App\app.exe, and the
// setup program runs elevated.
void CheckExecuteLine(const ActionSection&, int line, const std::string& text, const std::string&, const ReadLine&,
                      std::vector<Diagnostic>* out) {
  std::string command = SkipBlanks(text);
  if (command.size() > 1 && command[0] == '%' && command[1] != '%') {
    size_t end = command.find_first_of(" \t");
    std::string program = command.substr(0, end);
    Add(out, line,
        "the program " + program + " is not in quotes: where the folder has a blank, Windows tries "
        "another program first (C:\\Program.exe for C:\\Program Files\\...); write \"" + program + "\"" +
            (end == std::string::npos ? "" : " followed by its arguments"),
        1);
  }
}

// What a standard user has no rights to, in a line of an installation for
// one user: the machine's registry keys, and writing into Windows' folders.
// A program run or registered from there is only warned about: it may well
// change nothing of the machine's.
void CheckForOneUser(const ActionSection& section, int line, const std::string& text, const ReadLine& read,
                     std::vector<Diagnostic>* out) {
  const size_t comma = FindChar(text, ',');
  const std::string first = text.substr(0, comma);
  switch (section.Id) {
    case SECTION_SYSREGUNINSTALL:
    case SECTION_SYSREGINT:
    case SECTION_SYSREGSTRING: {
      const std::string root = read.Fields.Field[0];
      if (root == "HKEY_LOCAL_MACHINE")
        Add(out, line, NoRightsTo("HKEY_LOCAL_MACHINE: use HKEY_CURRENT_USER"));
      else if (root == "HKEY_CLASSES_ROOT")
        Add(out, line,
            NoRightsTo("HKEY_CLASSES_ROOT, whose new keys Windows writes under HKEY_LOCAL_MACHINE: use "
                       "HKEY_CURRENT_USER/Software/Classes"));
      else if (root == "HKEY_CURRENT_CONFIG")
        Add(out, line, NoRightsTo("HKEY_CURRENT_CONFIG, which is the machine's: use HKEY_CURRENT_USER"));
      return;
    }
    case SECTION_SHORTCUTS:
      return RefuseSystemFolder(first, "the shortcut file", "use %PROGRAMS%, %DESKTOP% or %STARTUP%", line, out);
    case SECTION_INIFILES:
      return RefuseSystemFolder(first, "the INI file", "keep it in %MAINDIR% or another folder of the user's", line,
                                out);
    case SECTION_REGISTERDLLS:
      if (!SystemFolderIn(text).empty())
        return RefuseSystemFolder(text, "the DLL", "register only the application's own DLLs", line, out);
      return Add(out, line,
                 "a DLL registers itself under HKEY_CLASSES_ROOT, which Windows writes under HKEY_LOCAL_MACHINE: "
                 "a per-user installation (Scope = user) has no rights there unless the DLL registers per user",
                 1);
    case SECTION_EXECUTE: {
      // a program of Windows' is run like any; a folder of Windows' in its
      // arguments is likely where it would write
      const std::string command = SkipBlanks(text);
      const size_t end = command[0] == '"' ? FindChar(command, '"', 1) : command.find_first_of(" \t");
      const std::string folder = end == std::string::npos ? "" : SystemFolderIn(command.substr(end));
      if (!folder.empty())
        Add(out, line,
            "a per-user installation (Scope = user) runs this without administrator rights: it cannot change " +
                folder + " or other things of the machine's",
            1);
      return;
    }
    default:
      return;
  }
}

}  // namespace

int CProject::ActionLine(const char* section, int index, bool placeholders, std::vector<Diagnostic>* out,
                         int* line, std::string* text) const {
  *line = m_Parser.GetLineNumber(section, index);
  *text = Line(section, index);
  if (IsBlankLine(*text)) {
    Add(out, *line, std::string("empty line in [") + section + "]: every line of an action section is an action");
    return 0;
  }
  // a flag in front of the line: the rest is checked as any line
  size_t ownLength;
  SplitChoiceHeader(section, &ownLength);
  const ActionSection* own = FindActionSection(std::string(section, ownLength).c_str());
  if (const char* rest = SkipLineFlag(text->c_str(), own ? own->Flag : nullptr)) {
    *text = rest;
    m_UsesLineFlags = true;
  } else {
    for (const ActionSection& other : kActionSections)
      if (SkipLineFlag(text->c_str(), other.Flag)) {
        std::string sections;
        for (const ActionSection& a : kActionSections)
          if (a.Flag && strcmp(a.Flag, other.Flag) == 0) sections += std::string(sections.empty() ? "[" : ", [") + a.Name + "]";
        Add(out, *line, std::string(other.Flag) + " is a flag of " + sections + " only");
        return 0;
      }
  }
  if (!placeholders) return 1;
  std::string problem = FindPlaceholderProblem(*text);
  if (problem.empty()) return 1;
  Add(out, *line, problem);
  return 0;
}

void CProject::CheckActionSection(const ActionSection& section, std::vector<Diagnostic>* out) const {
  // What a line needs beyond what the setup program's reader takes from it;
  // [Files] names the files to store and has CheckFiles.
  typedef void (*LineChecker)(const ActionSection&, int, const std::string&, const std::string&, const ReadLine&,
                              std::vector<Diagnostic>*);
  static const struct {
    ActionSectionId Id;
    LineChecker Check;
  } kCheckers[] = {
      {SECTION_SHORTCUTS, CheckIconIndex},         {SECTION_INIFILES, CheckIniValue},
      {SECTION_SYSREGINT, CheckRegistryValue},     {SECTION_SYSREGSTRING, CheckRegistryValue},
      {SECTION_EXECUTE, CheckExecuteLine},
  };
  for (const std::string& header : ChoiceHeaders(section.Name))
  for (int i = 0, count = m_Parser.GetLineCount(header.c_str()); i < count; ++i) {
    int line;
    std::string text;
    if (!ActionLine(header.c_str(), i, true, out, &line, &text)) continue;
    // the setup program fills in the placeholders before it reads the line
    std::string expanded = ExpandForBuild(text, m_AppName);
    const ReadLine read(section.Id, expanded);
    const int commas = CountChar(expanded, ',');
    // a comma too many in a line of fixed fields shifts them: refused too
    if (read.Problem == LINE_NO_COMMA || (section.ExactCommas && commas > section.Commas)) {
      std::string message = std::string("[") + section.Name + "] line needs " +
                            (section.ExactCommas ? "" : "at least ") + std::to_string(section.Commas) +
                            (section.Commas == 1 ? " comma (" : " commas (") +
                            (section.Fields ? section.Fields : "") + "), found " + std::to_string(commas);
      if (commas != CountChar(text, ',')) message += " once %APPNAME% is filled in";
      AddAt(out, line, ColumnOf(Line(header.c_str(), i), text, expanded, read), message);
      continue;
    }
    if (read.Problem) {
      AddAt(out, line, ColumnOf(Line(header.c_str(), i), text, expanded, read), LineProblemText(section, read));
      continue;
    }
    for (const auto& checker : kCheckers)
      if (checker.Id == section.Id) checker.Check(section, line, text, expanded, read, out);
    if (PerUser()) CheckForOneUser(section, line, text, read, out);
  }
}

std::vector<std::string> CProject::ChoiceNames() const {
  std::vector<std::string> names;
  for (const char* section : kChoiceSections)
    for (int i = 0, count = m_Parser.GetLineCount(section); i < count; ++i) {
      const std::string text = Line(section, i);
      ChoiceLine line;
      if (!ReadChoiceLine(text.c_str(), &line)) continue;
      // a name given again is refused, and the setup program passes it over
      const std::string name(line.Name, line.NameLength);
      bool again = false;
      for (const std::string& n : names) again = again || Lower(n) == Lower(name);
      if (!again) names.push_back(name);
    }
  return names;
}

std::vector<std::string> CProject::ChoiceHeaders(const char* section) const {
  std::vector<std::string> headers = {section};
  for (const std::string& name : ChoiceNames()) headers.push_back(std::string(section) + ":" + name);
  return headers;
}

void CProject::CheckChoices(std::vector<Diagnostic>* out) const {
  std::map<std::string, int> defined;  // by name without regard to case, its line
  for (const char* section : kChoiceSections) {
    const std::string where = std::string("[") + section + "]";
    const std::string kind = section == kChoiceSections[0] ? "component" : "task";
    for (int i = 0, count = m_Parser.GetLineCount(section); i < count; ++i) {
      const int here = m_Parser.GetLineNumber(section, i);
      const std::string text = Line(section, i);
      if (IsBlankLine(text)) {
        Add(out, here, "empty line in " + where + ": write NAME, DESCRIPTION[, FLAGS] on every line");
        continue;
      }
      ChoiceLine line;
      if (!ReadChoiceLine(text.c_str(), &line)) {
        const std::string at = text.substr(line.Column - 1, line.Length);
        std::string message;
        switch (line.Problem) {
          case CHOICE_NO_NAME:
            message = where + " line has no name before its comma: write NAME, DESCRIPTION[, FLAGS]";
            break;
          case CHOICE_BAD_NAME:
            message = "`" + at + "` cannot name a " + kind + ": use 1 to " + std::to_string(kChoiceNameMax) +
                      " letters, digits, \"_\", \"-\" or \".\" (a header such as [Files:NAME] names it after its "
                      "colon)";
            break;
          case CHOICE_NO_DESCRIPTION:
            message = where + " line has no description: write NAME, DESCRIPTION[, FLAGS]";
            break;
          case CHOICE_OPEN_QUOTE:
            message = "the description's double quote is not closed";
            break;
          case CHOICE_AFTER_QUOTE:
            message = "`" + at + "` follows the description's closing quote: a comma goes before the flags";
            break;
          case CHOICE_UNKNOWN_FLAG: {
            const std::string nearest = NearestName(at, {"fixed", "unchecked"});
            message = "unknown flag `" + at + "`: " +
                      (nearest.empty() ? std::string("the flags are fixed and unchecked (a description that holds a "
                                                     "comma goes in double quotes)")
                                       : "did you mean `" + nearest + "`? (flags are case-sensitive)");
            break;
          }
          default:
            message = "fixed and unchecked exclude each other: a fixed " + kind + " is always " +
                      (kind == "task" ? "done" : "installed");
        }
        Add(out, here, message);
        continue;
      }
      const std::string name(line.Name, line.NameLength);
      auto first = defined.emplace(Lower(name), here);
      if (!first.second) {
        Add(out, here, "`" + name + "` is defined twice, first on line " + std::to_string(first.first->second) +
                           " (names of components and tasks are compared without regard to case)");
        continue;
      }
      const std::string problem = FindPlaceholderProblem(std::string(line.Description, line.DescriptionLength));
      if (!problem.empty()) Add(out, here, "the description: " + problem);
    }
  }
}
