#!/usr/bin/env python3
"""Writes the example firmware in examples/ as TI-TXT.

    tools/make-examples.py [OUTDIR]

The programs are MSP430 machine code, encoded here word by word (the
assembly is in the comments), each with its reset vector.
"""
import os
import sys

WDTCTL, P1DIR, P1OUT = 0x0120, 0x0022, 0x0021
WDTPW_HOLD = 0x5A80


def ti_txt(image):
    """image: {address: byte}. Sections of consecutive bytes, 16 a line."""
    out = []
    addrs = sorted(image)
    i = 0
    while i < len(addrs):
        start = addrs[i]
        j = i
        while j + 1 < len(addrs) and addrs[j + 1] == addrs[j] + 1:
            j += 1
        out.append(f"@{start:04X}")
        run = [image[a] for a in addrs[i:j + 1]]
        for k in range(0, len(run), 16):
            out.append(" ".join(f"{b:02X}" for b in run[k:k + 16]))
        i = j + 1
    out.append("q")
    return "\n".join(out) + "\n"


def put_words(image, address, words):
    for w in words:
        image[address] = w & 0xFF
        image[address + 1] = w >> 8
        address += 2
    return address


def blink_f112():
    """LED on P1.0 of an MSP430F112 (flash 0xF000-0xFFFF, RAM to 0x02FF)."""
    image = {}
    put_words(image, 0xF000, [
        0x4031, 0x0300,              # F000 mov   #0x0300, SP
        0x40B2, WDTPW_HOLD, WDTCTL,  # F004 mov   #WDTPW|WDTHOLD, &WDTCTL
        0xD3D2, P1DIR,               # F00A bis.b #1, &P1DIR
        0xE3D2, P1OUT,               # F00E loop: xor.b #1, &P1OUT
        0x403F, 0x5000,              # F012 mov   #0x5000, R15
        0x831F,                      # F016 dly: dec R15
        0x23FE,                      # F018 jnz   dly
        0x3FF9,                      # F01A jmp   loop
    ])
    put_words(image, 0xFFFE, [0xF000])  # reset vector
    return image


def fill_f149():
    """Checksums a 58.5 KB table on an MSP430F149 and lights P1.0 when the
    sum matches the one stored after it (flash 0x1100-0xFFFF)."""
    table, table_end = 0x1200, 0xFC00
    words = []
    x = 0xACE1
    for _ in range((table_end - table) // 2):
        # 16-bit Galois LFSR: repeatable, incompressible-looking data.
        lsb = x & 1
        x >>= 1
        if lsb:
            x ^= 0xB400
        words.append(x)
    check = sum(words) & 0xFFFF
    image = {}
    put_words(image, 0x1100, [
        0x4031, 0x0A00,              # 1100 mov   #0x0A00, SP
        0x40B2, WDTPW_HOLD, WDTCTL,  # 1104 mov   #WDTPW|WDTHOLD, &WDTCTL
        0xD3D2, P1DIR,               # 110A bis.b #1, &P1DIR
        0x430E,                      # 110E main: clr R14
        0x403F, table,               # 1110 mov   #table, R15
        0x5F3E,                      # 1114 sum: add @R15+, R14
        0x903F, table_end,           # 1116 cmp   #table_end, R15
        0x23FC,                      # 111A jne   sum
        0x9E82, table_end,           # 111C cmp   R14, &check
        0x2002,                      # 1120 jne   skip
        0xD3D2, P1OUT,               # 1122 bis.b #1, &P1OUT
        0x3FF3,                      # 1126 skip: jmp main
    ])
    put_words(image, table, words)
    put_words(image, table_end, [check])
    put_words(image, 0xFFFE, [0x1100])  # reset vector
    return image


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "examples")
    with open(os.path.join(outdir, "blink-f112.txt"), "w", newline="\n") as f:
        f.write(ti_txt(blink_f112()))
    with open(os.path.join(outdir, "fill-f149.txt"), "w", newline="\n") as f:
        f.write(ti_txt(fill_f149()))


if __name__ == "__main__":
    main()
