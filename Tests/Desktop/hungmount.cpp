// stowbay_hungmount MOUNTPOINT PROGRAM [ARGUMENT...]: becomes PROGRAM in a mount namespace of its
// own in which MOUNTPOINT holds a FUSE file system that never answers (a network share whose server
// went away): whatever touches a file there waits until the process is killed. Ends with status 77
// where mounting is not permitted. Other programs on the machine never see the mount.
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    // The program inherits the file system's end of the connection and never reads the kernel's
    // requests from it, not even the first.
    const int fuse = ::open("/dev/fuse", O_RDWR);
    char options[128];
    std::snprintf(options, sizeof options, "fd=%d,rootmode=40000,user_id=%u,group_id=%u", fuse, ::getuid(),
                  ::getgid());
    ::mkdir(argv[1], 0700);
    if (fuse < 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        ::mount("stowbay-hung", argv[1], "fuse", MS_NOSUID | MS_NODEV, options) != 0)
        return 77;
    ::execv(argv[2], argv + 2);
    return 127;
}
