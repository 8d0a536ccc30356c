// A private smbd for a test: its own configuration, state folders and log in a folder of the test,
// listening on a free port of 127.0.0.1 only, one share with vfs_streams_xattr; and smbclient as
// its client.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qs::test {

// A free TCP port on 127.0.0.1 (taken by binding to port 0), or 0.
int FreePort();

// Whether something accepts connections on 127.0.0.1:port.
bool Accepts(int port);

// Runs a program to its end with its output appended to `log`; the exit status, or -1.
int RunProgram(const std::vector<std::string>& args, const std::string& log);

class SambaServer {
 public:
  enum class Access {
    Guests,  // everyone is the guest account (nobody)
    Users,   // accounts of the server's own password database (AddUser)
  };

  // The server's folders below `folder` (created by Start), sharing `sharePath` as "share".
  SambaServer(std::string folder, std::string sharePath, Access access);
  ~SambaServer();
  SambaServer(const SambaServer&) = delete;
  SambaServer& operator=(const SambaServer&) = delete;

  // What a test adds to the configuration.
  struct Options {
    std::string vfsObjects = "streams_xattr";  // the share's "vfs objects"
    std::string globalLines;                   // more lines of [global], each ending in "\n"
    std::string shareLines;                    // more lines of [share]
    // smbd's messages to smbd.out (serverOutput) rather than to its log file log/smbd.log.
    bool debugToOutput = true;
  };

  // Writes the configuration and the state folders; the server does not run yet. Empty, or what
  // went wrong.
  std::string Configure();
  std::string Configure(const Options& options);
  // smbd's own log file (where its messages go without debugToOutput).
  std::string logFile() const { return folder_ + "/log/smbd.log"; }
  // Starts smbd and waits (at most 30 s) until it listens. Empty, or why it could not start.
  // With `groupNote`, the process group's id is written to that file until the server stops.
  std::string Start(const std::string& groupNote = {});
  // Ends smbd and every process it started; bounded to about 5 s.
  void Stop();

  // Gives the Unix account `name` the SMB password `password` in the server's database.
  // Empty, or what went wrong.
  std::string AddUser(const std::string& name, const std::string& password) const;

  // One smbclient session that runs `commands` (smbclient's -c, commands separated by ";") on
  // the share, as `user` with `password`, or as a guest when `user` is empty. Its output is in
  // `output`; true when smbclient reports success.
  bool Client(const std::string& commands, std::string& output, const std::string& user = {},
              const std::string& password = {}) const;

  int port() const { return port_; }
  const std::string& conf() const { return conf_; }
  const std::string& share() const { return share_; }
  std::string serverOutput() const;

 private:
  std::string folder_;
  std::string share_;
  Access access_;
  std::string conf_;
  std::string groupNote_;
  bool debugToOutput_ = true;
  int port_ = 0;
  pid_t smbd_ = -1;
};

}  // namespace qs::test
