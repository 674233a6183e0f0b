/* Runs a command and reports its wall time and peak resident size on stderr:
 *   timed_run CMD [ARGS...]  ->  "timed_run: elapsed_ms=... maxrss_kib=..."
 * A child's ru_maxrss starts from its parent's size before exec, so the command is forked
 * from this small process rather than from the Python harness. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: timed_run CMD [ARGS...]\n");
        return 2;
    }
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid < 0) {
        perror("timed_run: fork");
        return 125;
    }
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        perror("timed_run: exec");
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) < 0) {
        perror("timed_run: wait4");
        return 125;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double ms = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
    fprintf(stderr, "timed_run: elapsed_ms=%.1f maxrss_kib=%ld\n", ms, usage.ru_maxrss);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
