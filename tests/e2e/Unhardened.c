/* Control program: asks for each DLL named on its command line by bare name,
   without restricting the search, as an unprotected program would. Exits
   with the number of names that could not be loaded at all. */
#include <windows.h>

int main(int argc, char** argv) {
  int failed = 0;
  for (int i = 1; i < argc; ++i)
    if (!LoadLibraryA(argv[i])) ++failed;
  return failed;
}
