// The program mirvane_start_bench has the updater start: writes the moment
// it began (CLOCK_MONOTONIC, nanoseconds) to "started.txt" in its working
// folder and ends.
#include <time.h>

#include <cstdio>

int main()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::FILE *f = std::fopen("started.txt.tmp", "w");
    if (!f)
        return 1;
    std::fprintf(f, "%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    std::fclose(f);
    return std::rename("started.txt.tmp", "started.txt") == 0 ? 0 : 1;
}
