// Setup files built for the reader's tests.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"

// A setup file `name` in dir: a 3000-byte stub, then `files` (name ->
// content); even-numbered ones compressed, odd-numbered ones stored.
std::string BuildTestSetup(const TempFolder& dir, const char* name,
                           const std::vector<std::pair<std::string, std::string>>& files);
