#!/usr/bin/python3
"""Writes encoding/encoding_tables.h, the constant tables of the character sets.

Tables that follow a published mapping are taken from Python's standard
codecs (which agree with glibc's iconv for every set used here); the codes
where brassel deliberately answers differently, and the codes the published
mapping leaves undefined, are listed per table below and applied on top. The
generator refuses to run if a published mapping leaves a code undefined that
no list mentions, so no table gets a silent gap. The tables that follow no
published mapping are written here value by value.

Run from anywhere:  /usr/bin/python3 tools/gen_encodings.py [--stdout]
"""
import codecs
import pathlib
import sys
import textwrap


def codes(first, last):
    return range(first, last + 1)


def zero(*groups):
    """The codes of the groups (single codes or ranges) mapped to 0."""
    result = {}
    for group in groups:
        for code in (group if isinstance(group, range) else [group]):
            result[code] = 0
    return result


# The IBM PC code pages draw 0xE4, 0xEA, 0xED and 0xEE as the mathematical
# symbols n-ary sum, ohm, empty set and element of; brassel answers with those
# code points rather than the Greek letters of the published tables.
PC_MATH = {0xE4: 0x2211, 0xEA: 0x2126, 0xED: 0x2205, 0xEE: 0x2208}

# (constant, charset, codec, first code, entry count, changes to the codec)
PUBLISHED = [
    ("ISO8859_2", "iso8859-2", "iso8859_2", 0xA0, 96, {}),
    ("ISO8859_3", "iso8859-3", "iso8859_3", 0xA0, 96,
     {code: code for code in (0xA5, 0xAE, 0xBE, 0xC3, 0xD0, 0xE3, 0xF0)}),
    ("ISO8859_4", "iso8859-4", "iso8859_4", 0xA0, 96, {}),
    ("ISO8859_7", "iso8859-7", "iso8859_7", 0xA1, 29,
     {0xA1: 0x02BD, 0xA2: 0x02BC, 0xA4: 0x00A4, 0xA5: 0x00A5, 0xAA: 0x00AA,
      0xAE: 0x00AE}),
    ("ISO8859_11", "iso8859-11", "iso8859_11", 0xA0, 96,
     {0xA0: 0x0020, **zero(codes(0xDB, 0xDE), codes(0xFC, 0xFF))}),
    ("ISO8859_14", "iso8859-14", "iso8859_14", 0xA0, 96, {0xD5: 0x0150}),
    ("KOI8_R", "koi8-r", "koi8_r", 0x80, 128, {}),
    ("KOI8_U", "koi8-u", "koi8_u", 0x80, 128, {}),
    ("WINDOWS_1251", "windows-1251", "cp1251", 0x80, 128, zero(0x98)),
    ("ISO8859_10", "iso8859-10", "iso8859_10", 0x80, 128,
     {0x80: 0x20AC, 0xA7: 0x013B, 0xA8: 0x0143, 0xA9: 0x0156, 0xAE: 0x0138,
      0xB0: 0x0111, 0xB7: 0x013C, 0xB8: 0x0144, 0xB9: 0x0157, 0xBD: 0x00A7,
      0xBE: 0x00DF, 0xD0: 0x0110, 0xDF: 0x016A, 0xFF: 0x016B}),
    ("WINDOWS_1250", "windows-1250", "cp1250", 0x80, 128,
     {0x85: 0x22EF, 0x95: 0x2219, 0xBC: 0x0178, 0xBE: 0x013D,
      **zero(0x81, 0x83, 0x88, 0x90, 0x98)}),
    ("WINDOWS_1252", "windows-1252", "cp1252", 0x80, 128,
     {0x85: 0x22EF, 0x88: 0x0302, 0x8E: 0, 0x95: 0x2219, 0x98: 0x0303, 0x9E: 0,
      **zero(0x81, 0x8D, 0x8F, 0x90, 0x9D)}),
    ("WINDOWS_1253", "windows-1253", "cp1253", 0x80, 128,
     {0x85: 0x22EF, 0x95: 0x2219, 0xB7: 0x0387,
      **zero(0x81, 0x88, 0x8A, codes(0x8C, 0x90), 0x98, 0x9A, codes(0x9C, 0x9F),
             0xAA, 0xD2, 0xFF)}),
    ("WINDOWS_1254", "windows-1254", "cp1254", 0x80, 128,
     {0x85: 0x22EF, 0x88: 0x0302, 0x95: 0x2219, 0x98: 0x0303,
      **zero(0x81, codes(0x8D, 0x90), 0x9D, 0x9E)}),
    ("CP_437", "cp-437", "cp437", 0x80, 128, PC_MATH),
    ("CP_737", "cp-737", "cp737", 0x80, 128,
     {0xF4: 0x2320, 0xF5: 0x2321, 0xF9: 0x00A3, 0xFA: 0x0387}),
    ("CP_850", "cp-850", "cp850", 0x80, 128, {}),
    ("CP_852", "cp-852", "cp852", 0x80, 128, zero(0xAA)),
    ("CP_855", "cp-855", "cp855", 0x80, 128, zero(0xFD)),
    ("CP_857", "cp-857", "cp857", 0x80, 128, {0xD5: 0, 0xE7: 0x00FE, 0xF2: 0x2017}),
    ("CP_860", "cp-860", "cp860", 0x80, 128, PC_MATH),
    ("CP_861", "cp-861", "cp861", 0x80, 128, {0x97: 0x00F9, 0x98: 0x00FF, **PC_MATH}),
    ("CP_862", "cp-862", "cp862", 0x80, 128, PC_MATH),
    ("CP_863", "cp-863", "cp863", 0x80, 128, PC_MATH),
    ("CP_865", "cp-865", "cp865", 0x80, 128, PC_MATH),
    ("CP_866", "cp-866", "cp866", 0x80, 128, {}),
    ("CP_869", "cp-869", "cp869", 0x80, 128,
     {0x88: 0x0387, **zero(codes(0x80, 0x85), 0x87, 0x93, 0x94)}),
    ("WINDOWS_1257", "windows-1257", "cp1257", 0x80, 128,
     {0x80: 0, 0xA1: 0xF8FC, 0xA5: 0xF8FD,
      **zero(0x81, 0x83, 0x88, 0x8A, 0x8C, 0x90, 0x98, 0x9A, 0x9C, 0x9F)}),
]

