// The program as `cmake --install` lays it out: installed into a prefix,
// staged with DESTDIR, moved elsewhere as a whole, and with libraries of the
// same name as its sockets library put where a loader would look for them.
// In every case it must load its own library from its private folder and
// write the exact log against a scripted server.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "tests/e2e/child_process.h"
#include "tests/e2e/log_helpers.h"
#include "tests/e2e/log_lines.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kRecord =
    "<StatusChange><LogRec.SyslogID>7</LogRec.SyslogID><Event>Installed</Event>"
    "<DateTime>2026-12-10T12:00:00Z</DateTime><Version>1</Version></StatusChange>";
const std::string kReport = "\r\n" + S +
                            "\r\n"
                            "SYSLOG.ID: 7\r\n"
                            "EVENT: Installed\r\n"
                            "DATETIME: 2026-12-10T12:00:00Z\r\n"
                            "VERSION: 1\r\n";
const std::string kLog = kBanner + kConnected + kRequest + kRecord + kReport + kRequest +
                         kClosedByPeer + kDisconnected + kRefused;

class ScratchDirectory final {
 public:
  ScratchDirectory() {
    std::string pattern = (fs::temp_directory_path() / "installed_program_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Installs the test's component of this build under `prefix`, staged below
// `destdir` when that is not empty.
void Install(const fs::path& prefix, const fs::path& destdir) {
  std::string command;
  if (!destdir.empty()) command = "DESTDIR='" + destdir.string() + "' ";
  command += std::string("'") + CMAKE_COMMAND_PATH + "' --install '" + BUILD_DIR +
             "' --component " + INSTALL_COMPONENT + " --prefix '" + prefix.string() +
             "' >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

struct Layout {
  const char* name;
  bool staged;  // installed with DESTDIR, run from the staging tree
  bool moved;   // the installed tree renamed before the run
  bool decoys;  // a stand-in library of the same name on the search path and beside
};

void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

class InstalledProgramTest : public ::testing::TestWithParam<Layout> {};

TEST_P(InstalledProgramTest, LoadsItsOwnLibraryAndWritesTheExactLog) {
  const Layout& layout = GetParam();
  ScratchDirectory scratch;
  fs::path root;  // where the installed tree lies when the program runs
  if (layout.staged) {
    ASSERT_NO_FATAL_FAILURE(Install("/opt/status-monitor", scratch.path() / "stage"));
    root = scratch.path() / "stage/opt/status-monitor";
  } else {
    root = scratch.path() / "prefix";
    ASSERT_NO_FATAL_FAILURE(Install(root, ""));
  }
  if (layout.moved) {
    fs::path moved = scratch.path() / "moved/elsewhere";
    fs::create_directories(moved.parent_path());
    fs::rename(root, moved);
    root = moved;
  }
  const fs::path program = root / "bin" / INSTALLED_PROGRAM_NAME;
  ASSERT_TRUE(fs::exists(root / "lib/status-monitor/libws2_32.so"));

  std::vector<std::string> environment = {"LC_ALL=C"};
  if (layout.decoys) {
    // A library of the same name that works differently: loaded in place of
    // ours, it would change the log.
    fs::path decoys = scratch.path() / "decoys";
    fs::create_directories(decoys);
    fs::copy_file(FAKE_SOCKETS_LIBRARY_PATH, decoys / "libws2_32.so");
    fs::copy_file(FAKE_SOCKETS_LIBRARY_PATH, root / "bin/libws2_32.so");
    environment.push_back("LD_LIBRARY_PATH=" + decoys.string());
  }

  ScriptedServer server({{Expect(kGet), Send(kRecord), Expect(kGet), Close()}});
  ChildProcess monitor({program.string(), ServerArgument(server)}, StdoutTo::kTerminal,
                       environment);
  monitor.WaitFor([](const std::string& out) { return out.size() >= kLog.size(); }, 20s);
  monitor.Stop(SIGINT);
  EXPECT_EQ(MaskTimeStamps(monitor.Output()), kLog) << Visible(monitor.Output());
  EXPECT_EQ(monitor.ErrorOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Layouts, InstalledProgramTest,
                         ::testing::Values(Layout{"Prefix", false, false, false},
                                           Layout{"StagedWithDestdir", true, false, false},
                                           Layout{"MovedAsAWhole", false, true, false},
                                           Layout{"DecoysAreIgnored", false, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
