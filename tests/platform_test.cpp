// What differs between systems: here, how a stop of the whole process is noticed.
#include <gtest/gtest.h>

#include "platform/platform.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(HoldUpWatch, NotesAStopOfTheWholeProcessOnce) {
    // Stopped as Ctrl-Z stops it, and continued 400 ms later by a child: the watching
    // thread cannot run meanwhile, however idle the machine.
    HoldUpWatch watch;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        usleep(400 * 1000);
        kill(getppid(), SIGCONT);
        _exit(0);
    }
    raise(SIGSTOP);
    waitpid(child, nullptr, 0);
    usleep(50 * 1000);  // a wake-up after the stop
    EXPECT_GE(watch.longestSinceAsked(), std::chrono::milliseconds(300));
    EXPECT_LT(watch.longestSinceAsked(), std::chrono::milliseconds(300));
}
#endif