# (constant, charset, rows): each row is its first code and 16 values, all in
# hexadecimal; 0000 means no character at that code.
LISTED = [
    ("WINDOWS_1255", "windows-1255", """
        80 20AC 0000 201A 0192 201E 22EF 2020 2021 0000 2030 0000 2039 0000 0000 0000 0000
        90 0000 2018 2019 201C 201D 2219 2013 2014 0000 2122 0000 203A 0000 0000 0000 0000
        A0 00A0 0000 00A2 00A3 00A4 00A5 00A6 00A7 00A8 00A9 00D7 00AB 00AC 00AD 00AE 030D
        B0 00B0 00B1 00B2 00B3 00B4 00B5 00B6 00B7 00B8 00B9 00F7 00BB 00BC 00BD 00BE 0000
        C0 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000
        D0 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 2017
        E0 05D0 05D1 05D2 05D3 05D4 05D5 05D6 05D7 05D8 05D9 05DA 05DB 05DC 05DD 05DE 05DF
        F0 05E0 05E1 05E2 05E3 05E4 05E5 05E6 05E7 05E8 05E9 05EA 0000 0000 0000 0000 0000
    """),
    ("WINDOWS_1256", "windows-1256", """
        80 060C 0000 201A 0000 201E 22EF 2020 2021 0000 2030 0000 2039 0000 0000 0000 0000
        90 0000 2018 2019 201C 201D 2219 2013 2014 061B 2122 061F 203A 0621 0622 0623 0178
        A0 00A0 0624 0625 00A3 00A4 0626 00A6 00A7 0627 00A9 0628 00AB 00AC 00AD 00AE 0000
        B0 00B0 00B1 0629 062A 062B 00B5 00B6 00B7 062C 0000 062D 00BB 062E 062F 0630 0631
        C0 00C0 0632 00C2 0000 0633 0634 0635 00C7 00C8 00C9 00CA 00CB 0636 0637 00CE 00CF
        D0 0638 0639 063A 0640 00D4 0641 0642 00D7 0643 00D9 06AF 00DB 00DC 0644 0645 0646
        E0 00E0 0647 00E2 0000 0648 0649 064A 00E7 00E8 00E9 00EA 00EB 064B 064C 00EE 00EF
        F0 064D 064E 064F 0650 00F4 0651 0652 00F7 0000 00F9 0000 00FB 00FC 0000 0000 00FF
    """),
    ("CP_851", "cp-851", """
        80 00C7 00FC 00E9 00E2 00E4 00E0 0386 00E7 00EA 00EB 00E8 00EF 00EE 0388 00C4 0389
        90 038A 0000 038C 00F4 00F6 038E 00FB 00F9 038F 00D6 00DC 03AC 00A3 03AD 03AE 03AF
        A0 03CA 0390 03CC 03CD 0391 0392 0393 0394 0395 0396 0397 00BD 0398 0399 00AB 00BB
        B0 2591 2592 2593 2502 2524 039A 039B 039C 039D 2563 2551 2557 255D 039E 039F 2510
        C0 2514 2534 252C 251C 2500 253C 03A0 03A1 255A 2554 2569 2566 2560 2550 256C 03A3
        D0 03A4 03A5 03A6 03A7 03A8 03A9 03B1 03B2 03B3 2518 250C 2588 2584 03B4 03B5 2580
        E0 03B6 03B7 03B8 03B9 03BA 03BB 03BC 03BD 03BE 03BF 03C0 03C1 03C3 03C2 03C4 0384
        F0 00AD 00B1 03C5 03C6 03C7 00A7 03C8 0385 00B0 00A8 03C9 03CB 03B0 03CE 25A0 00A0
    """),
    ("CP_853", "cp-853", """
        80 00C7 00FC 00E9 00E2 00E4 00E0 0109 00E7 00EA 00EB 00E8 00EF 00EE 00EC 00C4 0108
        90 00C9 010B 010A 00F4 00F6 00F2 00FB 00F9 0130 00D6 00DC 011D 00A3 011C 00D7 0135
        A0 00E1 00ED 00F3 00FA 00F1 00D1 011E 011F 0124 0125 0000 00BD 0134 015F 00AB 00BB
        B0 2591 2592 2593 2502 2524 00C1 00C2 00C0 015E 2563 2551 2557 255D 017B 017C 2510
        C0 2514 2534 252C 251C 2500 253C 015C 015D 255A 2554 2569 2566 2560 2550 256C 00A4
        D0 0000 0000 00CA 00CB 00C8 0131 00CD 00CE 00CF 2518 250C 2588 2584 0000 00CC 2580
        E0 00D3 00DF 00D4 00D2 0120 0121 00B5 0126 0127 00DA 00DB 00D9 016C 016D 0000 00B4
        F0 00AD 0000 2113 0149 02D8 00A7 00F7 00B8 00B0 00A8 02D9 0000 00B3 00B2 25A0 00A0
    """),
    ("CP_864", "cp-864", """
        80 00B0 00B7 2219 221A 2592 2500 2502 253C 2524 252C 251C 2534 2510 250C 2514 2518
        90 00DF 221E 03A6 00B1 00BD 00BC 2248 00AB 00BB 0000 0000 0000 0000 0000 0000 0000
        A0 00A0 00AD 0000 00A3 00A4 0000 0000 0000 0000 0628 062A 062B 060C 062C 062D 062E
        B0 0660 0661 0662 0663 0664 0665 0666 0667 0668 0669 0641 061B 0633 0634 0635 061F
        C0 00A2 0621 0622 0623 0624 0000 0000 0627 0000 0629 0000 0000 0000 0000 0000 062F
        D0 0630 0631 0632 0000 0000 0000 0000 0637 0638 0000 0000 00A6 00AC 00F7 00D7 0639
        E0 0640 0000 0000 0000 0000 0000 0000 0000 0648 0649 0000 0636 0000 0000 063A 0645
        F0 0000 0651 0646 0647 0000 0000 0000 0000 0642 0000 0000 0644 0643 064A 25A0 0000
    """),
    ("CP_895", "cp-895", """
        80 010C 00FC 00E9 010F 00E4 010E 0164 010D 011B 011A 0139 00CD 013E 013A 00C4 00C1
        90 00C9 017E 017D 00F4 00F6 00D3 016F 00DA 00FD 00D6 00DC 0160 013D 00DD 0158 0165
        A0 00E1 00ED 00F3 00FA 0148 0147 016E 00D4 0161 0159 0155 0154 00BC 00A1 00AB 00BB
        B0 2591 2592 2593 2502 2524 2561 2562 2556 2555 2563 2551 2557 255D 255C 255B 2510
        C0 2514 2534 252C 251C 2500 253C 255E 255F 255A 2554 2569 2566 2560 2550 256C 2567
        D0 2568 2564 2565 2559 2558 2552 2553 256B 256A 2518 250C 2588 2584 258C 2590 2580
        E0 03B1 00DF 0393 03C0 2211 03C3 00B5 03C4 03A6 0398 2126 03B4 221E 2205 2208 2229
        F0 2261 00B1 2265 2264 2320 2321 00F7 2248 00B0 2219 00B7 221A 207F 00B2 25A0 00A0
    """),
    ("ATARI_ST", "atari-st", """
        80 00C7 00FC 00E9 00E2 00E4 00E0 00E5 00E7 00EA 00EB 00E8 00EF 00EE 00EC 00C4 00C5
        90 00C9 00E6 00C6 00F4 00F6 00F2 00FB 00F9 00FF 00D6 00DC 00A2 00A3 00A5 00DF 0192
        A0 00E1 00ED 00F3 00FA 00F1 00D1 00AA 00BA 00BF 2310 00AC 00BD 00BC 00A1 00AB 00BB
        B0 00E3 00F5 00D8 00F8 0153 0152 00C0 00C3 00D5 00A8 00B4 2020 00B6 00A9 00AE 2122
        C0 0133 0132 05D0 05D1 05D2 05D3 05D4 05D5 05D6 05D7 05D8 05D9 05DB 05DC 05DE 05E0
        D0 05E1 05E2 05E4 05E6 05E7 05E8 05E9 05EA 05DF 05DA 05DD 05E3 05E5 00A7 2227 221E
        E0 03B1 03B2 0393 03C0 2211 03C3 00B5 03C4 03A6 0398 2126 03B4 222E 2205 2208 2229
        F0 2261 00B1 2265 2264 2320 2321 00F7 2248 00B0 2219 00B7 221A 207F 00B2 00B3 00AF
    """),
    ("WINDOWS_SAMI2", "windows-sami2", """
        80 20AC 0000 010C 0192 010D 01B7 0292 01EE 01EF 0110 0160 2039 0152 0000 0000 0000
        90 0000 2018 2019 201C 201D 2022 2013 2014 0111 01E6 0161 203A 0153 0000 0000 0178
        A0 00A0 01E7 01E4 00A3 00A4 01E5 00A6 00A7 00A8 00A9 021E 00AB 00AC 00AD 00AE 021F
        B0 00B0 00B1 01E8 01E9 00B4 00B5 00B6 00B7 014A 014B 0166 00BB 0167 00BD 017D 017E
        C0 00C0 00C1 00C2 00C3 00C4 00C5 00C6 00C7 00C8 00C9 00CA 00CB 00CC 00CD 00CE 00CF
        D0 00D0 00D1 00D2 00D3 00D4 00D5 00D6 00D7 00D8 00D9 00DA 00DB 00DC 00DD 00DE 00DF
        E0 00E0 00E1 00E2 00E3 00E4 00E5 00E6 00E7 00E8 00E9 00EA 00EB 00EC 00ED 00EE 00EF
        F0 00F0 00F1 00F2 00F3 00F4 00F5 00F6 00F7 00F8 00F9 00FA 00FB 00FC 00FD 00FE 00FF
    """),
    ("WINGREEK", "wingreek-0", """
        20 0020 0000 03E0 03DC 03DA 03DE 0000 1FBF 0028 0029 002A 0000 002C 002D 002E 1FFD
        30 0030 0031 0032 0033 0034 0035 0036 0037 0038 0039 0387 037E 003C 003D 003E 003F
        40 00A8 0391 0392 03A7 0394 0395 03A6 0393 0397 0399 1FF3 039A 039B 039C 039D 039F
        50 03A0 0398 03A1 03A3 03A4 03A5 1FC3 03A9 039E 03A8 0396 005B 1FEF 005D 1FC0 005F
        60 1FFE 03B1 03B2 03C7 03B4 03B5 03C6 03B3 03B7 03B9 03C2 03BA 03BB 03BC 03BD 03BF
        70 03C0 03B8 03C1 03C3 03C4 03C5 1FB3 03C9 03BE 03C8 03B6 007B 007C 007D 007E 007F
        80 0000 0000 0000 1F31 1F30 1F77 1F35 1F34 1F76 1F35 1F32 1FD6 1F37 1F36 03CA 1FD3
        90 1FD2 1FDF 1FCF 1FDE 1FCE 1FDD 1FCD 1FEE 1F11 1F10 1F73 1F15 1F14 1F72 1F13 1F12
        A0 1F84 1F01 1F00 1F71 1F05 1F04 1F70 1F03 1F02 1FB6 1F07 1F06 1F81 1F80 1FB4 1F85
        B0 1F84 1FB2 1F83 1F83 1FB7 1F87 1F86 1FE5 1FE4 1F21 1F20 1F75 1F25 1F24 1F74 1F23
        C0 1F22 1FC6 1F27 1F26 037A 1F91 1F90 1FC4 1F95 1F94 1FC2 1F93 1F92 1FC7 1F97 1F96
        D0 1F41 1F40 1F79 1F45 1F44 1F78 1F43 1F42 1F51 1F50 1F7B 1F55 1F54 1F7A 1F53 1F52
        E0 1FE6 1F57 1F56 03CB 1FE3 1FE2 1F61 1F60 1F7D 1F65 1F64 1F7C 1F63 1F62 1FF6 1F67
        F0 1F66 1FA1 1FA0 1FF4 1FA5 1FA4 1FF2 1FA3 1FA2 1FF7 1FA7 1FA6 0000 0000 0000 0000
    """),
    ("SYMBOL", "symbol-0", """
        20 0020 0021 2200 0023 2203 0025 0026 220B 0028 0029 2217 002B 002C 2212 002E 002F
        30 0030 0031 0032 0033 0034 0035 0036 0037 0038 0039 003A 003B 003C 003D 003E 003F
        40 2245 0391 0392 03A7 0394 0395 03A6 0393 0397 0399 03D1 039A 039B 039C 039D 039F
        50 03A0 0398 03A1 03A3 03A4 03A5 03C2 03A9 039E 03A8 0396 005B 2234 005D 22A5 005F
        60 203E 03B1 03B2 03C7 03B4 03B5 03C6 03B3 03B7 03B9 03D5 03BA 03BB 03BC 03BD 03BF
        70 03C0 03B8 03C1 03C3 03C4 03C5 03D6 03C9 03BE 03C8 03B6 007B 007C 007D 223C 007F
        80 0080 0081 0082 0083 0084 0085 0086 0087 0088 0089 008A 008B 008C 008D 008E 008F
        90 0090 0091 0092 0093 0094 0095 0096 0097 0098 0099 009A 009B 009C 009D 009E 009F
        A0 0000 03D2 2032 2264 2215 221E 0192 2663 2666 2665 2660 2194 2190 2191 2192 2193
        B0 00B0 00B1 2033 2265 00D7 221D 2202 2219 00F7 2260 2261 2248 22EF 0000 0000 21B5
        C0 0000 2111 211C 2118 2297 2295 2205 2229 222A 2283 2287 2284 2282 2286 2208 2209
        D0 2220 2207 00AE 00A9 2122 220F 221A 22C5 00AC 2227 2228 21D4 21D0 21D1 21D2 21D3
        E0 25CA 2329 0000 0000 0000 2211 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000
        F0 0000 232A 222B 2320 0000 2321 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000
    """),
    ("WINGDING", "wingding-0", """
        20 0020 270F 2702 2701 0000 0000 0000 0000 260E 2706 2709 0000 0000 0000 0000 0000
        30 0000 0000 0000 0000 0000 0000 0000 2328 0000 0000 0000 0000 0000 0000 2707 270D
        40 0000 270C 0000 0000 0000 261C 261E 261D 261F 0000 263A 0000 2639 0000 2620 0000
        50 0000 2708 263C 0000 2744 271D 271E 0000 2720 2721 262A 262F 0000 2638 2648 2649
        60 264A 264B 264C 264D 264E 264F 2650 2651 2652 2653 0000 0000 25CF 0000 25A0 0000
        70 0000 2751 2752 0000 0000 25C6 2756 0000 2327 0000 2318 2740 273F 275D 275E 0000
        80 0000 2780 2781 2782 2783 2784 2785 2786 2787 2788 2789 0000 278A 278B 278C 278D
        90 278E 278F 2790 2791 2792 2793 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000
        A0 0000 25CB 0000 0000 0000 0000 0000 0000 25A1 0000 2726 2605 2736 2738 2739 2735
        B0 0000 2316 2727 2311 2370 272A 2730 0000 0000 0000 0000 0000 0000 0000 0000 0000
        C0 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000
        D0 0000 0000 0000 0000 0000 232B 2326 0000 27A2 0000 0000 0000 0000 0000 0000 2190
        E0 2192 2191 2193 2196 2197 2199 2198 0000 0000 0000 0000 0000 0000 0000 0000 21E6
        F0 21E8 21E7 21E9 0000 0000 0000 0000 0000 0000 0000 0000 2718 2714 0000 0000 0000
    """),
]


