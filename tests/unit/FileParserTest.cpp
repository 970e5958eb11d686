#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "common/Mbcs.h"
#include "script/FileParser.h"

namespace {

// A parser holding text (magic line included by the caller).
struct Script {
  CFileParser parser;
  explicit Script(const std::string& text) {
    EXPECT_EQ(1, parser.LoadText(text.data(), static_cast<uint32_t>(text.size()))) << text;
  }
  std::string Value(const char* section, const char* key, const char* def = "DEF") {
    char buffer[512];
    memset(buffer, 'x', sizeof buffer);
    const int32_t n = parser.GetValue(section, key, def, buffer, sizeof buffer);
    if (n == 0) return "<0:" + std::string(buffer, strnlen(buffer, sizeof buffer)) + ">";
    EXPECT_EQ(static_cast<int32_t>(strlen(buffer)) + 1, n);
    return buffer;
  }
  std::string Line(const char* section, int32_t index) {
    char buffer[512];
    const int32_t n = parser.GetLine(section, index, buffer, sizeof buffer);
    if (n == 0) return "<none>";
    EXPECT_EQ(static_cast<int32_t>(strlen(buffer)) + 1, n);
    return buffer;
  }
};

TEST(FileParser, LoadChecksTheFiveMagicBytesAfterAnyUtf8Mark) {
  struct Case {
    const char* bytes;
    int loads;
  } cases[] = {{"QSP40\n[Global]\nA=1\n", 1}, {"QSP40 and more\n", 1}, {"QSP40", 1},
               {"", 0},                      {"QSP4", 0},          {"qsp40\n", 0},
               {"QSP41\n", 0},               {"\xEF\xBB\xBFQSP40\n[Global]\nA=1\n", 1},
               {"\xEF\xBB\xBF", 0}};
  for (const Case& c : cases) {
    CFileParser p;
    EXPECT_EQ(c.loads, p.LoadText(c.bytes, static_cast<uint32_t>(strlen(c.bytes)))) << c.bytes;
    // A failed load leaves the object empty: every query answers 0.
    if (!c.loads) {
      char buffer[8] = "keep";
      EXPECT_EQ(0, p.GetValue("Global", "A", "d", buffer, sizeof buffer));
      EXPECT_STREQ("keep", buffer);
      EXPECT_EQ(0, p.GetLineCount("Global"));
      EXPECT_EQ(0, p.GetLine("Global", 0, buffer, sizeof buffer));
    }
  }
  CFileParser missing;
  EXPECT_EQ(0, missing.LoadText(nullptr, 0));

  // The mark is not part of line 1: values and line numbers as without it.
  CFileParser marked;
  ASSERT_EQ(1, marked.LoadText("\xEF\xBB\xBFQSP40\n[Global]\nA=1\n[Files]\nx\n", 32));
  char value[8];
  EXPECT_EQ(2, marked.GetValue("Global", "A", "d", value, sizeof value));
  EXPECT_STREQ("1", value);
  EXPECT_EQ(5, marked.GetLineNumber("Files", 0));

  // A failed reload releases what was held before.
  CFileParser p;
  ASSERT_EQ(1, p.LoadText("QSP40\n[S]\nK=v\n", 14));
  EXPECT_EQ(0, p.LoadText("nope", 4));
  EXPECT_EQ(0, p.GetLineCount("S"));
}

TEST(FileParser, KeyedValuesFollowTheSeparatorRules) {
  Script s(
      "QSP40\r\n[Global]\r\nA = value\r\nB=value\r\nC ==value\r\nD==value\r\nE = = value\r\n"
      "F = trailing  \r\nG =\r\nH \r\nI\r\n J = indented\r\nK = a = b\r\nL=\r\n");
  for (const char* key : {"A", "B", "C", "D", "E"}) EXPECT_EQ("value", s.Value("Global", key)) << key;
  EXPECT_EQ("trailing  ", s.Value("Global", "F"));
  // Present with an empty value: 0 and an empty string, never the default.
  EXPECT_EQ("<0:>", s.Value("Global", "G"));
  EXPECT_EQ("<0:>", s.Value("Global", "H"));
  EXPECT_EQ("<0:>", s.Value("Global", "L"));
  // A key must be followed by a blank or "=".
  EXPECT_EQ("DEF", s.Value("Global", "I"));
  EXPECT_EQ("DEF", s.Value("Global", "J"));
  EXPECT_EQ("a = b", s.Value("Global", "K"));
  EXPECT_EQ("DEF", s.Value("Global", "Missing"));
  EXPECT_EQ("DEF", s.Value("Nowhere", "A"));
  EXPECT_EQ("DEF", s.Value("global", "A"));  // names are case-sensitive
  EXPECT_EQ("DEF", s.Value("Global", "a"));
}

TEST(FileParser, KeySearchSkipsLongerKeysAndStopsAtTheFirstBracket) {
  Script s(
      "QSP40\n[Background]\nBitmapPlacement = TILE\nBitmap = art.bmp\nTitle = a [note]\n"
      "Hidden = yes\n[Other]\nBitmap = other.bmp\n");
  EXPECT_EQ("art.bmp", s.Value("Background", "Bitmap"));
  EXPECT_EQ("TILE", s.Value("Background", "BitmapPlacement"));
  EXPECT_EQ("a [note]", s.Value("Background", "Title"));
  // The "[" inside Title's value ends the keyed section for every key below it.
  EXPECT_EQ("DEF", s.Value("Background", "Hidden"));
  EXPECT_EQ("other.bmp", s.Value("Other", "Bitmap"));
}

TEST(FileParser, OnlyTheFirstHeaderCountsAndHeadersAreFoundAnywhere) {
  Script s("QSP40\n[A]\nK = first\n[A]\nK = second\nX = only-in-second\n");
  EXPECT_EQ("first", s.Value("A", "K"));
  EXPECT_EQ("DEF", s.Value("A", "X"));
  // The header text is searched anywhere, not only at a line start.
  Script inner("QSP40\nnote [Files] here\nline one\n[Next]\n");
  EXPECT_EQ(1, inner.parser.GetLineCount("Files"));
  EXPECT_EQ("line one", inner.Line("Files", 0));
  // A header that ends the file without LF: missing, no lines.
  Script last("QSP40\n[Global]");
  EXPECT_EQ("DEF", last.Value("Global", "A"));
  EXPECT_EQ(0, last.parser.GetLineCount("Global"));
}

TEST(FileParser, LineSectionsTakeEveryLineVerbatim) {
  Script s(
      "QSP40\r\n[Files]\r\n  a.txt, %MAINDIR%a.txt\r\n\r\n; not a comment\r\n"
      "b [x].txt, %MAINDIR%b.txt  \r\n[Shortcuts]\r\nlast");
  EXPECT_EQ(4, s.parser.GetLineCount("Files"));
  EXPECT_EQ("  a.txt, %MAINDIR%a.txt", s.Line("Files", 0));
  EXPECT_EQ("", s.Line("Files", 1));  // a blank line is an entry of length 0
  EXPECT_EQ(1, s.parser.GetLine("Files", 1, nullptr, 0));
  EXPECT_EQ("; not a comment", s.Line("Files", 2));
  EXPECT_EQ("b [x].txt, %MAINDIR%b.txt  ", s.Line("Files", 3));
  EXPECT_EQ("<none>", s.Line("Files", 4));
  EXPECT_EQ("<none>", s.Line("Files", -1));
  // A last line without LF is an entry; a final LF adds none.
  EXPECT_EQ(1, s.parser.GetLineCount("Shortcuts"));
  EXPECT_EQ("last", s.Line("Shortcuts", 0));
  Script t("QSP40\n[Files]\none\ntwo\n");
  EXPECT_EQ(2, t.parser.GetLineCount("Files"));
  EXPECT_EQ(0, t.parser.GetLineCount(nullptr));
  EXPECT_EQ(0, t.parser.GetLineCount("Missing"));
  EXPECT_EQ(0, t.parser.GetLine(nullptr, 0, nullptr, 0));
  // Line numbers in the file, for the authoring tool's messages.
  EXPECT_EQ(3, t.parser.GetLineNumber("Files", 0));
  EXPECT_EQ(4, t.parser.GetLineNumber("Files", 1));
  EXPECT_EQ(0, t.parser.GetLineNumber("Files", 2));
  // asked out of order and across sections, the numbers stay the file's
  Script u("QSP40\n[A]\na1\na2\n[B]\nb1\n");
  EXPECT_EQ(6, u.parser.GetLineNumber("B", 0));
  EXPECT_EQ(4, u.parser.GetLineNumber("A", 1));
  EXPECT_EQ(3, u.parser.GetLineNumber("A", 0));
  EXPECT_EQ(6, u.parser.GetLineNumber("B", 0));
}

TEST(FileParser, LfOnlyAndCrLfFilesReadAlikeAndCrAloneHasNoLines) {
  const std::string body = "QSP40|[Global]|ApplicationName = Example App|[Files]|a, b|c, d|";
  std::string lf = body, crlf;
  for (char& c : lf)
    if (c == '|') c = '\n';
  for (char c : body) crlf += c == '|' ? std::string("\r\n") : std::string(1, c);
  Script a(lf), b(crlf);
  for (Script* s : {&a, &b}) {
    EXPECT_EQ("Example App", s->Value("Global", "ApplicationName"));
    EXPECT_EQ(2, s->parser.GetLineCount("Files"));
    EXPECT_EQ("c, d", s->Line("Files", 1));
  }
  std::string cr = body;
  for (char& c : cr)
    if (c == '|') c = '\r';
  Script c(cr);
  EXPECT_EQ("DEF", c.Value("Global", "ApplicationName"));
  EXPECT_EQ(0, c.parser.GetLineCount("Files"));
}

// Lines are read in any order, across sections, with the same answers as a
// parser that has read nothing before.
TEST(FileParser, LinesReadInAnyOrderGiveTheSameAnswers) {
  std::string text = "QSP40\n[A]\n";
  for (int i = 0; i < 50; ++i) text += "a" + std::to_string(i) + "\n";
  text += "[B]\nb0\n\nb2\n";
  const int order[][2] = {{0, 10}, {0, 3}, {1, 2}, {0, 11}, {0, 49}, {0, 50}, {0, 0}, {1, 1}, {1, 3}, {0, 48}, {1, 0}};
  Script s(text);
  for (const auto& q : order) {
    const char* section = q[0] ? "B" : "A";
    Script fresh(text);
    EXPECT_EQ(fresh.Line(section, q[1]), s.Line(section, q[1])) << section << q[1];
  }
  // A reload forgets where it was.
  EXPECT_EQ("a49", s.Line("A", 49));
  ASSERT_EQ(1, s.parser.LoadText("QSP40\n[A]\nonly\n", 15));
  EXPECT_EQ("<none>", s.Line("A", 49));
  EXPECT_EQ("only", s.Line("A", 0));
}

// The buffer protocol, cell by cell: answer "value" (n = 6).
TEST(FileParser, BufferProtocolForValuesDefaultsAndLines) {
  Script s("QSP40\n[S]\nK = value\n[L]\nvalue\n");
  struct Query {
    const char* name;
    int32_t (*call)(CFileParser&, char*, int32_t);
    int32_t zeroSizeResult;
  } queries[] = {
      {"found", [](CFileParser& p, char* b, int32_t n) { return p.GetValue("S", "K", "dflt!", b, n); }, 6},
      {"default", [](CFileParser& p, char* b, int32_t n) { return p.GetValue("S", "Q", "value", b, n); }, 6},
      {"line", [](CFileParser& p, char* b, int32_t n) { return p.GetLine("L", 0, b, n); }, 0},
  };
  for (const Query& q : queries) {
    char b[16];
    EXPECT_EQ(6, q.call(s.parser, nullptr, 0)) << q.name;
    EXPECT_EQ(6, q.call(s.parser, nullptr, 100)) << q.name;
    memset(b, 'x', sizeof b);
    EXPECT_EQ(6, q.call(s.parser, b, 6)) << q.name;
    EXPECT_STREQ("value", b);
    memset(b, 'x', sizeof b);
    EXPECT_EQ(6, q.call(s.parser, b, 16)) << q.name;
    EXPECT_STREQ("value", b);
    EXPECT_EQ('x', b[6]);  // nothing past the terminator
    memset(b, 'x', sizeof b);
    EXPECT_EQ(4, q.call(s.parser, b, 4)) << q.name;
    EXPECT_STREQ("val", b);
    EXPECT_EQ('x', b[4]);
    memset(b, 'x', sizeof b);
    EXPECT_EQ(1, q.call(s.parser, b, 1)) << q.name;
    EXPECT_STREQ("", b);
    memset(b, 'x', sizeof b);
    EXPECT_EQ(q.zeroSizeResult, q.call(s.parser, b, 0)) << q.name;
    EXPECT_EQ('x', b[0]);
  }
  // Null section or key, or nothing loaded: 0, buffer untouched.
  char b[8] = "keep";
  EXPECT_EQ(0, s.parser.GetValue(nullptr, "K", "d", b, sizeof b));
  EXPECT_EQ(0, s.parser.GetValue("S", nullptr, "d", b, sizeof b));
  CFileParser empty;
  EXPECT_EQ(0, empty.GetValue("S", "K", "d", b, sizeof b));
  EXPECT_STREQ("keep", b);
  // An empty value zeroes the first byte of any buffer that has room for it.
  Script e("QSP40\n[S]\nK =\n");
  EXPECT_EQ(0, e.parser.GetValue("S", "K", "d", b, sizeof b));
  EXPECT_STREQ("", b);
  b[0] = 'k';
  EXPECT_EQ(0, e.parser.GetValue("S", "K", "d", b, 0));
  EXPECT_EQ('k', b[0]);
  EXPECT_EQ(0, e.parser.GetValue("S", "K", "d", nullptr, 0));
}

TEST(FileParser, IntegersReadTheLeadingNumberOfNumericValues) {
  Script s(
      "QSP40\n[N]\nA = 42\nB = -7\nC = 1.5\nD = 12 34\nE = -\nF = 12a\nG =\nH = +3\n"
      "I = 99999999999\nJ = -99999999999\nK = 0x10\nL =   8\n");
  EXPECT_EQ(42, s.parser.GetInt("N", "A", 5));
  EXPECT_EQ(-7, s.parser.GetInt("N", "B", 5));
  EXPECT_EQ(1, s.parser.GetInt("N", "C", 5));
  EXPECT_EQ(12, s.parser.GetInt("N", "D", 5));
  EXPECT_EQ(0, s.parser.GetInt("N", "E", 5));
  EXPECT_EQ(5, s.parser.GetInt("N", "F", 5));  // a byte outside the number set
  EXPECT_EQ(5, s.parser.GetInt("N", "G", 5));
  EXPECT_EQ(3, s.parser.GetInt("N", "H", 5));
  EXPECT_EQ(2147483647, s.parser.GetInt("N", "I", 5));  // saturates
  EXPECT_EQ(-2147483647 - 1, s.parser.GetInt("N", "J", 5));
  EXPECT_EQ(5, s.parser.GetInt("N", "K", 5));
  EXPECT_EQ(8, s.parser.GetInt("N", "L", 5));
  EXPECT_EQ(5, s.parser.GetInt("N", "Missing", 5));
}

// Code page 932: the trail bytes of these characters equal "[", "=", "\" and
// "|"; a scan that walks bytes would cut the text there.
TEST(FileParser, DoubleByteTrailBytesAreNeverDelimiters) {
  MbcsSetCodePage(932);
  const std::string kanji = "\x83\x5B" "\x83\x3D" "\x95\x5C" "\x83\x7C";  // trail [ = \ |
  Script s("QSP40\n[Global]\nName = " + kanji + "\nAfter = seen\n[Files]\n" + kanji +
           ", %MAINDIR%" + kanji + "\n");
  EXPECT_EQ(kanji, s.Value("Global", "Name"));
  // The trail "[" does not end the keyed section.
  EXPECT_EQ("seen", s.Value("Global", "After"));
  EXPECT_EQ(1, s.parser.GetLineCount("Files"));
  EXPECT_EQ(kanji + ", %MAINDIR%" + kanji, s.Line("Files", 0));
  // A key whose value begins with a trail "=" byte keeps it.
  Script t("QSP40\n[G]\nK=\x83\x3Dx\n");
  EXPECT_EQ("\x83\x3Dx", t.Value("G", "K"));
  MbcsSetCodePage(0);
  // Single-byte: the same bytes are delimiters again.
  Script u("QSP40\n[Global]\nName = " + kanji + "\nAfter = seen\n");
  EXPECT_EQ("\x83", u.Value("Global", "Name").substr(0, 1));
  EXPECT_EQ("DEF", u.Value("Global", "After"));
}

}  // namespace
