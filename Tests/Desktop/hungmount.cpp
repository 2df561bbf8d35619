// stowbay_hungmount MOUNTPOINT PROGRAM [ARGUMENT...]: runs PROGRAM in a mount namespace of its own
// in which MOUNTPOINT holds a FUSE file system that never answers (a network share whose server went
// away): whatever touches a file there waits until the process is killed. Prints "running <pid>"
// once PROGRAM runs, and ends with it. Where mounting is not permitted it prints "cannot mount:
// <reason>" and ends with status 77. Other programs on the machine never see the mount.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s MOUNTPOINT PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const auto refuse = [](const char *what) {
        std::printf("cannot mount: %s: %s\n", what, std::strerror(errno));
        return 77;
    };
    if (::unshare(CLONE_NEWNS) != 0) return refuse("unshare");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return refuse("private /");
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) return refuse("/dev/fuse");
    ::mkdir(argv[1], 0700);
    char options[128];
    std::snprintf(options, sizeof options, "fd=%d,rootmode=40000,user_id=%u,group_id=%u", fuse, ::getuid(),
                  ::getgid());
    // The kernel's first request (INIT) is never read, so every later one waits for good.
    if (::mount("stowbay-hung", argv[1], "fuse", MS_NOSUID | MS_NODEV, options) != 0) return refuse("mount");
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::execv(argv[2], argv + 2);
        _exit(127);
    }
    std::printf("running %d\n", int(child));
    std::fflush(stdout);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
