// Stands in for Velmor.exe and the programs of launch items in the updater's
// tests: appends how it was started to "started.txt" in its working folder,
//   ARGS <its arguments joined by blanks>
//   CWD <its working folder>
//   PROGRAM <its own path>
// and ends.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    std::string args;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            args += ' ';
        args += argv[i];
    }
    char cwd[PATH_MAX] = {};
    if (!getcwd(cwd, sizeof cwd))
        return 1;
    std::FILE *f = std::fopen("started.txt", "a");
    if (!f)
        return 1;
    std::fprintf(f, "ARGS %s\nCWD %s\nPROGRAM %s\n", args.c_str(), cwd, argv[0]);
    std::fclose(f);
    return 0;
}
