#include "platform/key_value_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace qelvo {
namespace {

using test::TempDir;

std::shared_ptr<KeyValueSuite> openSuite(const std::filesystem::path& db, std::string name) {
  auto suite = KeyValueSuite::open(db, std::move(name));
  if (!suite) throw suite.error();
  return *suite;
}

// Runs `body` in `count` child processes at once; each writes its answer to a pipe.
// Returns the answers of the children that exited with status 0.
std::vector<std::string> runInChildren(int count, const std::function<std::string()>& body) {
  std::vector<std::pair<pid_t, int>> children;
  for (int i = 0; i < count; ++i) {
    int fds[2];
    if (pipe(fds) != 0) ADD_FAILURE() << "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      std::string answer = body();
      bool written =
          write(fds[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
      _exit(written ? 0 : 1);
    }
    close(fds[1]);
    children.emplace_back(pid, fds[0]);
  }
  std::vector<std::string> answers;
  for (auto [pid, fd] : children) {
    std::string answer;
    char buffer[256];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) answers.push_back(answer);
  }
  return answers;
}

TEST(KeyValueSuite, SuiteNamesAreDataNeverPaths) {
  TempDir dir;
  auto db = dir / "Preferences" / "kv.sqlite3";
  const std::vector<std::string> names = {
      "", "/", "..", "../x", "/tmp/x", "caf\u00e9 \u2713", std::string("a\0b", 3), "a"};
  for (const auto& name : names) ASSERT_TRUE(openSuite(db, name)->setString("k", name));

  for (const auto& name : names) {
    EXPECT_EQ(openSuite(db, name)->string("k").value(), name);
  }
  // One file, written ahead: its -wal and -shm sit beside it while a suite is open.
  auto held = openSuite(db, "a");
  ASSERT_TRUE(held->string("k"));
  EXPECT_EQ(test::listFiles(dir.path()),
            (std::vector<std::string>{"Preferences/kv.sqlite3", "Preferences/kv.sqlite3-shm",
                                      "Preferences/kv.sqlite3-wal"}));

  // Removing one suite leaves the others, even one whose name is a prefix of it.
  ASSERT_TRUE(openSuite(db, "")->removePersistentDomain(std::string("a\0b", 3)));
  EXPECT_EQ(openSuite(db, std::string("a\0b", 3))->string("k").value(), std::nullopt);
  EXPECT_EQ(openSuite(db, "a")->string("k").value(), "a");
  EXPECT_EQ(openSuite(db, "")->string("k").value(), "");
}

TEST(KeyValueSuite, ProcessesShareOneFile) {
  TempDir dir;
  auto db = dir / "kv.sqlite3";  // not opened by this process before the children run
  constexpr int kChildren = 4;
  constexpr int kWritesEach = 20;
  auto answers = runInChildren(kChildren, [&] {
    auto suite = KeyValueSuite::open(db, "s");
    if (!suite) return "open failed: " + suite.error().description;
    auto pid = std::to_string(getpid());
    auto id = (*suite)->stringOrInsert("id", [&] { return pid; });
    if (!id) return "insert failed: " + id.error().description;
    for (int i = 0; i < kWritesEach; ++i) {
      auto written = (*suite)->setString(pid + "-" + std::to_string(i), "v");
      if (!written) return "write failed: " + written.error().description;
    }
    return pid + " " + *id;
  });

  ASSERT_EQ(answers.size(), static_cast<std::size_t>(kChildren));
  auto suite = openSuite(db, "s");
  auto id = suite->string("id").value().value_or("");
  for (const auto& answer : answers) {
    auto space = answer.find(' ');
    ASSERT_NE(space, std::string::npos) << answer;
    EXPECT_EQ(answer.substr(space + 1), id);
    auto pid = answer.substr(0, space);
    for (int i = 0; i < kWritesEach; ++i) {
      EXPECT_EQ(suite->string(pid + "-" + std::to_string(i)).value(), "v");
    }
  }
}

TEST(KeyValueSuite, KilledWriterLeavesAWholeValue) {
  TempDir dir;
  auto db = dir / "kv.sqlite3";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t writer = fork();
  if (writer == 0) {
    close(ready[0]);
    auto suite = openSuite(db, "s");
    for (unsigned i = 0;; ++i) {
      (void)suite->setData("v", std::string(64 * 1024, static_cast<char>('a' + i % 26)));
      if (i == 0 && write(ready[1], "!", 1) != 1) _exit(1);
    }
  }
  close(ready[1]);
  char signal = 0;
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  close(ready[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let it get mid-write
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);

  auto value = openSuite(db, "s")->data("v").value();
  ASSERT_TRUE(value.has_value());
  ASSERT_EQ(value->size(), 64u * 1024);
  EXPECT_EQ(value->find_first_not_of((*value)[0]), std::string::npos);
}

}  // namespace
}  // namespace qelvo
