// Makes a demo for Quillstamp:
//
//   quillstamp_demo DEMO_FOLDER PROGRAM_FOLDER
//
// DEMO_FOLDER/Shared gets a handful of files (text files, an office document, a read-only file, a
// sub-folder); DEMO_FOLDER/Security.evt is a Security log of a file server whose drive D: is
// DEMO_FOLDER: writes (event 560) to those files by three users over the last few days, reads,
// logons and other objects, and a write to a file that no longer exists.
// PROGRAM_FOLDER/Quillstamp.ini points the program at the log, maps D: to DEMO_FOLDER and switches
// both comments on. An earlier demo in DEMO_FOLDER is replaced.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "evtwriter/evt_writer.h"

namespace fs = std::filesystem;
using qs::evtwriter::Event560;
using qs::evtwriter::EvtRecord;
using qs::evtwriter::EvtWriter;

namespace {

void Write(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// A one-file OpenDocument text (flat XML), which office suites open as it stands.
const char* kMinutes = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:body><office:text>
  <text:h text:outline-level="1">Minutes of the budget meeting</text:h>
  <text:p>Present: Alice, Bob, Carol.</text:p>
  <text:p>The 2027 budget is approved with the changes of the spreadsheet.</text:p>
 </office:text></office:body>
</office:document>
)";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quillstamp_demo DEMO_FOLDER PROGRAM_FOLDER\n";
    return 2;
  }
  try {
    const fs::path demo = fs::absolute(argv[1]);
    const fs::path program = fs::absolute(argv[2]);
    const fs::path shared = demo / "Shared";
    if (fs::exists(shared)) {
      // The read-only file of an earlier demo must become writable before it can go.
      for (const auto& entry : fs::recursive_directory_iterator(shared))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
      fs::remove_all(shared);
    }
    fs::create_directories(shared / "Archive");
    fs::create_directories(program);

    Write(shared / "budget-2027.txt", "Budget 2027\n\nStaff      410 000\nServers     38 500\n");
    Write(shared / "todo.txt", "- renew the backup tapes\n- move the printers to the new VLAN\n");
    Write(shared / "minutes.fodt", kMinutes);
    Write(shared / "policy.txt", "Shared folder policy (read-only for everyone)\n");
    Write(shared / "Archive" / "plan-2026.txt", "Plan 2026, kept for reference.\n");
    fs::permissions(shared / "policy.txt",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace);

    // Three days of activity ending an hour ago.
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    const std::uint32_t start = now - 3 * 86400;
    EvtWriter log;
    auto write = [&](std::uint32_t at, const char* user, const char* file) {
      Event560 e;
      e.time = at;
      e.primaryUser = user;
      e.objectName = std::string("D:\\Shared\\") + file;
      log.Add(e);
    };
    auto read = [&](std::uint32_t at, const char* user, const char* file) {
      Event560 e;
      e.time = at;
      e.primaryUser = user;
      e.objectName = std::string("D:\\Shared\\") + file;
      e.accesses = qs::evtwriter::kReadAccesses;
      log.Add(e);
    };
    auto other = [&](std::uint32_t at, std::uint32_t id, std::vector<std::string> strings) {
      EvtRecord r;
      r.timeGenerated = r.timeWritten = at;
      r.eventId = id;
      r.eventCategory = 2;
      r.strings = std::move(strings);
      log.Add(r);
    };
    other(start, 528, {"alice", "OFFICE", "(0x0,0x1A2B)", "2", "User32", "Negotiate", "PC-ALICE"});
    read(start + 300, "alice", "budget-2027.txt");
    write(start + 900, "alice", "budget-2027.txt");
    write(start + 1500, "alice", "todo.txt");
    other(start + 3600, 528,
          {"bob", "OFFICE", "(0x0,0x2B3C)", "2", "User32", "Negotiate", "PC-BOB"});
    write(start + 4000, "bob", "minutes.fodt");
    write(start + 4300, "bob", "old-draft.txt");  // deleted since: listed as unknown
    read(start + 4400, "bob", "policy.txt");
    {
      Event560 key;  // a registry key opened for writing: not a file
      key.time = start + 5000;
      key.primaryUser = "bob";
      key.objectType = "Key";
      key.objectName = "\\REGISTRY\\MACHINE\\SOFTWARE\\Office";
      log.Add(key);
    }
    other(start + 86400, 538, {"bob", "OFFICE", "(0x0,0x2B3C)", "2"});
    write(start + 86400 + 600, "carol", "budget-2027.txt");
    write(start + 86400 + 700, "carol", "Archive");  // the folder itself: not listed
    write(start + 86400 + 800, "carol", "Archive\\plan-2026.txt");
    write(start + 86400 + 900, "carol", "policy.txt");  // read-only: listed, not stamped
    read(start + 2 * 86400, "alice", "minutes.fodt");
    write(start + 2 * 86400 + 120, "alice", "minutes.fodt");
    write(start + 2 * 86400 + 3000, "bob", "todo.txt");
    write(start + 2 * 86400 + 7000, "carol", "budget-2027.txt");
    write(now - 3600, "alice", "budget-2027.txt");
    const fs::path evt = demo / "Security.evt";
    log.WriteFile(evt.string());

    Write(program / "Quillstamp.ini",
          "[Configuration]\nWinComments=1\nMacComments=1\nTimeSeconds=1\nTemporisation=10\n\n"
          "[Platform]\nSecurityLog=" +
              evt.string() + "\n\n[Drives]\nD=" + demo.string() + "\n");

    std::cout << "Demo folder:   " << shared.string() << "\n"
              << "Security log:  " << evt.string() << " (" << log.RecordCount() << " records)\n"
              << "Settings file: " << (program / "Quillstamp.ini").string() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "quillstamp_demo: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
