// Cutting a setup file into the slices that the setup program joins again:
// OUT is the setup program and a record of the slices' SHA-256 digests,
// BASE.001, BASE.002, ... carry the rest.
#pragma once
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "efs/SetupLayout.h"

// A split setup has at most this many numbered slices: past that a user
// would be asked for a thousand disks, and the names lose their three digits.
enum { SPLIT_MAX_SLICES = 999, SPLIT_MIN_SIZE = 64 };

// Name of numbered slice n (1-based): OUT without its extension, then ".001".
std::string SliceName(const std::string& out, int n);

// End offsets of the numbered slices of a file of fileSize bytes whose stub
// takes its first stubSize bytes. Each slice holds at most size bytes; the
// last one at least 16; no slice but the last ends with the installer
// signature (the setup program would stop joining there). Reads the file at
// the cut points; a failure that names the file when it cannot be read.
CommandResult PlanSlices(const std::string& file, uint64_t stubSize, uint64_t fileSize, uint64_t size,
                         std::vector<uint64_t>* ends);

// quillset verify on a first slice: each numbered slice beside it against
// the digest its record holds (layout: the first slice's). An exit code.
int VerifySlices(const std::string& first, const SetupLayout& layout, int quiet);

// Writes OUT and the numbered slices from file by the plan, each through a
// temporary name that is renamed once all are written; on failure nothing
// new is left. *written receives the slice names. finishFirst, when given,
// has the last word on OUT under its temporary name (signing it).
CommandResult WriteSlices(const std::string& file, uint64_t stubSize, const std::vector<uint64_t>& ends,
                          const std::string& out, std::vector<std::string>* written,
                          const std::function<CommandResult(const std::string&)>& finishFirst = nullptr);
