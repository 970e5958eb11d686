// quillset build --sign COMMAND: every program the build writes is signed
// by the publisher's own tool, the uninstaller that the setup will install
// as well as the setup file.
#pragma once
#include <string>

#include "cli/Commands.h"

// What --sign takes: {file} (the tool signs in place), or {in} and {out}
// (it writes a signed copy). "" when the command is usable, else why not.
std::string CheckSignCommand(const std::string& command);

// The setup program followed by the uninstaller signature, signed, written
// to image (which the caller removes); the setup file stores it and
// installs it as Uninstall.exe. Fails naming the command's output and exit
// code.
CommandResult MakeSignedUninstaller(const std::string& command, const std::string& stub, const std::string& image);

// Signs the program at path where it lies: a setup file or a first slice,
// still under its temporary name. shownAs names it in messages.
CommandResult SignProgram(const std::string& command, const std::string& path, const std::string& shownAs);
