/* spawn_timer -n RUNS [-w WARMUP] -o FILE -- COMMAND [ARG...]
 *
 * Runs COMMAND WARMUP times untimed, then RUNS times one after the other,
 * each by fork, exec and wait4, and writes one line per timed run to FILE:
 * wall nanoseconds from fork to reaped, peak RSS in KiB (ru_maxrss), the
 * wait status and the minor page faults (ru_minflt). The child's stdout goes to /dev/null, its stderr to
 * FILE.stderr, so anything it complains about is kept. Exit 0 when every
 * run could be started and timed. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long NowNs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

static void Usage(void)
{
    fprintf(stderr, "usage: spawn_timer -n RUNS [-w WARMUP] -o FILE -- COMMAND [ARG...]\n");
    exit(125);
}

int main(int argc, char** argv)
{
    long runs = -1, warmUp = 0;
    const char* out = NULL;
    int option;
    while ((option = getopt(argc, argv, "n:w:o:")) != -1) {
        if (option == 'n')
            runs = strtol(optarg, NULL, 10);
        else if (option == 'w')
            warmUp = strtol(optarg, NULL, 10);
        else if (option == 'o')
            out = optarg;
        else
            Usage();
    }
    if (runs < 1 || warmUp < 0 || out == NULL || optind >= argc)
        Usage();
    char** command = argv + optind;

    FILE* results = fopen(out, "w");
    char errorPath[4096];
    snprintf(errorPath, sizeof errorPath, "%s.stderr", out);
    const int childError = open(errorPath, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    const int childOut = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (results == NULL || childError < 0 || childOut < 0) {
        perror("spawn_timer");
        return 125;
    }
    /* Results are kept in memory and written at the end, so no file work
     * falls between two runs. */
    long long* wall = calloc((size_t)runs, sizeof *wall);
    long* rss = calloc((size_t)runs, sizeof *rss);
    int* status = calloc((size_t)runs, sizeof *status);
    long* faults = calloc((size_t)runs, sizeof *faults);
    if (wall == NULL || rss == NULL || status == NULL || faults == NULL)
        return 125;

    for (long i = -warmUp; i < runs; ++i) {
        const long long start = NowNs();
        const pid_t pid = fork();
        if (pid < 0) {
            perror("spawn_timer: fork");
            return 125;
        }
        if (pid == 0) {
            dup2(childOut, STDOUT_FILENO);
            dup2(childError, STDERR_FILENO);
            execv(command[0], command);
            _exit(127);
        }
        struct rusage usage;
        int waited;
        if (wait4(pid, &waited, 0, &usage) != pid) {
            perror("spawn_timer: wait4");
            return 125;
        }
        const long long elapsed = NowNs() - start;
        if (i >= 0) {
            wall[i] = elapsed;
            rss[i] = usage.ru_maxrss;
            status[i] = waited;
            faults[i] = usage.ru_minflt;
        }
    }
    for (long i = 0; i < runs; ++i)
        fprintf(results, "%lld %ld %d %ld\n", wall[i], rss[i], status[i], faults[i]);
    return fclose(results) == 0 ? 0 : 125;
}
