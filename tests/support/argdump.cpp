// A test tool standing in for a started program: it appends its arguments, one per line, and
// the window hint it was given to the file named by ZELV_ARGDUMP_FILE, waits
// ZELV_ARGDUMP_SLEEP_MS milliseconds and exits with ZELV_ARGDUMP_EXIT.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char *argv[])
{
    const char *sleepMs = getenv("ZELV_ARGDUMP_SLEEP_MS");
    if (sleepMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(atoi(sleepMs)));
    if (const char *file = getenv("ZELV_ARGDUMP_FILE")) {
        if (FILE *f = fopen(file, "a")) {
            const char *hint = getenv("ZELV_WINDOW_HINT");
            fprintf(f, "run %s hint=%s\n", argv[0], hint ? hint : "-");
            for (int i = 1; i < argc; ++i)
                fprintf(f, "%s\n", argv[i]);
            fprintf(f, "end\n");
            fclose(f);
        }
    }
    const char *code = getenv("ZELV_ARGDUMP_EXIT");
    return code ? atoi(code) : 0;
}
