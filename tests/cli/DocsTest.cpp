// The examples of the author's reference and the example project build as
// they stand, without a warning.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "CliSupport.h"
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
  for (int i = 0; i < parser.GetLineCount("Files"); ++i) {
    char line[1024];
    parser.GetLine("Files", i, line, sizeof line);
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
  for (std::string f : files) {
    for (char& c : f)
      if (c == '\\') c = '/';
    WriteWholeFile(dir.File(f), "content of " + f);
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
  for (const char* name : {"background.bmp", "default.qsp", "licence.txt", "logo.wmf", "readme.txt",
                           "sampler.cmd", "sampler.dat", "Translations.ini"})
    EXPECT_NE(std::string::npos, list.Out.find(std::string("\n") + name + " ")) << name << list.Out;
  EXPECT_NE(std::string::npos, list.Out.find("8 entries"));
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

}  // namespace
