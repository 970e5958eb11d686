// Help texts of the command (docs/quillset.md says the same at length).
#pragma once

static const char kMainHelp[] =
    "Usage: quillset COMMAND [OPTIONS] ...\n"
    "\n"
    "Packs a project into a self-contained setup program for Windows, and\n"
    "inspects setup files.\n"
    "\n"
    "Commands:\n"
    "  build PROJECT.qsp       check the project script and write the setup file\n"
    "  list SETUP              show the kind of a setup file and its stored files\n"
    "  verify SETUP            check every stored file against its CRC-32\n"
    "  extract SETUP [NAME...] write stored files out, with their file times\n"
    "  languages               list the bundled translation tables\n"
    "  test SETUP              install and uninstall SETUP silently in a throw-away\n"
    "                          Wine prefix and list what was installed and left\n"
    "\n"
    "  quillset COMMAND --help shows the options of a command.\n"
    "  quillset --version      prints the version.\n"
    "\n"
    "Exit status: 0 done, 1 a problem with the input (named), 2 wrong usage.\n";

static const char kBuildHelp[] =
    "Usage: quillset build [OPTIONS] PROJECT.qsp\n"
    "\n"
    "Checks the project script, then writes the setup file: the setup program\n"
    "followed by the script (as default.qsp), the translation table (as\n"
    "Translations.ini) and every file that [Files] and, with UseBackground =\n"
    "TRUE, [Background] name. Every problem is listed as PROJECT.qsp:LINE:\n"
    "message, and nothing is written while there is one.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT       the setup file to write (default: Setup.exe beside\n"
    "                         the script)\n"
    "      --arch ARCH        x86 (default): the 32-bit setup program, for every\n"
    "                         Windows that runs 32-bit programs; x64: the 64-bit\n"
    "                         one, which installs into the native Program Files\n"
    "                         and registry view of 64-bit Windows\n"
    "      --stub FILE        the setup program to use (default: the one for ARCH\n"
    "                         installed with quillset); unsigned: sign the built\n"
    "                         setup file instead\n"
    "      --translations FILE\n"
    "                         the translation table (default: Translations.ini\n"
    "                         beside the script, else the bundled English table)\n"
    "      --language NAME    store the bundled table of NAME (de, fr, es, it,\n"
    "                         pt-BR, nl, pl, cs, ru, ja, zh-CN, en; quillset\n"
    "                         languages lists them); not with --translations\n"
    "      --compression METHOD\n"
    "                         zlib (default): each file compressed on its own;\n"
    "                         lzma: all files in one solid LZMA stream, smallest;\n"
    "                         stored: not compressed. Wins over the script's\n"
    "                         [Global] Compression = METHOD\n"
    "      --store            the same as --compression stored\n"
    "      --split SIZE       write OUT as the setup program alone and the rest in\n"
    "                         slices BASE.001, BASE.002, ... of at most SIZE bytes\n"
    "                         (suffixes K, M, G: 1024, 1024^2, 1024^3); sign OUT\n"
    "                         afterwards like any program\n"
    "  -j, --threads N        compress N files at once with zlib (default: one per\n"
    "                         processor; the output is the same bytes whatever N)\n"
    "  -q, --quiet            no progress bar and no summary\n"
    "  -h, --help             show this help\n";

static const char kListHelp[] =
    "Usage: quillset list SETUP\n"
    "\n"
    "Shows the kind of SETUP (installer, uninstaller or bare stub), the\n"
    "architecture (x86 or x64) and size of its setup program, whether it is\n"
    "signed (and the size of its certificate table) and, for an installer,\n"
    "every stored file: name, stored size, method (zlib, lzma or stored), CRC-32\n"
    "and file time (ISO 8601, UTC). For an LZMA setup file it shows the solid\n"
    "stream (offset, stored and decoded size, dictionary) and lists each file's\n"
    "size in place of its stored size. A file cut short is named damaged, with\n"
    "its byte count (exit status 1).\n";

static const char kVerifyHelp[] =
    "Usage: quillset verify [-q] SETUP\n"
    "\n"
    "Decodes every stored file of SETUP and checks its CRC-32. Names every\n"
    "file that fails; the exit status is 0 only when all pass. A signed file is\n"
    "read under its certificate table, whose size is reported (osslsigncode\n"
    "verify or signtool verify check the signature itself). A file cut short\n"
    "is named damaged or truncated, with its byte count.\n"
    "\n"
    "Options:\n"
    "  -q, --quiet   print only the files that fail\n";

static const char kExtractHelp[] =
    "Usage: quillset extract [-d DIR] [-q] SETUP [NAME...]\n"
    "\n"
    "Writes the stored files of SETUP (all of them, or the NAMEs given, matched\n"
    "without regard to the case of A-Z) into DIR, with their file times. An\n"
    "existing file of the same name is replaced once its new content has been\n"
    "checked.\n"
    "\n"
    "Options:\n"
    "  -d, --directory DIR   where to write (default: the current folder)\n"
    "  -q, --quiet           do not print the names written\n";

static const char kLanguagesHelp[] =
    "Usage: quillset languages\n"
    "\n"
    "Lists the translation tables bundled with quillset: the code that\n"
    "quillset build --language takes, the language, the Windows ANSI code page\n"
    "the table is written in, and where the table was found.\n";

static const char kTestHelp[] =
    "Usage: quillset test SETUP\n"
    "\n"
    "A smoke test of a setup file, on Linux with Wine: makes a throw-away Wine\n"
    "prefix (32-bit for an x86 setup program, 64-bit for x64), runs SETUP /S,\n"
    "lists what it installed (files, folders, shortcuts, registry keys and\n"
    "values, the Add/Remove Programs entry), runs its Uninstall.exe /S and lists\n"
    "whatever is left behind. No window is shown (DISPLAY is unset).\n"
    "\n"
    "Exit status: 0 when both ended with 0 and nothing is left, 1 otherwise,\n"
    "2 when Wine is missing (it says what to install) or on wrong usage.\n"
    "Wine is looked for on PATH, then in QUILLSET_WINE_DIR (default\n"
    "/usr/lib/wine, where Debian keeps wine64).\n";
