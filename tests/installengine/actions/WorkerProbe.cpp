// A small program for the install worker's tests, built twice with two file
// versions (WorkerProbe1.exe 1.0.0.0, WorkerProbe2.exe 2.0.0.0):
//   --sleep SECONDS        stays running, a program in use
//   /RegServer             writes HKCU "Software\Quenta\WorkerProbe" value
//                          "RegServer" = the folder it was started in
//   --record FILE [WORD..] appends the words, each followed by "|", and a
//                          line end to FILE
#include "platform/Registry.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--sleep") == 0) {
        for (int left = std::atoi(argv[2]); left > 0; --left)
            ::sleep(1);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "/RegServer") == 0) {
        char cwd[4096] = {};
        if (!::getcwd(cwd, sizeof cwd))
            return 1;
        platform::RegistryKey key;
        if (FAILED(
                platform::RegistryKey::Create(platform::RegRoot::HKCU, "Software\\Quenta\\WorkerProbe", key)))
            return 1;
        return FAILED(key.WriteString("RegServer", cwd)) ? 1 : 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--record") == 0) {
        std::ofstream out(argv[2], std::ios::app);
        for (int i = 3; i < argc; ++i)
            out << argv[i] << '|';
        out << '\n';
        return 0;
    }
    return 2;
}
