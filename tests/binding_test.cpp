// The binding's watch over what RtMidi says on std::cerr.
#include <gtest/gtest.h>

#include <sstream>

#include "midi/drop_watch.h"

TEST(DropWatch, NotesRtMidisWordOfADropAndKeepsItOffTheConsole) {
    std::stringbuf console;
    DropWatch watch(&console);
    std::ostream err(&watch);
    err << "tpmidi01: a line of the program's own\n";
    EXPECT_FALSE(watch.dropped());
    for (const char* said : {"\nMidiInJack: message queue limit reached!!\n\n",
                             "\nMidiInAlsa::alsaMidiHandler: MIDI input buffer overrun!\n\n",
                             "\nMidiInAlsa::alsaMidiHandler: unknown MIDI input error!\n"}) {
        err << said << std::flush;
        EXPECT_TRUE(watch.dropped()) << said;
        EXPECT_FALSE(watch.dropped()) << "said once, noted once";
    }
    err << 'x' << std::flush;
    EXPECT_EQ(console.str(), "tpmidi01: a line of the program's own\nx");
}
