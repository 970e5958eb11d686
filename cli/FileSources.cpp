#include "cli/FileSources.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

#include "cli/Platform.h"
#include "common/Mbcs.h"
#include "efs/EfsFormat.h"
#include "script/PlaceholderTokens.h"

std::string TrimBlanks(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

std::string ExpandForBuild(const std::string& text, const std::string& appName) {
  std::string out;
  const char* p = text.c_str();
  for (;;) {
    const char* pc = MbcsFindChar(p, '%');
    if (!pc) {
      out += p;
      return out;
    }
    out.append(p, (size_t)(pc - p));
    const PlaceholderToken* t = MatchPlaceholderToken(pc);
    if (!t) {
      out += pc;  // reported by FindPlaceholderProblem
      return out;
    }
    if (t->Kind == PLACEHOLDER_PERCENT)
      out += '%';
    else if (t->Kind == PLACEHOLDER_APP_NAME)
      out += appName;
    else
      out += t->Text;
    if (t->AddsSeparator && !out.empty() && out.back() != '\\' && out.back() != '/') out += '\\';
    p = pc + t->Length;
  }
}

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string NamePart(const std::string& s) {
  size_t cut = s.find_last_of("\\/");
  return cut == std::string::npos ? s : s.substr(cut + 1);
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? (unsigned char)(c - 'A' + 'a') : c; }

// The next UTF-8 character: the script and the names on disk are UTF-8.
const char* NextChar(const char* s) {
  ++s;
  while (((unsigned char)*s & 0xC0) == 0x80) ++s;
  return s;
}

// Names on Windows match without regard to the case of A-Z, as the setup
// file's names do. "*" runs within one folder name, "?" is one character,
// and "**" standing alone between separators is any number of folders.
bool Glob(const char* p, const char* s, bool atStart) {
  for (;;) {
    if (atStart && p[0] == '*' && p[1] == '*' && (p[2] == '\\' || !p[2])) {
      if (!p[2]) return true;
      for (const char* q = s;;) {
        if (Glob(p + 3, q, true)) return true;
        q = strchr(q, '\\');
        if (!q) return false;
        ++q;
      }
    }
    atStart = false;
    if (*p == '*') {
      while (*p == '*') ++p;
      for (const char* q = s;; q = NextChar(q)) {
        if (Glob(p, q, false)) return true;
        if (!*q || *q == '\\') return false;
      }
    }
    if (!*p) return !*s;
    if (!*s) return false;
    if (*p == '?') {
      if (*s == '\\') return false;
      ++p;
      s = NextChar(s);
      continue;
    }
    if (Fold((unsigned char)*p) != Fold((unsigned char)*s)) return false;
    atStart = *p == '\\';
    ++p;
    ++s;
  }
}

std::string Backslashes(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

// What a line leaves out: a name at any depth, or a path from the folder the
// source starts at when it holds a separator; with a separator at its end,
// folders only.
struct Exclusion {
  std::string Pattern;
  bool FoldersOnly;
  bool WholePath;
};

bool Excluded(const std::vector<Exclusion>& exclusions, const std::string& relative, const std::string& name,
              bool folder) {
  for (const Exclusion& x : exclusions) {
    if (x.FoldersOnly && !folder) continue;
    if (Glob(x.Pattern.c_str(), (x.WholePath ? relative : name).c_str(), true)) return true;
  }
  return false;
}

struct Walk {
  std::vector<Exclusion> Exclusions;
  std::string NamePattern;  // what a file's name must match
  bool Recursive;
  std::vector<std::string> Found;  // relative paths with "\"
  std::vector<std::string> Links;  // links to folders, passed over
};

struct DirEntry {
  std::string Name;
  bool Folder;
  bool FolderLink;
};

// The entries of a folder; 0 when it cannot be read.
int ListFolder(const std::string& folder, std::vector<DirEntry>* entries) {
#ifdef _WIN32
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const bool folderLike = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries->push_back({name, folderLike && !link, folderLike && link});
  } while (FindNextFileA(h, &data));
  FindClose(h);
  return 1;
#else
  DIR* d = opendir(folder.c_str());
  if (!d) return 0;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    struct stat st, target;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      // a link to a file is the file; one to a folder could loop
      if (stat(path.c_str(), &target) != 0) continue;
      if (S_ISDIR(target.st_mode)) entries->push_back({name, false, true});
      else if (S_ISREG(target.st_mode)) entries->push_back({name, false, false});
      continue;
    }
    if (S_ISDIR(st.st_mode)) entries->push_back({name, true, false});
    else if (S_ISREG(st.st_mode)) entries->push_back({name, false, false});
  }
  closedir(d);
  return 1;
#endif
}

