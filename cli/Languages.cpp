// The shipped translation tables and their checks.
#include "cli/Languages.h"

#include <stdio.h>

#include <map>
#include <set>

namespace {

typedef unsigned char Byte;

bool IsLead(Byte c, int cp) {
  if (cp == 932) return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  if (cp == 936) return c >= 0x81 && c <= 0xFE;
  return false;
}

bool IsTrail(Byte c, int cp) {
  if (cp == 932) return c >= 0x40 && c <= 0xFC && c != 0x7F;
  if (cp == 936) return c >= 0x40 && c <= 0xFE && c != 0x7F;
  return false;
}

// A single byte that the code page assigns no character to.
bool IsUnassigned(Byte c, int cp) {
  switch (cp) {
    case 1252: return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
    case 1250: return c == 0x81 || c == 0x83 || c == 0x88 || c == 0x90 || c == 0x98;
    case 1251: return c == 0x98;
    case 932: return c == 0x80 || c == 0xA0 || c >= 0xFD;
    case 936: return c == 0xFF;
  }
  return false;
}

size_t CharLength(const std::string& s, size_t i, int cp) {
  if (IsLead((Byte)s[i], cp) && i + 1 < s.size()) return 2;
  return 1;
}

struct TableLine {
  std::string Key;
  std::string Text;
  int Line;
};

// Parses "[Strings]" and "KEY = text" lines; structural problems go to
// *problems, the entries to *lines.
void ParseTable(const std::string& file, std::vector<TableLine>* lines, std::vector<std::string>* problems) {
  int lineNumber = 0, sections = 0;
  size_t start = 0;
  if (file.empty()) problems->push_back("the file is empty");
  while (start < file.size()) {
    size_t lf = file.find('\n', start);
    const bool last = lf == std::string::npos;
    std::string line = file.substr(start, last ? std::string::npos : lf - start);
    start = last ? file.size() : lf + 1;
    ++lineNumber;
    const std::string where = "line " + std::to_string(lineNumber);
    if (line.empty() || line.back() != '\r' || last)
      problems->push_back(where + " does not end in CR LF");
    else
      line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '[') {
      if (line != "[Strings]") problems->push_back(where + ": unknown section " + line);
      else if (lineNumber != 1) problems->push_back(where + ": [Strings] must be the first line");
      ++sections;
      continue;
    }
    size_t eq = line.find('=');  // keys are ASCII, so the first "=" ends one
    if (eq == std::string::npos) {
      problems->push_back(where + " has no \"=\"");
      continue;
    }
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    size_t at = eq + 1;
    while (at < line.size() && line[at] == ' ') ++at;
    std::string text = line.substr(at);
    // the profile lookup drops these, so a text cannot keep them
    if (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
      problems->push_back(key + ": blanks at the end of the text are lost");
    lines->push_back({key, text, lineNumber});
  }
  if (sections != 1) problems->push_back("the file must hold one [Strings] section");
}

struct TextShape {
  int Formats = 0;                     // "%s"
  std::multiset<std::string> Names;    // "%APPNAME%" and the like
  std::vector<int> Bars;               // lengths of the runs of "|"
  std::vector<std::string> Stray;      // "%" that starts nothing
};

TextShape ShapeOf(const std::string& text, int cp) {
  TextShape shape;
  for (size_t i = 0; i < text.size();) {
    const size_t n = CharLength(text, i, cp);
    if (n == 1 && text[i] == '|') {
      size_t j = i;
      while (j < text.size() && text[j] == '|') ++j;
      shape.Bars.push_back((int)(j - i));
      i = j;
      continue;
    }
    if (n == 1 && text[i] == '%') {
      if (i + 1 < text.size() && text[i + 1] == 's') {
        ++shape.Formats;
        i += 2;
        continue;
      }
      if (i + 1 < text.size() && text[i + 1] == '%') {
        i += 2;
        continue;
      }
      size_t j = i + 1;
      while (j < text.size() && ((text[j] >= 'A' && text[j] <= 'Z') || text[j] == '_')) ++j;
      if (j > i + 1 && j < text.size() && text[j] == '%') {
        shape.Names.insert(text.substr(i, j - i + 1));
        i = j + 1;
        continue;
      }
      shape.Stray.push_back(text.substr(i, 6));
    }
    i += n;
  }
  return shape;
}

std::string Join(const std::vector<int>& runs) {
  std::string s;
  for (int r : runs) s += (s.empty() ? "" : " ") + std::string((size_t)r, '|');
  return s.empty() ? "none" : s;
}

}  // namespace

