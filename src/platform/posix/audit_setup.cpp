#include "platform/audit_setup.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/service_host.h"

namespace qs::platform {

namespace {

std::string SystemError(int error) { return std::strerror(error); }

class PosixAuditSetupSystem final : public AuditSetupSystem {
 public:
  bool IsAdministrator() override { return ::geteuid() == 0; }

  PathKind KindOf(const std::string& path, std::string& error) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return PathKind::kMissing;
      error = SystemError(errno);
      return PathKind::kUnreadable;
    }
    return S_ISDIR(st.st_mode) ? PathKind::kFolder : PathKind::kOther;
  }

  std::string RealPath(const std::string& path) override { return AbsolutePath(path); }

  bool ReadFile(const std::string& path, std::string& bytes, bool& missing,
                std::string& error) override {
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      missing = errno == ENOENT;
      error = SystemError(errno);
      return false;
    }
    bytes.clear();
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = SystemError(errno);
        ::close(fd);
        return false;
      }
      if (n == 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
  }

  bool ReplaceFile(const std::string& path, const std::string& bytes, std::string& error) override {
    if (!ReplaceFileWhole(path, bytes, error)) return false;
    // The system's rules files are not for every account to read: they show what is watched.
    if (::chmod(path.c_str(), 0640) != 0) {
      error = "cannot set the mode of " + path + ": " + SystemError(errno);
      return false;
    }
    return true;
  }

  bool RemoveFile(const std::string& path, std::string& error) override {
    if (::unlink(path.c_str()) == 0) return true;
    error = "cannot remove " + path + ": " + SystemError(errno);
    return false;
  }

  ProgramRun Run(const std::vector<std::string>& argv) override {
    ProgramRun run;
    int out[2];
    int err[2];
    int failed[2];  // carries the errno of a failed exec back to the parent
    if (::pipe2(out, O_CLOEXEC) != 0) {
      run.error = "cannot make a pipe: " + SystemError(errno);
      return run;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
      run.error = "cannot make a pipe: " + SystemError(errno);
      ::close(out[0]), ::close(out[1]);
      return run;
    }
    if (::pipe2(failed, O_CLOEXEC) != 0) {
      run.error = "cannot make a pipe: " + SystemError(errno);
      ::close(out[0]), ::close(out[1]), ::close(err[0]), ::close(err[1]);
      return run;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_RDONLY);
      if (null >= 0) ::dup2(null, STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      ::execvp(args[0], args.data());
      const int e = errno;
      (void)!::write(failed[1], &e, sizeof e);
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    ::close(failed[1]);
    if (pid < 0) {
      run.error = "cannot start " + argv[0] + ": " + SystemError(errno);
      ::close(out[0]), ::close(err[0]), ::close(failed[0]);
      return run;
    }
    // Both outputs are read as they come, so that a program that fills one pipe while the
    // other is being read never stops.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          into[i]->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          ::close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        }
      }
    }
    for (const pollfd& f : fds)
      if (f.fd >= 0) ::close(f.fd);
    int execError = 0;
    const bool execFailed = ::read(failed[0], &execError, sizeof execError) == sizeof execError;
    ::close(failed[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (execFailed) {
      run.error = "cannot run " + argv[0] + ": " + SystemError(execError);
      return run;
    }
    run.started = true;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }
};

}  // namespace

std::unique_ptr<AuditSetupSystem> MakeAuditSetupSystem() {
  return std::make_unique<PosixAuditSetupSystem>();
}

}  // namespace qs::platform
