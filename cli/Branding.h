// The setup program as the script's vendor names it.
#pragma once
#include <string>
#include <vector>

class CProject;
struct Diagnostic;

// The setup program of stub as the script's vendor names it ([Global]
// SetupIcon, Publisher, Version), in *image. False when the script names
// none of them (the program stays as it is) or something is wrong: an icon
// that cannot be used is a problem of its line, a program that cannot carry
// them an error.
bool BrandedProgram(const CProject& project, const std::string& stub, std::vector<Diagnostic>* problems,
                    std::vector<std::string>* errors, std::string* image);
