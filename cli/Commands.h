// The commands of quillset. Each takes the arguments after its name and
// returns the exit code: 0 ok, 1 a problem with the input, 2 wrong usage.
#pragma once
#include <string>
#include <vector>

enum { EXIT_OK = 0, EXIT_INPUT = 1, EXIT_USAGE = 2 };

typedef std::vector<std::string> Arguments;

int RunBuild(const Arguments& args);
int RunList(const Arguments& args);
int RunVerify(const Arguments& args);
int RunExtract(const Arguments& args);
int RunLanguages(const Arguments& args);

// Reports wrong usage of a command and returns EXIT_USAGE.
int UsageError(const char* command, const std::string& message);

// Walks options and operands in order: "-o X", "-oX", "--out X", "--out=X",
// and "--" ending the options.
class COptionWalker {
 public:
  COptionWalker(const char* command, const Arguments& args) : m_Command(command), m_Args(args) {}
  // Next argument; 0 at the end. *option is true for an option, whose name
  // (with its dashes) is in *text; else *text is an operand.
  int Next(bool* option, std::string* text);
  // The value of the option just returned; 0 (after a usage message) when
  // it has none.
  int Value(std::string* value);
  // For an option without a value: 0 (after a usage message) when one was
  // attached to it.
  int Flag();

 private:
  const char* m_Command;
  const Arguments& m_Args;
  size_t m_At = 0;
  bool m_OptionsEnded = false;
  std::string m_Attached;  // value given as --name=value or -oVALUE
  bool m_HasAttached = false;
  std::string m_Name;
};
