"""A handheld, or a loopback cable, behind a raw MIDI device (the VM's VirMIDI card, whose
sequencer port the browser lists): written apart from the simulator, in Python, from the
protocol's worked examples, so that the page is held against a second reading of the wire.
It answers the mode switches, echoes one-byte data packets and keeps their bytes, and streams
a bank on request at the cable's pace; as a cable, it returns what it is sent."""

import os
import select
import threading
import time

SYSEX, END = 0xF0, 0xF7
COMMAND = [0x7E, 0x54, 0x07]          # the commands' and status answers' header
DATA = [0x7E, 0x00, 0x07]             # data packets'
STATUS = {0x73: 0x04, 0x53: 0x04}     # sync: its status
MESSAGE_TIME_S = 11 * 320e-6          # a one-byte message at the cable's 320 us a byte


def status_answer(status):
    return bytes([SYSEX, *COMMAND, 0x7F, 0x00, 0x00, status, 0x00, END])


def bank_message(number, value):
    return bytes([SYSEX, *DATA, 0x02, number & 0x7F, 0x01, 0x40 if value & 0x80 else 0x00, value & 0x7F, 0x00, END])


class Peer:
    def __init__(self, device):
        # Not blocking: a raw MIDI device's blocking read waits for the whole count asked.
        self.fd = os.open(device, os.O_RDWR | os.O_NONBLOCK)
        self.writing = threading.Lock()
        self.bank, self.hole_after, self.change_every, self.answer_packets = b"", 0, None, 0
        self.uploaded, self.commands, self.carried = bytearray(), 0, 0
        self.stopping = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def handheld(self, bank=b"", hole_after=0, answer_packets=0):
        """Silent after answering `answer_packets` data packets (0: never)."""
        self.bank, self.hole_after, self.change_every = bank, hole_after, None
        self.uploaded, self.commands, self.answer_packets = bytearray(), 0, answer_packets

    def cable(self, change_every):
        self.change_every, self.carried = change_every, 0

    def close(self):
        self.stopping = True
        os.close(self.fd)

    def serve(self):
        message = bytearray()
        while not self.stopping:
            try:
                if not select.select([self.fd], [], [], 0.2)[0]:
                    continue
                chunk = os.read(self.fd, 256)
            except BlockingIOError:
                continue
            except (OSError, ValueError):
                return
            for byte in chunk:
                if byte == SYSEX:
                    message = bytearray([byte])
                elif message:
                    message.append(byte)
                    if byte == END:
                        self.take(bytes(message))
                        message = bytearray()

    def write(self, m):
        with self.writing:
            while m:
                select.select([], [self.fd], [], 1)
                try:
                    m = m[os.write(self.fd, m):]
                except BlockingIOError:
                    pass

    def take(self, m):
        if self.change_every is not None:
            self.carried += 1
            if self.change_every and self.carried % self.change_every == 0:
                m = m[:6] + bytes([m[6] ^ 0x01]) + m[7:]
            self.write(m)
        elif list(m[1:4]) == COMMAND and m[6:9] == b"TPD":
            self.commands += 1
            letter, kind = m[9], m[4]
            if letter in STATUS:
                self.write(status_answer(STATUS[letter]))
            elif letter in (0x6D, 0x4D):  # MIDI mode (a dump header) or MIDI receive (a request)
                self.write(status_answer(0x00 if kind == 0x01 else 0x06))
            elif letter == 0x62 and kind == 0x03:  # the bank asked for
                self.write(status_answer(0x06))
                threading.Thread(target=self.stream, daemon=True).start()
        elif list(m[1:4]) == DATA and m[4] == 0x02 and m[6] == 0x01 and len(m) == 11:
            if self.answer_packets and len(self.uploaded) == self.answer_packets:
                return
            self.uploaded.append(((m[7] & 0x40) << 1) | m[8])
            self.write(m)  # a byte is answered by its echo

    def stream(self):
        for i, value in enumerate(self.bank):
            # Three messages lost after `hole_after` bytes, as a MIDI system that falls behind
            # loses them: their numbers used up.
            if not self.hole_after or not self.hole_after <= i < self.hole_after + 3:
                self.write(bank_message(i, value))
                time.sleep(MESSAGE_TIME_S)