// 0 when a folder cannot be read: *unreadable names it.
int WalkFolder(const std::string& folder, const std::string& relative, Walk* walk, std::string* unreadable) {
  std::vector<DirEntry> entries;
  if (!ListFolder(folder, &entries)) {
    *unreadable = folder;
    return 0;
  }
  for (const DirEntry& e : entries) {
    const std::string rel = relative.empty() ? e.Name : relative + "\\" + e.Name;
    if (Excluded(walk->Exclusions, rel, e.Name, e.Folder || e.FolderLink)) continue;
    if (e.FolderLink) {
      if (walk->Recursive) walk->Links.push_back(PlatformJoin(folder, e.Name));
    } else if (e.Folder) {
      if (walk->Recursive && !WalkFolder(PlatformJoin(folder, e.Name), rel, walk, unreadable)) return 0;
    } else if (Glob(walk->NamePattern.c_str(), e.Name.c_str(), true)) {
      walk->Found.push_back(rel);
    }
  }
  return 1;
}

// The sorted order of relative paths: by name order, then byte for byte, so
// that a build is the same on every system.
bool RelativeBefore(const std::string& a, const std::string& b) {
  int c = EfsCompareNames(a.c_str(), b.c_str());
  return c ? c < 0 : a < b;
}

std::string Resolve(const std::string& source, const std::string& folder) {
  std::string p = source.empty() ? "." : source;
#ifndef _WIN32
  std::replace(p.begin(), p.end(), '\\', '/');
#endif
  if (!PlatformIsAbsolute(p)) p = PlatformJoin(folder, p);
  return PlatformNormalise(p);
}

// A name or path on disk as the setup program reads it in a destination:
// "%" would start a placeholder.
std::string Literal(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

void Problem(std::vector<Diagnostic>* out, int line, const std::string& message, int warning = 0) {
  out->push_back({line, warning, message});
}

}  // namespace

int ExpandFilesLine(const std::string& sourceField, const std::string& destination, int line,
                    const std::string& folder, const std::string& appName, std::vector<FileToInstall>* files,
                    std::vector<Diagnostic>* out) {
  const size_t before = out->size();
  // the source, then what it leaves out behind "|"
  std::vector<std::string> parts;
  for (size_t at = 0;;) {
    size_t bar = sourceField.find('|', at);
    parts.push_back(TrimBlanks(sourceField.substr(at, bar == std::string::npos ? std::string::npos : bar - at)));
    if (bar == std::string::npos) break;
    at = bar + 1;
  }
  const std::string source = parts[0];
  Walk walk;
  walk.Recursive = false;
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string x = Backslashes(parts[i]);
    if (x.empty()) {
      Problem(out, line, "empty exclusion after \"|\": write a pattern such as *.pdb or .git\\");
      continue;
    }
    Exclusion e;
    e.FoldersOnly = x.back() == '\\';
    while (!x.empty() && x.back() == '\\') x.pop_back();
    e.WholePath = x.find('\\') != std::string::npos;
    if (!x.empty() && x[0] == '\\') x.erase(0, 1);
    e.Pattern = x;
    walk.Exclusions.push_back(e);
  }
  if (source.empty()) {
    Problem(out, line, "[Files] line has no source before the comma");
    return 0;
  }

  // Where the wildcards start: "base\*.txt", "base\**" or "base\**\name".
  size_t wildAt = std::string::npos;
  std::vector<size_t> starts;  // where each part of the source starts
  for (size_t i = 0; i <= source.size(); ++i)
    if (i == 0 || IsSeparator(source[i - 1])) starts.push_back(i);
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] - 1 : source.size();
    if (HasWildcard(source.substr(starts[k], end - starts[k]))) {
      wildAt = starts[k];
      break;
    }
  }
  const std::string expanded = ExpandForBuild(destination, appName);
  const bool toFolder = !expanded.empty() && IsSeparator(expanded.back());
  const std::string path = Resolve(wildAt == std::string::npos ? source : source.substr(0, wildAt), folder);

  if (wildAt == std::string::npos && !PlatformIsDirectory(path.c_str())) {
    // one file, which the builder looks for
    if (IsSeparator(source.back())) {
      Problem(out, line, "folder not found: " + path);
      return 0;
    }
    if (!walk.Exclusions.empty())
      Problem(out, line, "exclusions after \"|\" belong to a folder or a pattern; " + source + " is one file");
    const std::string name = NamePart(source);
    const std::string target = toFolder ? destination + Literal(name) : destination;
    FileToInstall f;
    f.Path = path;
    f.Destination = target;
    f.DestinationName = NamePart(ExpandForBuild(target, appName));
    f.Line = line;
    files->push_back(f);
    return out->size() == before;
  }

  std::string pattern = "*";
  if (wildAt != std::string::npos) {
    std::string rest = Backslashes(source.substr(wildAt));
    size_t sep = rest.find('\\');
    std::string first = rest.substr(0, sep);
    std::string last = sep == std::string::npos ? "" : rest.substr(sep + 1);
    bool sound = true;
    if (first == "**") {
      walk.Recursive = true;
      if (last.empty()) last = "*";
      sound = last.find('\\') == std::string::npos && last.find("**") == std::string::npos;
    } else {
      sound = sep == std::string::npos && first.find("**") == std::string::npos;
      last = first;
    }
    if (!sound) {
      Problem(out, line, "source " + source + ": wildcards go in its last part only (\"**\" standing alone before "
                         "it: bin\\**\\*.dll)");
      return 0;
    }
    pattern = last;
    if (!PlatformIsDirectory(path.c_str())) {
      Problem(out, line, "folder not found: " + path);
      return 0;
    }
  } else {
    walk.Recursive = true;  // a folder: all of it
  }
  walk.NamePattern = pattern;
  std::string unreadable;
  if (!WalkFolder(path, "", &walk, &unreadable)) {
#ifdef _WIN32
    Problem(out, line, "cannot read the folder " + unreadable);
#else
    Problem(out, line, "cannot read the folder " + unreadable + ": " + PlatformErrorText(errno));
#endif
    return 0;
  }
  for (const std::string& link : walk.Links)
    Problem(out, line, "the link " + link + " to a folder is not followed: name its folder in a line of its own",
            1);
  if (walk.Found.empty()) {
    Problem(out, line, "source " + source + " matches no file" + (walk.Exclusions.empty() ? "" : " that is not excluded"));
    return 0;
  }
  std::sort(walk.Found.begin(), walk.Found.end(), RelativeBefore);
  // the destination is a folder: a "\" at its end may be left out
  const std::string into = toFolder ? destination : destination + "\\";
  for (const std::string& rel : walk.Found) {
    FileToInstall f;
    f.Path = PlatformNormalise(PlatformJoin(path, rel));
#ifndef _WIN32
    std::replace(f.Path.begin(), f.Path.end(), '\\', '/');
#endif
    f.Destination = into + Literal(rel);
    f.DestinationName = NamePart(rel);
    f.Line = line;
    files->push_back(f);
  }
  return out->size() == before;
}

