// The project-script queries over any text: input = a flag byte (bit 0: code
// page 932; bit 1: put "QSP40\n" in front so the body gets explored), a byte
// that picks buffer sizes, then the text. Section names and keys are taken
// from the text itself. Every answer must follow the buffer protocol, inside
// exact-size buffers.
#include <string.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "common/Mbcs.h"
#include "script/ActionSections.h"
#include "script/Choices.h"
#include "script/FileParser.h"

namespace {

uint8_t g_sizeSeed;

// A buffer size from 0 to n + 1 that changes from call to call.
int32_t PickSize(int32_t n) {
  g_sizeSeed = static_cast<uint8_t>(g_sizeSeed * 37 + 11);
  return static_cast<int32_t>(g_sizeSeed % (static_cast<uint32_t>(n) + 2));
}

// A given buffer of size 0 gets nothing written. (A zero-byte allocation
// would not do: the sanitizer lets its first byte be written.)
template <typename Query>
void CheckZeroSize(const Query& query, int32_t expected) {
  char* b = static_cast<char*>(malloc(1));
  b[0] = 'x';
  FUZZ_CHECK(query(b, 0) == expected);
  FUZZ_CHECK(b[0] == 'x');
  free(b);
}

// Calls query(buffer, size) with a null buffer, then with exact-size heap
// buffers of n, 0, 1 and a picked size, checking the protocol.
// zeroSizeGivesN: a given buffer of size 0 returns n (GetValue), not 0.
template <typename Query>
void CheckProtocol(const Query& query, bool zeroSizeGivesN) {
  const int32_t n = query(nullptr, 0);
  FUZZ_CHECK(n >= 0);
  if (n == 0) {
    // nothing (GetLine) or an empty value (GetValue): any buffer gets "" only
    char* b = static_cast<char*>(malloc(1));
    b[0] = 'x';
    FUZZ_CHECK(query(b, 1) == 0);
    FUZZ_CHECK(b[0] == '\0' || b[0] == 'x');
    free(b);
    CheckZeroSize(query, 0);
    return;
  }
  char* full = static_cast<char*>(malloc(static_cast<size_t>(n)));
  FUZZ_CHECK(query(full, n) == n);
  FUZZ_CHECK(strlen(full) == static_cast<size_t>(n) - 1);

  CheckZeroSize(query, zeroSizeGivesN ? n : 0);

  for (int32_t size : {1, PickSize(n)}) {
    if (size == 0) continue;
    char* b = static_cast<char*>(malloc(static_cast<size_t>(size)));
    const int32_t got = query(b, size);
    if (size >= n) {
      FUZZ_CHECK(got == n);
      FUZZ_CHECK(strcmp(b, full) == 0);
    } else {
      FUZZ_CHECK(got == size);
      FUZZ_CHECK(strlen(b) == static_cast<size_t>(size) - 1);
      FUZZ_CHECK(memcmp(b, full, static_cast<size_t>(size) - 1) == 0);
    }
    free(b);
  }
  free(full);
}

// Names between "[" and "]" and keys at line starts, a few of each.
void CollectNames(const std::string& text, std::vector<std::string>* sections,
                  std::vector<std::string>* keys) {
  for (size_t i = 0; i < text.size() && sections->size() < 4; ++i) {
    if (text[i] != '[') continue;
    const size_t close = text.find(']', i + 1);
    if (close == std::string::npos) break;
    sections->push_back(text.substr(i + 1, close - i - 1));
  }
  for (size_t start = 0; start < text.size() && keys->size() < 5;) {
    size_t end = text.find_first_of(" =\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (end > start && text[start] != '[') keys->push_back(text.substr(start, end - start));
    const size_t lf = text.find('\n', start);
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 0x10000) return 0;
  MbcsSetCodePage((data[0] & 1) ? 932 : 0);
  g_sizeSeed = data[1];
  std::string text((data[0] & 2) ? "QSP40\n" : "");
  text.append(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string visible = text.substr(0, strlen(text.c_str()));  // what the parser sees

  CFileParser parser;
  const int loaded = parser.LoadText(text.data(), static_cast<uint32_t>(text.size()));
  FUZZ_CHECK(loaded == (text.size() >= 5 && memcmp(text.data(), "QSP40", 5) == 0));

  std::vector<std::string> sections, keys;
  CollectNames(visible, &sections, &keys);
  for (const char* s : {"Global", ""}) sections.push_back(s);
  for (const char* k : {"ApplicationName", ""}) keys.push_back(k);

  for (const std::string& section : sections) {
    const char* s = section.c_str();
    for (const std::string& key : keys) {
      const char* k = key.c_str();
      CheckProtocol([&](char* b, int32_t n) { return parser.GetValue(s, k, "default", b, n); }, true);
      const int32_t measured = parser.GetValue(s, k, "", nullptr, 0);
      const int32_t number = parser.GetInt(s, k, -7);
      if (measured <= 1) FUZZ_CHECK(number == -7);
      if (!loaded) FUZZ_CHECK(measured == 0);
    }
    const int32_t count = parser.GetLineCount(s);
    FUZZ_CHECK(count >= 0 && (loaded || count == 0));
    FUZZ_CHECK(count <= static_cast<int32_t>(visible.size()));
    for (int32_t i = 0; i < count && i < 16; ++i) {
      CheckProtocol([&](char* b, int32_t n) { return parser.GetLine(s, i, b, n); }, false);
      const int32_t n = parser.GetLine(s, i, nullptr, 0);
      FUZZ_CHECK(n >= 1);
      char* line = static_cast<char*>(malloc(static_cast<size_t>(n)));
      parser.GetLine(s, i, line, n);
      // (under 932 a lead byte takes the byte after it along, even a CR or LF)
      if (!(data[0] & 1)) FUZZ_CHECK(!strchr(line, '\n') && !strchr(line, '\r'));
      // every section's reader: fields inside the line, a column only with a problem
      for (int id = 0; id < ACTION_SECTION_COUNT; ++id) {
        std::string copy(line);
        SectionLine out;
        const LineProblem problem = ReadActionLine(static_cast<ActionSectionId>(id), &copy[0], &out);
        FUZZ_CHECK((problem == LINE_FINE) == (out.Column == 0) && out.Column <= copy.size() + 1);
        for (int f = 0; !problem && f < out.Count; ++f)
          FUZZ_CHECK(!out.Field[f] || (out.Field[f] >= copy.data() && out.Field[f] <= copy.data() + copy.size()));
      }
      free(line);
    }
    FUZZ_CHECK(parser.GetLine(s, count, nullptr, 0) == 0);
    FUZZ_CHECK(parser.GetLine(s, -1, nullptr, 0) == 0);
  }
  // the components and tasks read are those a header can name, each once
  int choiceCount = 0;
  SetupChoice* choices = ReadScriptChoices(parser, &choiceCount);
  FUZZ_CHECK(choiceCount >= 0 && (choices != nullptr) == (choiceCount > 0));
  for (int i = 0; i < choiceCount; ++i) {
    FUZZ_CHECK(IsChoiceName(choices[i].Name, strlen(choices[i].Name)));
    FUZZ_CHECK(choices[i].Description[0] && !(choices[i].Fixed && choices[i].Unchecked));
    FUZZ_CHECK(FindChoice(choices, choiceCount, -1, choices[i].Name, strlen(choices[i].Name)) == &choices[i]);
  }
  FreeChoices(choices, choiceCount);
  ChoiceLine line;
  if (!ReadChoiceLine(visible.c_str(), &line))
    FUZZ_CHECK(line.Column >= 1 && line.Column - 1 + line.Length <= visible.size());
  FUZZ_CHECK(parser.GetValue(nullptr, "k", "d", nullptr, 0) == 0);
  FUZZ_CHECK(parser.GetValue("Global", nullptr, "d", nullptr, 0) == 0);
  FUZZ_CHECK(parser.GetLineCount(nullptr) == 0);
  MbcsSetCodePage(0);
  return 0;
}
