// The build side of [Files]: a line's source may be a file, a folder or a
// pattern (with exclusions behind "|"), its destination a file or a folder.
// Each line becomes the files it stands for, in a fixed order, each with a
// stored name of its own; where the setup program could not find a file by
// its destination's name, the stored script gets one plain line per file
// that names its stored file in the source.
#pragma once
#include <string>
#include <vector>

#include "cli/Commands.h"

// text with %APPNAME% and %% filled in and every other known token written
// as itself followed by the separator the setup program adds after it, so
// that the file name part and the commas look as they will at install time.
std::string ExpandForBuild(const std::string& text, const std::string& appName);

// s without the blanks and tabs around it.
std::string TrimBlanks(const std::string& s);

// One file a [Files] line installs.
struct FileToInstall {
  std::string Path;         // the source on this system
  std::string Destination;  // as the setup program takes it, placeholders unfilled
  std::string DestinationName;  // its file name once they are filled in
  int Line;
  size_t Stored = 0;        // index of its stored file
  std::string Section = "Files";  // the header of its line ("Files:docs")
};

// A file to store and the name the setup file keeps it under.
struct StoredFile {
  std::string Path;
  std::string Name;
  int Line;  // the first line that installs it
};

// Expands one [Files] line (source and destination as written, blanks
// around them removed). folder is the script's folder, appName fills in
// %APPNAME%. Problems go to out; 0 when the line gave none.
int ExpandFilesLine(const std::string& source, const std::string& destination, int line, const std::string& folder,
                    const std::string& appName, std::vector<FileToInstall>* files, std::vector<Diagnostic>* out);

// Gives every distinct source a stored name: its file name, unless a name
// taken before (taken: names the setup file keeps for itself and its
// pictures) or by another file asks for another one. Returns 1 when any
// line must name its stored file: a name differs from the destination's.
int NameStoredFiles(std::vector<FileToInstall>* files, const std::vector<std::string>& taken,
                    std::vector<StoredFile>* stored, std::vector<Diagnostic>* out);

// text with the lines of each [Files] section that files come from ([Files],
// [Files:docs] ..., where the setup program finds it) replaced by one
// "stored name, destination" line per file of it.
std::string WithExplicitFilesLines(const std::string& text, const std::vector<FileToInstall>& files,
                                   const std::vector<StoredFile>& stored);
