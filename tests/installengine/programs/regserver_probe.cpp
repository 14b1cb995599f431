// A program that registers itself the way a component program does: it is
// started with "/RegServer" or "/UnregServer". It appends its arguments as
// one line to $PROBE_LOG and ends with $PROBE_EXIT (0 when unset).
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (const char *log = std::getenv("PROBE_LOG")) {
        if (std::FILE *f = std::fopen(log, "a")) {
            for (int i = 1; i < argc; ++i)
                std::fprintf(f, "%s%s", i > 1 ? " " : "", argv[i]);
            std::fputc('\n', f);
            std::fclose(f);
        }
    }
    const char *status = std::getenv("PROBE_EXIT");
    return status ? std::atoi(status) : 0;
}
