"""The console texts of the jobs, as the user sees them."""

INTRO = {
    0xC9: "Loaded Game Boy ROM: {}\n\nIn the trackpod boot screen,\n"
          "press SELECT + START or A or B,\nthen press enter here.\n",
    0x24: "Loaded trackpod 2.5 bank: {}\n\nIn trackpod, select the bank to overwrite,\n"
          "move the cursor to the very right and\n"
          "press A+B+DOWN so that a status bar appears on the bottom.\nThen press enter here.\n",
    0xAB: "Loaded trackpod 1.6 bank: {}\n\nIn trackpod, select the bank to overwrite,\n"
          "press A+B+DOWN,\nThen press enter here.\n",
    0x41: "Loaded file: {}\nPress enter to send.\n",
}


def sent_text(first, name, size):
    k = size // 1024
    text = "\n" + INTRO[first].format(name)
    text += "".join(f"{i // 1024}k of {k}k sent\r" for i in range(0, size, 1024))
    if first == 0x24:
        return text + f"{k}k of {k}k sent\ndone\n\n"
    text += f"{k}k of {k}k sent... done."
    if first == 0xAB:
        text += "\nIn trackpod, press SELECT to save the received bank.\n"
    return text + "\n"


def received_text(size):
    return ("Ready to receive data.\n\n" + "".join(f"{k}k saved \r" for k in range(1, size // 1024 + 1))
            + f"{size // 1024}k saved... done.\n\n")
