/* The yardstick for start-up cost: a scripted run (`baseline FILE TEXT`) written as plainly as
 * C allows, making the same system calls and printing the same bytes as `note FILE TEXT` does
 * for a note that fits one read. It handles nothing else: no dialogue, no long lines, no error
 * message. Linked statically, it is what a hand-written C program costs. */
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

static void put(const char* a, size_t an, const char* b, size_t bn, const char* c) {
  char line[4096];
  size_t cn = strlen(c);
  if (an + bn + cn > sizeof line)
    return;
  memcpy(line, a, an);
  memcpy(line + an, b, bn);
  memcpy(line + an + bn, c, cn);
  (void)!write(1, line, an + bn + cn);
}

int main(int argc, char** argv) {
  static char buf[65536];
  ssize_t got = 0;
  size_t len = 0;
  int fd;
  if (argc != 3)
    return 2;
  signal(SIGPIPE, SIG_IGN);

  fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    got = read(fd, buf, sizeof buf);
    close(fd);
  }
  if (got > 0) {
    const char* lf = memchr(buf, '\n', (size_t)got);
    len = lf ? (size_t)(lf - buf) : (size_t)got;
    if (lf && len > 0 && buf[len - 1] == '\r')
      --len;
  }
  put("Note content: ", 14, buf, len, "\n");
  put("edit/quit: e\n", 13, "", 0, "");
  put("New note content: ", 18, argv[2], strlen(argv[2]), "\n");

  fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0 || write(fd, argv[2], strlen(argv[2])) < 0 || close(fd) != 0)
    return 2;

  put("The developer of this program is Tolvane.\n", 42, "", 0, "");
  put("quit(q): ", 9, "", 0, "");
  (void)!read(0, buf, sizeof buf);
  return 0;
}
