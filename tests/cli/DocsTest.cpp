// The examples of the author's reference and the example project build as
// they stand, without a warning.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "CliSupport.h"
#include "driver/CommandLine.h"
#include "script/ActionSections.h"
#include "script/FileParser.h"

namespace {

std::vector<std::string> QspBlocks(const std::string& markdown) {
  std::vector<std::string> blocks;
  const std::string open = "```qsp\n";
  for (size_t at = markdown.find(open); at != std::string::npos; at = markdown.find(open, at)) {
    at += open.size();
    size_t end = markdown.find("```\n", at);
    if (end == std::string::npos) break;
    blocks.push_back(markdown.substr(at, end - at));
    at = end;
  }
  return blocks;
}

// Makes every file the script names, as small stand-ins.
void MakeSources(const TempDir& dir, const std::string& script) {
  CFileParser parser;
  ASSERT_TRUE(parser.LoadText(script.data(), (uint32_t)script.size()));
  std::vector<std::string> files;
  // [Files] and those of the components and tasks
  std::vector<std::string> sections = {"Files"};
  for (size_t at = script.find("\n[Files:"); at != std::string::npos; at = script.find("\n[Files:", at + 1))
    sections.push_back(script.substr(at + 2, script.find(']', at) - at - 2));
  for (const std::string& section : sections)
  for (int i = 0; i < parser.GetLineCount(section.c_str()); ++i) {
    char line[1024];
    parser.GetLine(section.c_str(), i, line, sizeof line);
    std::string s = line;
    s = s.substr(0, std::min(s.find(','), s.find(" |")));
    // a folder or a pattern: a file that it takes, one folder down
    if (s.back() == '\\') s += "sub\\a.txt";
    for (size_t at = s.find("**"); at != std::string::npos; at = s.find("**")) s.replace(at, 2, "sub");
    for (size_t at = s.find_first_of("*?"); at != std::string::npos; at = s.find_first_of("*?")) s[at] = 'x';
    files.push_back(s);
  }
  for (const char* key : {"Bitmap", "Metafile"}) {
    char value[260];
    if (parser.GetValue("Background", key, "", value, sizeof value) > 1) files.push_back(value);
  }
  char icon[260];
  if (parser.GetValue("Global", "SetupIcon", "", icon, sizeof icon) > 1) files.push_back(icon);
  for (std::string f : files) {
    for (char& c : f)
      if (c == '\\') c = '/';
    const bool ico = f.size() > 4 && f.compare(f.size() - 4, 4, ".ico") == 0;
    WriteWholeFile(dir.File(f), ico ? ReadWholeFile(SourceDir() + "/resources/Quillset.ico") : "content of " + f);
  }
}

TEST(Docs, EveryProjectOfTheReferenceBuildsCleanly) {
  std::vector<std::string> blocks = QspBlocks(ReadWholeFile(SourceDir() + "/docs/quillset.md"));
  ASSERT_GE(blocks.size(), 6u);
  for (const std::string& script : blocks) {
    TempDir dir;
    Project project(dir);
    project.Write(script);
    MakeSources(dir, script);
    // the vendor's keys need a setup program with resources
    if (Exists(QS_STUB32_FILE)) WriteWholeFile(dir.File("stub.exe"), ReadWholeFile(QS_STUB32_FILE));
    RunResult r = project.Build(dir.File("Setup.exe"));
    EXPECT_EQ(0, r.Code) << script << r.Err;
    EXPECT_EQ("", r.Err) << script;
    EXPECT_EQ(0, RunQuillset({"verify", "-q", dir.File("Setup.exe")}).Code);
  }
}

TEST(Docs, TheExampleProjectBuildsWithEverySection) {
  TempDir dir;
  std::string example = SourceDir() + "/examples/every-section";
  ASSERT_EQ(0, system(("cp -r '" + example + "' '" + dir.File("p") + "'").c_str()));
  WriteWholeFile(dir.File("stub.exe"), FakeStub());
  RunResult r = RunQuillset({"build", "-q", "--stub", dir.File("stub.exe"), dir.File("p/every-section.qsp")});
  ASSERT_EQ(0, r.Code) << r.Err;
  EXPECT_EQ("", r.Err);
  Bytes script = ReadWholeFile(dir.File("p/every-section.qsp"));
  for (const char* section : {"[Global]", "[Background]", "[Files]", "[Shortcuts]", "[INIFiles]",
                              "[SysRegUninstall]", "[SysRegInt]", "[SysRegString]", "[Execute]"})
    EXPECT_NE(std::string::npos, script.find(section)) << section;
  RunResult list = RunQuillset({"list", dir.File("p/Setup.exe")});
  // the licence and the side picture under names of their own, beside the file of [Files]
  for (const char* name : {"background.bmp", "default.qsp", "licence.txt", "logo.wmf", "readme.txt",
                           "sampler.cmd", "sampler.dat", "Translations.ini", "{LicenseFile}.txt", "{WizardImage}.bmp"})
    EXPECT_NE(std::string::npos, list.Out.find(std::string("\n") + name + " ")) << name << list.Out;
  EXPECT_NE(std::string::npos, list.Out.find("10 entries"));
}

// The reference follows the one table of action sections: a heading for each,
// in the order the setup program runs them, and a section's field list as the
// command's messages spell it.
TEST(Docs, EveryActionSectionIsDescribedInRunOrder) {
  Bytes doc = ReadWholeFile(SourceDir() + "/docs/quillset.md");
  size_t last = 0;
  for (const ActionSection& s : kActionSections) {
    std::string name = std::string("[") + s.Name + "]";
    size_t heading = std::string::npos;
    for (size_t at = doc.find("\n### "); at != std::string::npos; at = doc.find("\n### ", at + 1)) {
      size_t end = doc.find('\n', at + 1);
      if (doc.substr(at, end - at).find(name) != std::string::npos) {
        heading = at;
        break;
      }
    }
    ASSERT_NE(std::string::npos, heading) << name << " has no heading";
    EXPECT_GE(heading, last) << name << " is described before the section it follows";
    last = heading;
    if (!s.Fields) continue;
    size_t next = doc.find("\n#", heading + 1);
    size_t fields = doc.find(std::string("\n    ") + s.Fields + "\n", heading);
    EXPECT_TRUE(fields != std::string::npos && fields < next) << name << ": no line \"" << s.Fields << "\"";
  }
}

// Where the reference says how the setup program ends on a damaged file, it
// names the code the program returns.
TEST(Docs, TheDamagedFileEndsWithItsOwnExitCode) {
  Bytes doc = ReadWholeFile(SourceDir() + "/docs/quillset.md");
  const std::string text = "damaged or\nincomplete. Please obtain it again.";
  size_t at = doc.find(text);
  ASSERT_NE(std::string::npos, at);
  size_t code = doc.find("exit code ", at);
  ASSERT_LT(code, at + text.size() + 60) << "no exit code beside the damaged file's message";
  EXPECT_EQ(std::to_string(SETUP_EXIT_DAMAGED), doc.substr(code + 10, 1));
}

// The reference names exactly the sections and keys the command takes, as
// the command lists them for a name that is like none of them.
TEST(Docs, TheReferenceNamesEverySectionAndKeyTheCommandTakes) {
  const Bytes doc = ReadWholeFile(SourceDir() + "/docs/quillset.md");
  TempDir dir;
  Project project(dir);
  auto listed = [&](const std::string& script, const std::string& intro) {
    project.Write("QSP40\n[Global]\nApplicationName = A\n" + script);
    const std::string err = project.Build(dir.File("Setup.exe")).Err;
    std::set<std::string> names;
    size_t at = err.find(intro);
    EXPECT_NE(std::string::npos, at) << err;
    for (at += intro.size(); at != std::string::npos && at < err.size() && err[at] != '\n';) {
      size_t end = err.find_first_of(",\n", at);
      names.insert(err.substr(at, end - at));
      at = end == std::string::npos || err[end] == '\n' ? std::string::npos : end + 2;
    }
    return names;
  };
  // every `[Name]` of a "###" heading; every `Key` of the first column of a table below a heading
  std::set<std::string> headings;
  std::map<std::string, std::set<std::string>> keys;
  std::string under;
  for (size_t at = 0; at < doc.size();) {
    size_t end = doc.find('\n', at);
    const std::string line = doc.substr(at, end - at);
    at = end == std::string::npos ? doc.size() : end + 1;
    if (line.compare(0, 2, "# ") == 0 || line.compare(0, 3, "## ") == 0 || line.compare(0, 4, "### ") == 0) under = "";
    if (line.compare(0, 5, "### [") == 0) under = line.substr(4);
    if (line.compare(0, 5, "### [") == 0)
      for (size_t b = line.find('['); b != std::string::npos; b = line.find('[', b + 1))
        headings.insert(line.substr(b, line.find(']', b) - b + 1));
    if (under.empty() || line.compare(0, 3, "| `") != 0) continue;
    const std::string cell = line.substr(1, line.find('|', 1) - 1);
    for (size_t b = cell.find('`'); b != std::string::npos; b = cell.find('`', cell.find('`', b + 1) + 1))
      keys[under].insert(cell.substr(b + 1, cell.find('`', b + 1) - b - 1));
  }
  EXPECT_EQ(headings, listed("[Zzzzzzzz]\n", "the sections are "));
  EXPECT_EQ(keys["[Global]"], listed("Zzzzzzzz = 1\n", "the keys are "));
  EXPECT_EQ(keys["[Background]"], listed("[Background]\nZzzzzzzz = 1\n", "the keys are "));
}

}  // namespace
