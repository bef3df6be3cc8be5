// POSIX: an flock on the working directory itself, the folder that holds the
// data directory. It needs no file of its own, and it goes with the
// descriptor, so with the process.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "app/install_lock.hpp"
#include "base/errors.hpp"

install_lock::install_lock(const path_set&) : handle_(-1) {
    const int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw system_failure("could not open the folder to lock it", {errno, std::generic_category()});
    while (flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        close(fd);
        throw system_failure("could not lock the folder for unpacking", {error, std::generic_category()});
    }
    handle_ = fd;
}

install_lock::~install_lock() { close(static_cast<int>(handle_)); }
