/* Control program: asks for each DLL named on its command line by bare name,
   without restricting the search, as an unprotected program would. */
#include <windows.h>
#include <string.h>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) LoadLibraryA(argv[i]);
  return 0;
}
