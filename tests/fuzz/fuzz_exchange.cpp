// Arbitrary answers to exchangeByte, exchangeWord and sendBlock: the exchange either
// ends on a matching answer or keeps waiting; it never reads past a message.
#include "feed.h"
#include "link/link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static ProgramState st;
    st.packetNumber = st.lastReplyNumber = data[0] & 0x7F;
    Feed feed(data + 2, size - 2);
    feed.bind(st);
    try {
        for (int round = 0; round < 4; ++round) {
            switch ((data[1] >> (2 * round)) & 3) {
                case 0: exchangeByte(st, data[1]); break;
                case 1: exchangeWord(st, 0x80FF0102u * data[1]); break;
                default: sendBlock(st, data[0], data[1], 0xFFFFFFFFu, 0); break;
            }
            if (st.lastReplyNumber != st.packetNumber) __builtin_trap();
        }
    } catch (const OutOfInput&) {
    }
    return 0;
}
