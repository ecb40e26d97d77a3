// Arbitrary messages during a receive: the receive ends once the handheld falls
// silent, nothing is read past a message, and the final line counts exactly the
// bytes that reached the file, each from a message of nine bytes or more.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "feed.h"
#include "transfer/receive.h"

namespace {

std::string scratchFile() {
    char name[] = "/tmp/tpmidi-fuzz-receive-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = scratchFile();
    static ProgramState st;
    std::ostringstream out;
    st.out = &out;
    st.receiveIdlePolls = 64;
    Feed feed(data, size);
    unsigned silentPolls = 0;
    st.midi.send = [](const Bytes&) {};
    st.midi.poll = [&](Bytes& m) {
        if (feed.next(m)) return;
        // The handheld has fallen silent. Before the first data byte the wait has
        // no limit, so give up on this input after a while.
        m.clear();
        if (++silentPolls > 1000) throw OutOfInput{};
    };
    try {
        receiveFile(st, file.c_str());
    } catch (const OutOfInput&) {
        return 0;
    }
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) __builtin_trap();
    const auto bytes = static_cast<std::size_t>(info.st_size);
    if (bytes * 10 > size) __builtin_trap();  // every byte came from 9 or more, plus a length
    const std::string done = std::to_string(bytes / 1024) + "k saved... done.\n";
    const std::string text = out.str();
    if (text.size() < done.size() || text.compare(text.size() - done.size(), done.size(), done) != 0) {
        __builtin_trap();
    }
    return 0;
}
