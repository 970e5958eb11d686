// The commands of quillset. Each takes the arguments after its name and
// returns the exit code: 0 ok, 1 a problem with the input, 2 wrong usage.
#pragma once
#include <string>
#include <vector>

enum { EXIT_OK = 0, EXIT_INPUT = 1, EXIT_USAGE = 2 };

typedef std::vector<std::string> Arguments;

// A problem found in a project script, at its line.
struct Diagnostic {
  int Line;  // 1-based line of the script
  int Warning;
  std::string Message;
  int Column = 0;  // 1-based byte of the line where the problem lies; 0 when none
};

// What a step of a command came to: EXIT_OK, or a failure's exit code and
// what to tell the user about it ("" when it was told already).
struct CommandResult {
  int Code;
  std::string Message;
  bool Ok() const { return Code == EXIT_OK; }
};
inline CommandResult Succeeded() { return {EXIT_OK, ""}; }
inline CommandResult InputFailure(const std::string& message) { return {EXIT_INPUT, message}; }
// Tells a failure's message as "quillset: error: ..." and returns its code.
int Finish(const CommandResult& result);

int RunBuild(const Arguments& args);
int RunList(const Arguments& args);
int RunVerify(const Arguments& args);
int RunExtract(const Arguments& args);
int RunLanguages(const Arguments& args);
int RunTest(const Arguments& args);
int RunManifest(const Arguments& args);

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