const std::vector<LanguageTable>& LanguageTables() {
  static const std::vector<LanguageTable> tables = {
      {"en", "English", "English.ini", 1252},
      {"de", "German", "German.ini", 1252},
      {"fr", "French", "French.ini", 1252},
      {"es", "Spanish", "Spanish.ini", 1252},
      {"it", "Italian", "Italian.ini", 1252},
      {"pt-BR", "Portuguese (Brazil)", "PortugueseBrazil.ini", 1252},
      {"nl", "Dutch", "Dutch.ini", 1252},
      {"pl", "Polish", "Polish.ini", 1250},
      {"cs", "Czech", "Czech.ini", 1250},
      {"ru", "Russian", "Russian.ini", 1251},
      {"ja", "Japanese", "Japanese.ini", 932},
      {"zh-CN", "Simplified Chinese", "SimplifiedChinese.ini", 936},
  };
  return tables;
}

const LanguageTable* FindLanguage(const std::string& name) {
  auto fold = [](std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
      if (c == '_') c = '-';
    }
    return s;
  };
  const std::string wanted = fold(name);
  for (const LanguageTable& t : LanguageTables())
    if (wanted == fold(t.Code) || wanted == fold(t.Name)) return &t;
  return nullptr;
}

size_t FindInvalidByte(const std::string& text, int codePage) {
  for (size_t i = 0; i < text.size();) {
    Byte c = (Byte)text[i];
    if (c < 0x20 && c != '\r' && c != '\n' && c != '\t') return i;
    if (c == 0x7F) return i;
    if (IsLead(c, codePage)) {
      if (i + 1 >= text.size() || !IsTrail((Byte)text[i + 1], codePage)) return i;
      i += 2;
      continue;
    }
    if (c >= 0x80 && IsUnassigned(c, codePage)) return i;
    i += 1;
  }
  return std::string::npos;
}

std::vector<std::string> CheckTranslationTable(const std::string& table, int codePage,
                                               const std::string& english) {
  std::vector<std::string> problems;
  size_t bad = FindInvalidByte(table, codePage);
  if (bad != std::string::npos) {
    size_t lineStart = table.rfind('\n', bad);
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    size_t eq = table.find('=', lineStart);
    std::string key = eq == std::string::npos ? "" : table.substr(lineStart, eq - lineStart);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    char hex[8];
    snprintf(hex, sizeof hex, "0x%02X", (unsigned)(Byte)table[bad]);
    problems.push_back(key + ": byte " + hex + " at offset " + std::to_string(bad) +
                       " is not a character of code page " + std::to_string(codePage));
  }

  std::vector<TableLine> englishLines, lines;
  std::vector<std::string> ignored;
  ParseTable(english, &englishLines, &ignored);
  ParseTable(table, &lines, &problems);

  std::map<std::string, std::string> texts;
  for (const TableLine& l : lines)
    if (!texts.emplace(l.Key, l.Text).second)
      problems.push_back(l.Key + ": given twice (line " + std::to_string(l.Line) + ")");

  std::set<std::string> englishKeys;
  for (const TableLine& e : englishLines) {
    englishKeys.insert(e.Key);
    auto it = texts.find(e.Key);
    if (it == texts.end()) {
      problems.push_back(e.Key + ": missing");
      continue;
    }
    if (it->second.empty()) problems.push_back(e.Key + ": the text is empty");
    const TextShape want = ShapeOf(e.Text, 1252), got = ShapeOf(it->second, codePage);
    if (got.Formats != want.Formats)
      problems.push_back(e.Key + ": " + std::to_string(got.Formats) + " \"%s\" where English has " +
                         std::to_string(want.Formats));
    if (got.Names != want.Names)
      problems.push_back(e.Key + ": placeholders differ from English");
    for (const std::string& s : got.Stray) problems.push_back(e.Key + ": stray \"%\" at \"" + s + "\"");
    if (got.Bars != want.Bars)
      problems.push_back(e.Key + ": line breaks " + Join(got.Bars) + " where English has " + Join(want.Bars));
  }
  for (const TableLine& l : lines)
    if (!englishKeys.count(l.Key)) problems.push_back(l.Key + ": not a key of the program");
  return problems;
}

std::vector<std::string> FindTextsTooLong(const std::string& utf8Table) {
  std::vector<TableLine> lines;
  std::vector<std::string> ignored;
  ParseTable(utf8Table, &lines, &ignored);
  std::vector<std::string> problems;
  for (const TableLine& l : lines) {
    // as the profile lookup takes it: blanks around and enclosing quotes go
    std::string text = l.Text;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    if (text.size() > 1 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
      text = text.substr(1, text.size() - 2);
    size_t units = 0;  // UTF-16 units, as the lookup counts
    for (unsigned char c : text) units += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
    if (units > kTextLimit)
      problems.push_back(std::to_string(l.Line) + ": " + l.Key + " is " + std::to_string(units) +
                         " characters long; the setup program shows its first " + std::to_string(kTextLimit) +
                         " and cuts the rest off" +
                         (l.Key == "EULA_BOX_TEXT" ? " (install a longer licence as a file with [Files])" : ""));
  }
  return problems;
}
