/* hold_renames.c: an LD_PRELOAD shim that lets a program's first
 * HOLD_AFTER_RENAMES renames through, then holds the next one for good: it
 * creates the file HOLD_FLAG and waits there, until the program is killed.
 * A writer held so has written a temporary file it will never rename, the
 * very state a kill between write and rename leaves, and no timing decides
 * where it stops. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

int rename(const char *from, const char *to) {
  static int passed;
  const char *limit = getenv("HOLD_AFTER_RENAMES");
  if (limit != NULL && __atomic_fetch_add(&passed, 1, __ATOMIC_SEQ_CST) >=
                           atoi(limit)) {
    const char *flag = getenv("HOLD_FLAG");
    if (flag != NULL) close(open(flag, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    for (;;) pause();
  }
  int (*real)(const char *, const char *) =
      (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
  return real(from, to);
}
