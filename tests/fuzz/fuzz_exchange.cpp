// Arbitrary answers to the exchanges: each ends on its number or waits, and never reads past a message.
#include "link/link.h"
#include "peer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Scripted peer(cutIntoMessages(data + 2, size - 2), false, Link(kReceiveIdlePolls, data[0] & 0x7F));
    peer.silence = 0;
    try {
        for (int round = 0; round < 4; ++round) {
            const int operation = (data[1] >> (2 * round)) & 3;
            if (operation == 0) exchangeByte(peer.link, data[1]);
            if (operation == 1) exchangeWord(peer.link, 0x80FF0102u * data[1]);
            if (operation >= 2) sendBlock(peer.link, data[0], data[1], 0xFFFFFFFFu, 0);
            FUZZ_CHECK(peer.link.lastReplyNumber() == peer.link.packetNumber());
        }
    } catch (const OutOfInput&) {
    }
    return 0;
}
