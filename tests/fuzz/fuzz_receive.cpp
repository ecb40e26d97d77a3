// Arbitrary messages during a receive: it ends once the handheld falls silent, reads
// nothing past a message, and counts exactly the bytes in the file (the bank's place when
// it came whole, NAME.part when not), each from 9 or more.
#include <filesystem>

#include "peer.h"
#include "transfer/receive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string file = (std::filesystem::temp_directory_path() / "tpmidi-fuzz-receive").string();
    // Before the first data byte the wait has no limit: give up after a while.
    Scripted peer(cutIntoMessages(data, size), false, Link(64));
    peer.silence = 1000;
    ReceiveOutcome outcome;
    try {
        outcome = receiveFile(peer.link, file.c_str(), peer.progress);
    } catch (const OutOfInput&) {
        return 0;
    }
    const bool whole = outcome.placed;
    FUZZ_CHECK(outcome.writing == file + ".part");
    const auto bytes = static_cast<std::size_t>(std::filesystem::file_size(whole ? file : file + ".part"));
    FUZZ_CHECK(bytes * 10 <= size);  // every byte came from 9 or more, plus a length
    FUZZ_CHECK(static_cast<std::size_t>(outcome.receivedCount) == bytes);
    FUZZ_CHECK(peer.progress.kibibytes == bytes / 1024);  // once each, however long the silence after it
    return 0;
}
