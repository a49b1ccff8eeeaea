// The floor for the benchmark: only the file input and output a session of adds and
// searches needs, with nothing around it. floor ADDS SEARCHES [sync-dir|guard], in an
// empty directory; with sync-dir each save also flushes the directory, as the
// program's do; with guard it also takes an exclusive lock on the file and reads it
// whole before each save, and a shared lock around each read, as two sessions need.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int kImage = 90000;  // customer.dat: 500 records of 180 bytes
char image[kImage];
char before[kImage];
bool sync_dir = false;
bool guard = false;

void read_whole(int fd, char* into) {
  ssize_t got = 0, n;
  while (got < kImage && (n = read(fd, into + got, kImage - got)) > 0) got += n;
}

// What a display of the customer menu reads: the whole file, when there is one.
void load() {
  int fd = open("customer.dat", O_RDONLY);
  if (fd < 0) return;
  if (guard) flock(fd, LOCK_SH);
  read_whole(fd, image);
  close(fd);
}

// What a save writes: the image to a new file, flushed, renamed over the old one.
// Guarded, the old file is locked and read first, and stays locked until the end.
void save() {
  int old = guard ? open("customer.dat", O_RDWR) : -1;
  if (old >= 0) {
    flock(old, LOCK_EX);
    read_whole(old, before);
  }
  int fd = open(".customer.dat.new", O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0 || write(fd, image, kImage) != kImage || fsync(fd) != 0 || close(fd) != 0 ||
      rename(".customer.dat.new", "customer.dat") != 0) {
    perror("save");
    exit(1);
  }
  if (sync_dir) {
    int dir = open(".", O_RDONLY | O_DIRECTORY);
    if (dir < 0 || fsync(dir) != 0 || close(dir) != 0) {
      perror("sync");
      exit(1);
    }
  }
  if (old >= 0) close(old);
}

}  // namespace

// The session's order: the menu shown, each add saves and the menu is shown
// again, each search is followed by the menu, and leaving saves once more.
int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: floor ADDS SEARCHES [sync-dir|guard]\n");
    return 2;
  }
  int adds = atoi(argv[1]), searches = atoi(argv[2]);
  guard = argc == 4 && strcmp(argv[3], "guard") == 0;
  sync_dir = argc == 4;
  load();
  for (int i = 0; i < adds; ++i) {
    image[i % kImage] = 1;  // a change per add, as a new record would be
    save();
    load();
  }
  for (int i = 0; i < searches; ++i) load();
  save();
  return 0;
}
