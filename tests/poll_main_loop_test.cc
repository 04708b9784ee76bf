#include "platform/posix/poll_main_loop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "platform/main_loop.h"

namespace speechline {
namespace {

constexpr int kStillRunning = -1;

// Runs the main loop in a child writing to ends[1] (ends[0] is the reader's end), with SIGPIPE
// ignored as service managers leave it. The child's wait status once it ends after
// `meanwhile`, or kStillRunning if it runs on, idle, for a second; then it is killed.
int statusOfLoop(const int ends[2], const std::function<void()>& meanwhile) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(ends[1], STDOUT_FILENO);
    close(ends[0]);
    signal(SIGPIPE, SIG_IGN);
    runPollMainLoop();
    _exit(3);
  }
  meanwhile();
  int status = 0;
  for (int tries = 0; tries < 50; ++tries, usleep(20000)) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
  }
  kill(pid, SIGKILL);
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  // A watch that kept waking the loop would show as most of that second.
  EXPECT_LT((usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 + usage.ru_utime.tv_usec +
                usage.ru_stime.tv_usec,
            200000);
  return kStillRunning;
}

TEST(PollMainLoopTest, EndsBySigpipeOnlyOnceStandardOutputsReaderIsGone) {
  for (const bool socket : {false, true}) {
    int ends[2];
    ASSERT_EQ(socket ? socketpair(AF_UNIX, SOCK_STREAM, 0, ends) : pipe(ends), 0);
    EXPECT_EQ(statusOfLoop(ends, [] {}), kStillRunning) << socket;
    const int status = statusOfLoop(ends, [&] { close(ends[0]); });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << socket << " " << status;
    close(ends[1]);
  }
  const int file[2] = {-1, fileno(std::tmpfile())};
  EXPECT_EQ(statusOfLoop(file, [] {}), kStillRunning) << "a file has no reader to lose";
}

TEST(PollMainLoopTest, HandsBackTheSystemsTextWhenPollFails) {
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  // Fewer descriptors allowed than it polls, once its pipes exist.
  dispatchToMainQueue([saved] {
    const rlimit one{1, saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &one);
  });
  EXPECT_EQ(runPollMainLoop(), "Invalid argument");
  setrlimit(RLIMIT_NOFILE, &saved);
}

TEST(PollMainLoopDeathTest, EndsWithStatusOneWhenItsPipesCannotBeMade) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a process whose loop is not set up yet
  rlimit none;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &none), 0);
  none.rlim_cur = 0;
  EXPECT_EXIT(
      {
        setrlimit(RLIMIT_NOFILE, &none);
        dispatchToMainQueue([] {});
      },
      testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace speechline
