/* measure RESULT STDERR PROGRAM [ARGUMENT...]
 *
 * Runs PROGRAM with its standard output on /dev/null and its standard error
 * into the file STDERR, waits for it and writes into the file RESULT one
 * line: exit status, wall time in nanoseconds, peak resident memory in KiB
 * (ru_maxrss), user and system time in microseconds.
 *
 * The child's peak memory counts the memory of the process it was started
 * from as well (the kernel keeps the larger of the two at exec), so the
 * benchmark starts its commands through this small program, not directly
 * from the Python interpreter.
 */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

static long long Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

static long long Micro(struct timeval t) { return t.tv_sec * 1000000LL + t.tv_usec; }

int main(int argc, char **argv) {
  if (argc < 4) {
    fputs("usage: measure RESULT STDERR PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);

  const long long start = Now();
  pid_t child;
  if (posix_spawn(&child, argv[3], &actions, NULL, argv + 3, environ) != 0) {
    perror(argv[3]);
    return 2;
  }
  int status;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) {
    perror("wait4");
    return 2;
  }
  const long long elapsed = Now() - start;

  FILE *result = fopen(argv[1], "w");
  if (result == NULL) {
    perror(argv[1]);
    return 2;
  }
  fprintf(result, "%d %lld %ld %lld %lld\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128,
          elapsed, usage.ru_maxrss, Micro(usage.ru_utime), Micro(usage.ru_stime));
  return fclose(result) == 0 ? 0 : 2;
}
