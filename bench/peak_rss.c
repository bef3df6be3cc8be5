/* Runs a command and writes its peak resident memory (kB, the largest of it
 * and of the descendants it waited for) to a file:
 *   peak_rss <record file> <program> [arguments...]
 * and exits with the command's status. A child of the benchmark's Python
 * would start from Python's resident set (the high-water mark survives
 * fork and exec); a child of this small program starts from almost none. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) < 0) return 2;
    FILE* record = fopen(argv[1], "w");
    if (!record) return 2;
    fprintf(record, "%ld\n", usage.ru_maxrss);
    fclose(record);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
