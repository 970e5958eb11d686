// Runs a fuzz target over files and seed directories without libFuzzer, so
// the seed corpora run as plain tests under the compiler's sanitizers.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzCheck.h"

namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void CollectInputs(const std::string& path, std::vector<std::string>* inputs) {
  if (!IsDirectory(path)) {
    inputs->push_back(path);
    return;
  }
  DIR* dir = opendir(path.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) inputs->push_back(path + "/" + name);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) CollectInputs(argv[i], &inputs);
  if (inputs.empty()) {
    fprintf(stderr, "no inputs: name seed files or corpus directories\n");
    return 2;
  }
  for (const std::string& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      fprintf(stderr, "cannot read %s\n", path.c_str());
      return 2;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    fprintf(stderr, "%s (%zu bytes)\n", path.c_str(), bytes.size());
    // an exact-size copy, so that a read one past the end is caught
    uint8_t* copy = static_cast<uint8_t*>(malloc(bytes.size()));
    if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), copy);
    LLVMFuzzerTestOneInput(copy, bytes.size());
    free(copy);
  }
  printf("%zu inputs ran\n", inputs.size());
  return 0;
}
