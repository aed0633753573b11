// The planting test's control: loads each DLL named on the command line by name alone, with the
// loader's default search order, as a careless program would. It shows that a planted DLL
// beside an exe does get loaded, and leaves its marker, when nothing prevents it.

#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) ::LoadLibraryW(argv[i]);
    return 0;
}