namespace {

// A name the setup program can read back from a line: no comma (the line's
// separator), no blank at either end (it trims them).
std::string UsableName(std::string name) {
  std::replace(name.begin(), name.end(), ',', '_');
  if (!name.empty() && name.front() == ' ') name.front() = '_';
  if (!name.empty() && name.back() == ' ') name.back() = '_';
  return name;
}

struct NameOrder {
  bool operator()(const std::string& a, const std::string& b) const {
    return EfsCompareNames(a.c_str(), b.c_str()) < 0;
  }
};

std::string PathKey(const std::string& path) {
#ifdef _WIN32
  std::string key = path;
  for (char& c : key) c = (char)Fold((unsigned char)c);
  return key;
#else
  return path;
#endif
}

}  // namespace

int NameStoredFiles(std::vector<FileToInstall>* files, const std::vector<std::string>& taken,
                    std::vector<StoredFile>* stored, std::vector<Diagnostic>* out) {
  std::set<std::string, NameOrder> names(taken.begin(), taken.end());
  std::map<std::string, size_t> byPath;
  int named = 0;
  for (FileToInstall& f : *files) {
    auto known = byPath.find(PathKey(f.Path));
    if (known != byPath.end()) {
      f.Stored = known->second;
    } else {
      const std::string wanted = UsableName(NamePart(f.Path));
      std::string name = wanted;
      // readme.txt, readme~2.txt, readme~3.txt ...
      const size_t dot = wanted.find_last_of('.');
      const std::string stem = dot == std::string::npos || dot == 0 ? wanted : wanted.substr(0, dot);
      const std::string extension = wanted.substr(stem.size());
      for (int n = 2; names.count(name); ++n) name = stem + "~" + std::to_string(n) + extension;
      if (name.size() > 255) {
        out->push_back({f.Line, 0, "file name longer than 255 bytes: " + name});
        continue;
      }
      names.insert(name);
      f.Stored = stored->size();
      byPath[PathKey(f.Path)] = f.Stored;
      stored->push_back({f.Path, name, f.Line});
    }
    // the setup program finds by the destination's name unless told otherwise
    if (EfsCompareNames((*stored)[f.Stored].Name.c_str(), f.DestinationName.c_str()) != 0) named = 1;
  }
  return named;
}

std::string WithExplicitFilesLines(const std::string& text, const std::vector<FileToInstall>& files,
                                   const std::vector<StoredFile>& stored) {
  std::vector<std::string> sections;
  for (const FileToInstall& f : files)
    if (std::find(sections.begin(), sections.end(), f.Section) == sections.end()) sections.push_back(f.Section);
  std::string result = text;
  for (const std::string& section : sections) {
    // the section's lines as the setup program's parser finds them
    const size_t header = result.find("[" + section + "]");
    if (header == std::string::npos) continue;
    size_t body = result.find('\n', header);
    if (body == std::string::npos) continue;
    ++body;
    size_t end = body;
    while (end < result.size() && result[end] != '[') {
      size_t lf = result.find('\n', end);
      end = lf == std::string::npos ? result.size() : lf + 1;
    }
    const std::string eol = body >= 2 && result[body - 2] == '\r' ? "\r\n" : "\n";
    std::string lines;
    for (const FileToInstall& f : files)
      if (f.Section == section) lines += stored[f.Stored].Name + ", " + f.Destination + eol;
    // a section that ended the text without a line feed ends it so again
    if (end == result.size() && (result.empty() || result.back() != '\n')) lines.resize(lines.size() - eol.size());
    result = result.substr(0, body) + lines + result.substr(end);
  }
  return result;
}