def published_table(codec, first, count, changes):
    table = []
    for code in range(first, first + count):
        if code in changes:
            table.append(changes[code])
            continue
        try:
            table.append(ord(bytes([code]).decode(codec)))
        except UnicodeDecodeError:
            sys.exit(f"{codec}: code 0x{code:02X} is undefined and not listed")
    unused = [code for code in changes if not first <= code < first + count]
    if unused:
        sys.exit(f"{codec}: changes outside the table: {unused}")
    return table


def listed_table(name, text):
    rows = [line.split() for line in text.split("\n") if line.strip()]
    first = int(rows[0][0], 16)
    table = []
    for index, (row, *values) in enumerate(rows):
        if int(row, 16) != first + 16 * index or len(values) != 16:
            sys.exit(f"{name}: bad row {row}")
        table += [int(value, 16) for value in values]
    return first, table


def describe_changes(changes):
    if not changes:
        return ["// no changes"]
    text = "changes: " + ", ".join(
        f"0x{code:02X}->U+{value:04X}" for code, value in sorted(changes.items()))
    return ["// " + line for line in textwrap.wrap(text, 90, break_on_hyphens=False)]


def array(constant, first, table):
    lines = [f"inline constexpr uint16_t {constant}_HIGH[{len(table)}] = {{"]
    for start in range(0, len(table), 8):
        values = ", ".join(f"0x{value:04X}" for value in table[start:start + 8])
        lines.append(f"    /* 0x{first + start:02X} */ {values},")
    lines.append("};")
    return lines


def generate():
    out = [
        "// Constant tables of the character sets: Unicode value per code, 0 where",
        "// the set has no character. Generated by tools/gen_encodings.py; do not",
        "// edit by hand. Sets that follow a published mapping come from Python's",
        "// codecs plus the changes named above each table; the others are written",
        "// value by value in the generator.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "namespace encoding_tables {",
    ]
    for constant, charset, codec, first, count, changes in PUBLISHED:
        out.append("")
        out.append(f"// {charset}: codec {codec}, 0x{first:02X}-0x{first + count - 1:02X}")
        out += describe_changes(changes)
        out += array(constant, first, published_table(codec, first, count, changes))
    for constant, charset, text in LISTED:
        first, table = listed_table(constant, text)
        out.append("")
        out.append(f"// {charset}: 0x{first:02X}-0x{first + len(table) - 1:02X}, value by value")
        out += array(constant, first, table)
    out += ["", "} // namespace encoding_tables", ""]
    return "\n".join(out)


def main():
    text = generate()
    if "--stdout" in sys.argv[1:]:
        sys.stdout.write(text)
        return
    target = pathlib.Path(__file__).resolve().parent.parent / "encoding" / "encoding_tables.h"
    target.write_text(text)


if __name__ == "__main__":
    main()
