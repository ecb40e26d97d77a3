// What differs between systems: files read in pieces, the console's descriptors, and how
// a stop of the whole process is noticed.
#include <gtest/gtest.h>

#include "platform/platform.h"

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "rig.h"

TEST(Files, AFileThatArrivesInPiecesIsReadWholeAndNoFurther) {
    // A pipe hands over what its writer has written so far: 6 bytes, then 10 more, of
    // which the first 4 fill the capacity.
    ScratchDir dir;
    const std::string fifo = dir.name("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&fifo] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        const std::uint8_t first[6] = {1, 2, 3, 4, 5, 6}, second[10] = {7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        EXPECT_EQ(write(fd, first, sizeof first), 6);
        usleep(100 * 1000);
        EXPECT_EQ(write(fd, second, sizeof second), 10);
        close(fd);
    });
    std::uint8_t data[20];
    std::fill(std::begin(data), std::end(data), 0xEE);
    std::error_code error;
    EXPECT_EQ(readFileBytes(fifo.c_str(), data, 10, error), 10);
    EXPECT_FALSE(error);
    writer.join();
    EXPECT_EQ(Bytes(data, data + 20), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,
                                             0xEE, 0xEE, 0xEE}));
}

TEST(Files, WhatIsOpenedToReadOrTryIsClosed) {
    // A descriptor left open would run the program out of them, and on Windows keep the
    // file from being replaced: the next one opened gets the number it would have had.
    ScratchDir dir;
    const std::string file = dir.file("f.bin", {1, 2, 3});
    const int next = dup(0);
    close(next);
    std::uint8_t data[3];
    std::error_code error;
    EXPECT_TRUE(canWriteFile(file.c_str(), error));
    EXPECT_EQ(readFileBytes(file.c_str(), data, 3, error), 3);
    const int after = dup(0);
    close(after);
    EXPECT_EQ(after, next);
}

TEST(Console, AProgramStartedWithADescriptorClosedGetsOneThatReadsNothing) {
    // Else the first file the program opens would take its number, and the console would
    // read from it or write into it.
    for (const int fd : {0, 2}) {
        SCOPED_TRACE(fd);
        const int kept = dup(fd);
        close(fd);
        errno = 0;  // no failure of another call to go by
        {
            RunScope scope;
            EXPECT_NE(fcntl(fd, F_GETFD), -1);
        }
        dup2(kept, fd);
        close(kept);
    }
}

TEST(Console, TheErrorStreamIsShutOnlyWhileAsked) {
    ScratchDir dir;
    const std::string file = dir.name("err");
    const int kept = dup(2), into = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(into, 2);
    close(into);
    EXPECT_EQ(write(2, "a", 1), 1);
    {
        QuietErrorStream quiet;
        EXPECT_EQ(write(2, "b", 1), 1);
    }
    EXPECT_EQ(write(2, "c", 1), 1);
    dup2(kept, 2);
    close(kept);
    EXPECT_EQ(readAll(file), (Bytes{'a', 'c'}));
}

TEST(HoldUpWatch, NotesAStopOfTheWholeProcessOnce) {
    // Stopped as Ctrl-Z stops it, and continued 400 ms later by a child: the watching
    // thread cannot run meanwhile, however idle the machine.
    HoldUpWatch watch;
    usleep(50 * 1000);  // the watching thread under way
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
