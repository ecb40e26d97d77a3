// Arbitrary messages during a receive: it ends once the handheld falls silent, reads
// nothing past a message, and counts exactly the bytes in the file (the bank's place when
// it came whole, NAME.part when not), each from 9 or more.
#include <filesystem>

#include "peer.h"
#include "transfer/receive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = (std::filesystem::temp_directory_path() / "tpmidi-fuzz-receive").string();
    // Before the first data byte the wait has no limit: give up after a while.
    Scripted peer(cutIntoMessages(data, size));
    peer.silence = 1000;
    peer.link.bankEndPolls = 64;
    ReceiveOutcome outcome;
    try {
        outcome = receiveFile(peer.link, peer.console, file.c_str());
    } catch (const OutOfInput&) {
        return 0;
    }
    const std::string text = peer.out.str();
    const bool whole = outcome.placed;
    FUZZ_CHECK(outcome.writing == file + ".part");
    const auto bytes = static_cast<std::size_t>(std::filesystem::file_size(whole ? file : file + ".part"));
    FUZZ_CHECK(bytes * 10 <= size);  // every byte came from 9 or more, plus a length
    FUZZ_CHECK(static_cast<std::size_t>(outcome.receivedCount) == bytes);
    const std::string done = std::to_string(bytes / 1024) + "k saved... done.\n";
    FUZZ_CHECK(!whole || (text.size() >= done.size() && text.compare(text.size() - done.size(), done.size(), done) == 0));
    return 0;
}
