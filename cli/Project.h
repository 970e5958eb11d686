// The project script as the command sees it: loaded through the parser of
// the setup program, checked line by line before anything is written, and
// the list of files that go into the container.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "script/FileParser.h"

struct ActionSection;
struct FileToInstall;
struct KeyedSection;

// A file to store, found in the script.
struct ProjectSource {
  std::string Path;  // resolved against the script's folder
  std::string Name;  // entry name: the file name of the path
  int Line;
  bool Startup = false;  // read by start-up (a background picture), not by [Files]
};

class CProject {
 public:
  // Reads the script: as UTF-8 when it is valid UTF-8, else as text of
  // codePage, which it is converted from. A failure when the file cannot be
  // read or is no text of codePage either.
  CommandResult Load(const std::string& path, int codePage = 1252);
  // The code page the script was converted from, 0 when it was UTF-8 (or
  // ASCII) as it stands.
  int ConvertedFrom() const { return m_ConvertedFrom; }
  // True when the text to store is not the file's bytes: converted, or
  // without the file's UTF-8 byte-order mark.
  bool Rewritten() const { return m_Rewritten; }

  // Every problem of the script, and the distinct files it names ([Files]
  // sources, and the background pictures when the background is on).
  void Check(std::vector<Diagnostic>* problems, std::vector<ProjectSource>* sources) const;

  // 0 when the file does not start as a project script: nothing else
  // about it is worth saying.
  int IsScript() const { return m_Loaded; }
  const std::string& Path() const { return m_Path; }
  const std::string& Folder() const { return m_Folder; }
  const std::string& ApplicationName() const { return m_AppName; }
  const std::string& Text() const { return m_Text; }
  // [Global] Compression: "zlib", "lzma", "stored", or "" when not given
  // (an unknown value is a problem that Check reports).
  std::string Compression() const;
  // After Check: the script as the setup file stores it when its [Files]
  // lines were expanded ("" when it is stored as it stands), and whether
  // those lines name their stored file in their source.
  const std::string& StoredText() const { return m_StoredText; }
  bool LinesNameEntries() const { return m_LinesNameEntries; }
  // A line starts with a flag ("ifabsent:", "ifempty:"), which a setup
  // program of before would take for a part of the line.
  bool UsesLineFlags() const { return m_UsesLineFlags; }
  // [Global] SetupIcon, LicenseFile or WizardImage (its path, resolved like
  // a [Files] source), Publisher or Version, with its line; "" and 0 when
  // not given.
  std::string Identity(const char* key, int* line) const;
  // Line of [Global] ShowLanguageDialog = TRUE, 0 when it is not on.
  int LanguageDialogLine() const;
  // [Global] Scope = user: the installation is for one user, who has no
  // administrator rights (choose may be the machine's, and is not).
  bool PerUser() const;

 private:
  int LineAt(const char* p) const;
  // Line of the first "[section]" in the text (where the parser looks), or 0.
  int HeaderLine(const char* section) const;
  // Line of key in a keyed section as the parser finds it, or 0.
  int KeyLine(const char* section, const char* key) const;
  std::string Value(const char* section, const char* key, const char* defaultValue) const;
  std::string Line(const char* section, int index) const;
  std::string Resolve(const std::string& source) const;

  // Line index of an action section and its text; 0 after reporting a
  // blank line (or, with placeholders, a bad placeholder in it).
  int ActionLine(const char* section, int index, bool placeholders, std::vector<Diagnostic>* out, int* line,
                 std::string* text) const;
  void CheckSections(std::vector<Diagnostic>* out) const;
  int CheckHeader(const std::string& text, int line, std::vector<Diagnostic>* out) const;
  void CheckKeyLine(const KeyedSection& section, const std::string& text, int line, std::map<std::string, int>* seen,
                    std::vector<Diagnostic>* out) const;
  void CheckHiddenKeys(const char* section, std::vector<Diagnostic>* out) const;
  void CheckGlobal(std::vector<Diagnostic>* out) const;
  void CheckAppId(std::vector<Diagnostic>* out) const;
  void CheckBackground(std::vector<Diagnostic>* out, std::vector<ProjectSource>* sources) const;
  void CheckFiles(std::vector<Diagnostic>* out, std::vector<ProjectSource>* sources) const;
  void CheckRunAfterInstall(const std::vector<FileToInstall>& install, std::vector<Diagnostic>* out) const;
  // Every line of an action section but [Files], by its description.
  void CheckActionSection(const ActionSection& section, std::vector<Diagnostic>* out) const;
  void AddSource(const ProjectSource& s, std::vector<Diagnostic>* out,
                 std::vector<ProjectSource>* sources) const;
  // [Components] and [Tasks]: every line one that reads, no name twice.
  void CheckChoices(std::vector<Diagnostic>* out) const;
  // The names of the components and tasks whose lines read, in order.
  std::vector<std::string> ChoiceNames() const;
  // The headers a section runs under: its own, then one per component
  // and task ("Files:docs").
  std::vector<std::string> ChoiceHeaders(const char* section) const;

  std::string m_Path;
  std::string m_Folder;
  std::string m_Text;
  std::string m_AppName;
  int m_Loaded = 0;
  int m_ConvertedFrom = 0;
  bool m_Rewritten = false;
  CFileParser m_Parser;
  // what Check found of [Files]
  mutable std::string m_StoredText;
  mutable bool m_LinesNameEntries = false;
  mutable bool m_UsesLineFlags = false;
};

// "UTF-16 (little-endian)" or "(big-endian)" when bytes start as UTF-16 text
// does (its byte-order mark, or a zero byte beside an ASCII one), else "".
std::string Utf16Encoding(const std::string& bytes);

// Placeholders of the setup program, for checking scripts at build time.
// The first placeholder problem in text, or "" when every "%" starts a known
// token: the message names the offending text.
std::string FindPlaceholderProblem(const std::string& text);
