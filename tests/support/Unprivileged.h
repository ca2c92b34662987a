#pragma once
// Runs a piece of a test as an ordinary user. The tests run as root, for
// whom permissions do not hold: the piece then runs in a forked child that
// has dropped to "nobody". It reports a text back (through a pipe) that the
// test checks in the parent. Run as another user, the piece runs in place.

#include <cerrno>
#include <functional>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// The text the piece returned; empty when the child could not drop its
// privileges or died (the test then fails on the comparison).
inline std::optional<std::string> RunUnprivileged(const std::function<std::string()>& piece)
{
    if (geteuid() != 0)
        return piece();
    const struct passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr)
        return std::nullopt;
    int fds[2];
    if (pipe(fds) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        close(fds[0]);
        if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(2);
        const std::string text = piece();
        const bool written = write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(written ? 0 : 3);
    }
    close(fds[1]);
    std::string text;
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}
