#include "script/LaunchCommand.h"

#include <string.h>

#include "common/Mbcs.h"

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

LaunchCommandProblem SplitLaunchCommand(const char* value, LaunchCommand* out) {
  out->Program = "";
  out->ProgramLength = 0;
  out->Arguments = "";
  const char* p = value ? value : "";
  while (IsBlank(*p)) ++p;
  const char* end;
  const char* rest;
  if (*p == '"') {
    ++p;
    end = MbcsFindChar(p, '"');
    if (!end) return LAUNCH_COMMAND_UNCLOSED_QUOTE;
    rest = end + 1;
  } else {
    // blanks are single-byte in every code page: no trail byte is one
    end = p;
    while (*end && !IsBlank(*end) && *end != '\r' && *end != '\n') ++end;
    rest = end;
  }
  if (end == p) return LAUNCH_COMMAND_NO_PROGRAM;
  while (IsBlank(*rest)) ++rest;
  out->Program = p;
  out->ProgramLength = static_cast<size_t>(end - p);
  out->Arguments = rest;
  return LAUNCH_COMMAND_OK;
}

int IsFullLaunchPath(const char* path) {
  const char c = path[0];
  const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (letter && path[1] == ':' && path[2] == '\\') return 1;
  return path[0] == '\\' && path[1] == '\\' && path[2] && path[2] != '\\';
}
