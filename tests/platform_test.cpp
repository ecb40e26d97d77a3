// What differs between systems: files read in pieces, the console's descriptors, and how
// a stop of the whole process is noticed.
#include <gtest/gtest.h>

#include "platform/platform.h"

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

TEST(Console, AnEndOfInputAtOneWaitLeavesTheNextOneWaiting) {
    // As a terminal gives after Ctrl-D: an end of input, then what is typed next.
    struct Typed : std::streambuf {
        char enter = '\n';
        int reads = 0;
        int_type underflow() override {
            if (reads++ == 0) return traits_type::eof();
            setg(&enter, &enter, &enter + 1);
            return enter;
        }
    } typed;
    std::istream in(&typed);
    std::ostringstream out;
    Console console{&in, &out, &out, {}};
    waitForEnter(console);
    waitForEnter(console);
    EXPECT_EQ(typed.reads, 2);
    EXPECT_EQ(in.rdbuf()->in_avail(), 0);
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
    // Where it keeps the error stream meanwhile is no number of the console's, not even a
    // free one: the console would read from it.
    const int input = dup(0);
    close(0);
    {
        QuietErrorStream quiet;
        EXPECT_EQ(fcntl(0, F_GETFD), -1);
    }
    dup2(input, 0);
    close(input);
}

#ifndef __APPLE__
TEST(Awake, ASystemBusThatHangsUpGivesNoLock) {
    // Where logind cannot be asked, a job goes on without the lock: -1, which the run flow
    // reads as that. A bus that takes the connection and hangs up, as one that goes down does.
    char folder[] = "/tmp/tpmidi-bus-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/socket";
    const int server = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 1), 0);
    std::thread bus([server] {
        pollfd waiting{server, POLLIN, 0};
        if (poll(&waiting, 1, 5000) != 1) return;
        const int client = accept(server, nullptr, nullptr);
        char hello[256];
        EXPECT_GT(read(client, hello, sizeof hello), 0);  // what a client says first
        close(client);
    });
    const char* before = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string kept = before ? before : "";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
    EXPECT_EQ(preventSleep("a test"), -1);
    before ? setenv("DBUS_SYSTEM_BUS_ADDRESS", kept.c_str(), 1) : unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    bus.join();
    close(server);
    unlink(path.c_str());
    rmdir(folder);
}
#endif

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
