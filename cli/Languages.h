// The translation tables that ship with quillset, the code page each is
// stored in, and the checks that keep them usable by the setup program.
// Portable: no platform headers.
#pragma once
#include <string>
#include <vector>

struct LanguageTable {
  const char* Code;  // what --language takes: "de", "pt-BR"
  const char* Name;  // English name of the language
  const char* File;  // file name in translations/ and share/quillset/
  int CodePage;      // the Windows ANSI code page the file is written in
};

// Every shipped table, English first.
const std::vector<LanguageTable>& LanguageTables();

// The table named by code ("de", "pt-BR") or English name ("German"),
// without regard to case and with "_" for "-"; null when there is none.
const LanguageTable* FindLanguage(const std::string& name);

// Offset of the first byte of text that is not a character of the code page
// (an unassigned byte, a control character other than CR LF and tab, a lead
// byte without its trail), or std::string::npos when all are valid.
size_t FindInvalidByte(const std::string& text, int codePage);

// Every problem of a translation table against the English one: a key
// missing, unknown or given twice, a different number of "%s" or other
// placeholders, a "%" that starts nothing, "|" breaks that differ from
// English, bytes invalid in codePage, lines not ended by CR LF. Each problem
// starts with the key it concerns, when there is one.
std::vector<std::string> CheckTranslationTable(const std::string& table, int codePage,
                                               const std::string& english);

// What the setup program's lookup keeps of a text: 2000 characters (UTF-16
// units), the rest is cut off wherever it falls.
const size_t kTextLimit = 2000;

// Every text of a table in UTF-8 longer than kTextLimit, as "LINE: KEY is N
// characters long; ...".
std::vector<std::string> FindTextsTooLong(const std::string& utf8Table);
