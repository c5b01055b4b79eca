#include "tests/posix/pty_pair.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "serial/com.h"

PtyPair::PtyPair() {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return;
    }
    char name[128];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0 ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 ||
        fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        close(fd);
        return;
    }
    master_ = fd;
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

bool PtyPair::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd entry{master_, POLLOUT, 0};
        if (poll(&entry, 1, 5000) <= 0) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> bytes;
    const Stopwatch watch;
    while (bytes.size() < count) {
        const long long left = timeoutMs - watch.ElapsedMs();
        if (left <= 0) {
            break;
        }
        pollfd entry{master_, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        std::uint8_t chunk[4096];
        const std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
        const ssize_t n = read(master_, chunk, wanted);
        if (n > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return bytes;
}

termios PtyPair::SlaveSettings() const {
    termios settings{};
    tcgetattr(master_, &settings);
    return settings;
}

int OpenFromChildProcess(const std::string& path, bool viaCom) {
    const pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        // Hold nothing of the parent's: only the open itself may clash.
        for (int fd = 3; fd < 256; ++fd) {
            close(fd);
        }
        bool opened = false;
        if (viaCom) {
            HANDLE handle = nullptr;
            const LineSettings settings{9600, 8, 0, 0};
            opened = ComOpen(path.c_str(), settings, line_control::kDtrRtsOn, &handle) == 0;
        } else {
            opened =
                CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr) != INVALID_HANDLE_VALUE;
        }
        _exit(opened ? 1 : 0);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ExclusiveFlag(const std::string& path) {
#ifdef TIOCGEXCL
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Without privileges a terminal held exclusively cannot be opened.
        return errno == EBUSY ? 1 : -1;
    }
    int flag = 0;
    const int result = ioctl(fd, TIOCGEXCL, &flag);
    close(fd);
    if (result != 0) {
        return -1;
    }
    return flag != 0 ? 1 : 0;
#else
    (void)path;
    return -1;
#endif
}
