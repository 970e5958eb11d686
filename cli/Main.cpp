// quillset: packs a project into a setup file, and inspects setup files.
#include <stdio.h>
#include <string.h>

#include "cli/Commands.h"
#include "cli/Help.h"
#include "cli/Platform.h"

#ifndef QS_VERSION
#define QS_VERSION "0.0.0"
#endif

int Finish(const CommandResult& result) {
  if (!result.Ok() && !result.Message.empty()) fprintf(stderr, "quillset: error: %s\n", result.Message.c_str());
  return result.Code;
}

int UsageError(const char* command, const std::string& message) {
  if (command)
    fprintf(stderr, "quillset %s: %s\nTry 'quillset %s --help'.\n", command, message.c_str(), command);
  else
    fprintf(stderr, "quillset: %s\nTry 'quillset --help'.\n", message.c_str());
  return EXIT_USAGE;
}

int COptionWalker::Next(bool* option, std::string* text) {
  if (m_HasAttached) {
    UsageError(m_Command, "option " + m_Name + " takes no value");
    m_HasAttached = false;
  }
  if (m_At >= m_Args.size()) return 0;
  const std::string& a = m_Args[m_At++];
  if (!m_OptionsEnded && a == "--") {
    m_OptionsEnded = true;
    return Next(option, text);
  }
  if (m_OptionsEnded || a.size() < 2 || a[0] != '-') {
    *option = false;
    *text = a;
    return 1;
  }
  *option = true;
  m_HasAttached = false;
  if (a[1] == '-') {
    size_t eq = a.find('=');
    m_Name = a.substr(0, eq);
    if (eq != std::string::npos) {
      m_Attached = a.substr(eq + 1);
      m_HasAttached = true;
    }
  } else {
    m_Name = a.substr(0, 2);
    if (a.size() > 2) {
      m_Attached = a.substr(2);
      m_HasAttached = true;
    }
  }
  *text = m_Name;
  return 1;
}

int COptionWalker::Value(std::string* value) {
  if (m_HasAttached) {
    *value = m_Attached;
    m_HasAttached = false;
    return 1;
  }
  if (m_At >= m_Args.size()) {
    UsageError(m_Command, "option " + m_Name + " needs a value");
    return 0;
  }
  *value = m_Args[m_At++];
  return 1;
}

int COptionWalker::Flag() {
  if (!m_HasAttached) return 1;
  m_HasAttached = false;
  UsageError(m_Command, "option " + m_Name + " takes no value");
  return 0;
}

int main(int argc, char** argv) {
  PlatformUseUtf8Console();
  if (argc < 2) {
    fputs(kMainHelp, stderr);
    return EXIT_USAGE;
  }
  std::string command = argv[1];
  Arguments rest(argv + 2, argv + argc);
  if (command == "--help" || command == "-h") {
    fputs(kMainHelp, stdout);
    return EXIT_OK;
  }
  if (command == "--version") {
    printf("quillset %s\n", QS_VERSION);
    return EXIT_OK;
  }
  if (command == "help") {
    if (rest.empty()) {
      fputs(kMainHelp, stdout);
      return EXIT_OK;
    }
    command = rest[0];
    rest.assign(1, "--help");
  }
  struct Command {
    const char* Name;
    int (*Run)(const Arguments&);
    const char* Help;
  };
  const Command commands[] = {
      {"build", RunBuild, kBuildHelp},
      {"list", RunList, kListHelp},
      {"verify", RunVerify, kVerifyHelp},
      {"extract", RunExtract, kExtractHelp},
      {"languages", RunLanguages, kLanguagesHelp},
      {"test", RunTest, kTestHelp},
      {"manifest", RunManifest, kManifestHelp},
  };
  for (const Command& c : commands) {
    if (command != c.Name) continue;
    for (const std::string& a : rest) {
      if (a == "--") break;
      if (a == "--help" || a == "-h") {
        fputs(c.Help, stdout);
        return EXIT_OK;
      }
    }
    return c.Run(rest);
  }
  return UsageError(nullptr, "unknown command '" + command + "'");
}
