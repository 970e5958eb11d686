#include "script/Choices.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "script/FileParser.h"

// Names are ASCII, so plain byte scans suffice for them; descriptions are
// scanned by characters of the code page.

namespace {

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.';
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const char* a, size_t n, const char* b, size_t m) {
  if (n != m) return false;
  for (size_t i = 0; i < n; ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

int Fail(ChoiceLine* out, int problem, const char* line, const char* at, size_t length) {
  out->Problem = problem;
  out->Column = static_cast<size_t>(at - line) + 1;
  out->Length = length;
  return 0;
}

char* CopyOf(const char* text, size_t n) {
  char* copy = static_cast<char*>(malloc(n + 1));
  if (!copy) return NULL;
  memcpy(copy, text, n);
  copy[n] = '\0';
  return copy;
}

// Calls take(name, length) for every name of a comma list; stops at the
// first that take refuses. 1 when all were taken.
template <typename Take>
int ForEachListed(const char* list, Take take) {
  const char* p = list ? list : "";
  for (;;) {
    while (IsBlank(*p) || *p == ',') ++p;
    if (!*p) return 1;
    const char* start = p;
    while (*p && *p != ',') ++p;
    const char* end = p;
    while (end > start && IsBlank(end[-1])) --end;
    if (!take(start, static_cast<size_t>(end - start))) return 0;
  }
}

}  // namespace

int IsChoiceName(const char* name, size_t length) {
  if (!name || length == 0 || length > kChoiceNameMax) return 0;
  for (size_t i = 0; i < length; ++i)
    if (!IsNameByte(name[i])) return 0;
  return 1;
}

const char* SplitChoiceHeader(const char* header, size_t* sectionLength) {
  const char* colon = MbcsFindChar(header, ':');
  *sectionLength = colon ? static_cast<size_t>(colon - header) : strlen(header);
  return colon ? colon + 1 : NULL;
}

int ReadChoiceLine(const char* line, ChoiceLine* out) {
  memset(out, 0, sizeof *out);
  const char* p = line;
  while (IsBlank(*p)) ++p;
  const char* comma = MbcsFindChar(p, ',');
  const char* nameEnd = comma ? comma : p + strlen(p);
  while (nameEnd > p && IsBlank(nameEnd[-1])) --nameEnd;
  if (nameEnd == p) return Fail(out, CHOICE_NO_NAME, line, p, 0);
  out->Name = p;
  out->NameLength = static_cast<size_t>(nameEnd - p);
  if (!IsChoiceName(p, out->NameLength)) return Fail(out, CHOICE_BAD_NAME, line, p, out->NameLength);
  if (!comma) return Fail(out, CHOICE_NO_DESCRIPTION, line, nameEnd, 0);

  p = comma + 1;
  while (IsBlank(*p)) ++p;
  const char* rest;
  if (*p == '"') {
    const char* close = MbcsFindChar(p + 1, '"');
    if (!close) return Fail(out, CHOICE_OPEN_QUOTE, line, p, strlen(p));
    out->Description = p + 1;
    out->DescriptionLength = static_cast<size_t>(close - p - 1);
    rest = close + 1;
    while (IsBlank(*rest)) ++rest;
    if (*rest && *rest != ',') return Fail(out, CHOICE_AFTER_QUOTE, line, rest, strlen(rest));
  } else {
    const char* end = MbcsFindChar(p, ',');
    rest = end ? end : p + strlen(p);
    end = rest;
    while (end > p && IsBlank(end[-1])) --end;
    out->Description = p;
    out->DescriptionLength = static_cast<size_t>(end - p);
  }
  if (out->DescriptionLength == 0) return Fail(out, CHOICE_NO_DESCRIPTION, line, p, 0);

  // the flags: words between blanks and commas
  const char* fixedAt = NULL;
  for (p = *rest ? rest + 1 : rest;;) {
    while (IsBlank(*p) || *p == ',') ++p;
    if (!*p) break;
    const char* start = p;
    while (*p && !IsBlank(*p) && *p != ',') p = MbcsNext(p);
    const size_t n = static_cast<size_t>(p - start);
    if (n == 5 && memcmp(start, "fixed", 5) == 0) {
      out->Fixed = 1;
      if (!fixedAt) fixedAt = start;
    } else if (n == 9 && memcmp(start, "unchecked", 9) == 0) {
      out->Unchecked = 1;
    } else {
      return Fail(out, CHOICE_UNKNOWN_FLAG, line, start, n);
    }
  }
  if (out->Fixed && out->Unchecked) return Fail(out, CHOICE_FIXED_UNCHECKED, line, fixedAt, 5);
  return 1;
}

SetupChoice* ReadScriptChoices(const CFileParser& project, int* count) {
  static const char* const kSections[] = {"Components", "Tasks"};
  *count = 0;
  int32_t lines = 0;
  for (const char* section : kSections) lines += project.GetLineCount(section);
  if (lines <= 0) return NULL;
  SetupChoice* choices = static_cast<SetupChoice*>(calloc(static_cast<size_t>(lines), sizeof(SetupChoice)));
  if (!choices) {
    *count = -1;
    return NULL;
  }
  int n = 0;
  for (int task = 0; task < 2; ++task) {
    const char* section = kSections[task];
    for (int32_t i = 0, total = project.GetLineCount(section); i < total; ++i) {
      const int32_t size = project.GetLine(section, i, NULL, 0);
      char* text = size > 0 ? static_cast<char*>(malloc(static_cast<size_t>(size))) : NULL;
      if (!text) {
        if (size <= 0) continue;
        FreeChoices(choices, n);
        *count = -1;
        return NULL;
      }
      project.GetLine(section, i, text, size);
      ChoiceLine line;
      // a name given twice would make its sections run for either
      if (ReadChoiceLine(text, &line) && !FindChoice(choices, n, -1, line.Name, line.NameLength)) {
        SetupChoice& c = choices[n];
        c.Name = CopyOf(line.Name, line.NameLength);
        c.Description = CopyOf(line.Description, line.DescriptionLength);
        if (!c.Name || !c.Description) {
          free(text);
          FreeChoices(choices, n + 1);
          *count = -1;
          return NULL;
        }
        c.Task = task;
        c.Fixed = line.Fixed;
        c.Unchecked = line.Unchecked;
        c.Chosen = !line.Unchecked;
        ++n;
      }
      free(text);
    }
  }
  if (n == 0) {
    free(choices);
    return NULL;
  }
  *count = n;
  return choices;
}

void FreeChoices(SetupChoice* choices, int count) {
  if (!choices) return;
  for (int i = 0; i < count; ++i) {
    free(choices[i].Name);
    free(choices[i].Description);
  }
  free(choices);
}

SetupChoice* FindChoice(SetupChoice* choices, int count, int task, const char* name, size_t length) {
  for (int i = 0; i < count; ++i)
    if ((task < 0 || choices[i].Task == task) &&
        SameName(choices[i].Name, strlen(choices[i].Name), name, length))
      return &choices[i];
  return NULL;
}

int ChooseByList(SetupChoice* choices, int count, int task, const char* list, char* unknown, size_t unknownSize) {
  // every name is checked before anything changes
  const int known = ForEachListed(list, [&](const char* name, size_t n) {
    if (FindChoice(choices, count, task, name, n)) return true;
    if (unknown && unknownSize) {
      const size_t m = n < unknownSize ? n : unknownSize - 1;
      memcpy(unknown, name, m);
      unknown[m] = '\0';
    }
    return false;
  });
  if (!known) return 0;
  for (int i = 0; i < count; ++i)
    if (choices[i].Task == task) choices[i].Chosen = choices[i].Fixed;
  ForEachListed(list, [&](const char* name, size_t n) {
    FindChoice(choices, count, task, name, n)->Chosen = 1;
    return true;
  });
  return 1;
}

void ApplyRecordedChoices(SetupChoice* choices, int count, const char* offered, const char* chosen) {
  ForEachListed(offered, [&](const char* name, size_t n) {
    if (SetupChoice* c = FindChoice(choices, count, -1, name, n)) c->Chosen = c->Fixed;
    return true;
  });
  ForEachListed(chosen, [&](const char* name, size_t n) {
    if (SetupChoice* c = FindChoice(choices, count, -1, name, n)) c->Chosen = 1;
    return true;
  });
}

int FormatChoiceNames(const SetupChoice* choices, int count, int chosenOnly, char* out, size_t size) {
  if (!size) return 0;
  size_t at = 0;
  out[0] = '\0';
  for (int i = 0; i < count; ++i) {
    if (chosenOnly && !choices[i].Chosen) continue;
    const size_t n = strlen(choices[i].Name);
    if (at + (at ? 1 : 0) + n + 1 > size) {
      out[0] = '\0';
      return 0;
    }
    if (at) out[at++] = ',';
    memcpy(out + at, choices[i].Name, n + 1);
    at += n;
  }
  return 1;
}
