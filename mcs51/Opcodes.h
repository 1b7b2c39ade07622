#pragma once

#include <array>
#include <cstdint>

namespace mcs51 {

// One entry per opcode byte: the mnemonic, the instruction length in bytes and
// the machine cycles it takes (12 oscillator periods each). The interpreter
// takes lengths and cycle counts from here and nowhere else.
struct OpcodeInfo
{
    const char *mnemonic;
    std::uint8_t bytes;
    std::uint8_t cycles;
};

// 0xA5 is not defined by the instruction set. This core executes it as a
// one-byte, one-machine-cycle no-op and counts it (Cpu::undefinedOpcodes()),
// so a runaway program keeps going as on most parts but can be noticed.
inline constexpr std::array<OpcodeInfo, 256> kOpcodes = {{
    {"NOP", 1, 1}, // 00
    {"AJMP addr11", 2, 2}, // 01
    {"LJMP addr16", 3, 2}, // 02
    {"RR A", 1, 1}, // 03
    {"INC A", 1, 1}, // 04
    {"INC direct", 2, 1}, // 05
    {"INC @R0", 1, 1}, // 06
    {"INC @R1", 1, 1}, // 07
    {"INC R0", 1, 1}, // 08
    {"INC R1", 1, 1}, // 09
    {"INC R2", 1, 1}, // 0A
    {"INC R3", 1, 1}, // 0B
    {"INC R4", 1, 1}, // 0C
    {"INC R5", 1, 1}, // 0D
    {"INC R6", 1, 1}, // 0E
    {"INC R7", 1, 1}, // 0F
    {"JBC bit,rel", 3, 2}, // 10
    {"ACALL addr11", 2, 2}, // 11
    {"LCALL addr16", 3, 2}, // 12
    {"RRC A", 1, 1}, // 13
    {"DEC A", 1, 1}, // 14
    {"DEC direct", 2, 1}, // 15
    {"DEC @R0", 1, 1}, // 16
    {"DEC @R1", 1, 1}, // 17
    {"DEC R0", 1, 1}, // 18
    {"DEC R1", 1, 1}, // 19
    {"DEC R2", 1, 1}, // 1A
    {"DEC R3", 1, 1}, // 1B
    {"DEC R4", 1, 1}, // 1C
    {"DEC R5", 1, 1}, // 1D
    {"DEC R6", 1, 1}, // 1E
    {"DEC R7", 1, 1}, // 1F
    {"JB bit,rel", 3, 2}, // 20
    {"AJMP addr11", 2, 2}, // 21
    {"RET", 1, 2}, // 22
    {"RL A", 1, 1}, // 23
    {"ADD A,#data", 2, 1}, // 24
    {"ADD A,direct", 2, 1}, // 25
    {"ADD A,@R0", 1, 1}, // 26
    {"ADD A,@R1", 1, 1}, // 27
    {"ADD A,R0", 1, 1}, // 28
    {"ADD A,R1", 1, 1}, // 29
    {"ADD A,R2", 1, 1}, // 2A
    {"ADD A,R3", 1, 1}, // 2B
    {"ADD A,R4", 1, 1}, // 2C
    {"ADD A,R5", 1, 1}, // 2D
    {"ADD A,R6", 1, 1}, // 2E
    {"ADD A,R7", 1, 1}, // 2F
    {"JNB bit,rel", 3, 2}, // 30
    {"ACALL addr11", 2, 2}, // 31
    {"RETI", 1, 2}, // 32
    {"RLC A", 1, 1}, // 33
    {"ADDC A,#data", 2, 1}, // 34
    {"ADDC A,direct", 2, 1}, // 35
    {"ADDC A,@R0", 1, 1}, // 36
    {"ADDC A,@R1", 1, 1}, // 37
    {"ADDC A,R0", 1, 1}, // 38
    {"ADDC A,R1", 1, 1}, // 39
    {"ADDC A,R2", 1, 1}, // 3A
    {"ADDC A,R3", 1, 1}, // 3B
    {"ADDC A,R4", 1, 1}, // 3C
    {"ADDC A,R5", 1, 1}, // 3D
    {"ADDC A,R6", 1, 1}, // 3E
    {"ADDC A,R7", 1, 1}, // 3F
    {"JC rel", 2, 2}, // 40
    {"AJMP addr11", 2, 2}, // 41
    {"ORL direct,A", 2, 1}, // 42
    {"ORL direct,#data", 3, 2}, // 43
    {"ORL A,#data", 2, 1}, // 44
    {"ORL A,direct", 2, 1}, // 45
    {"ORL A,@R0", 1, 1}, // 46
    {"ORL A,@R1", 1, 1}, // 47
    {"ORL A,R0", 1, 1}, // 48
    {"ORL A,R1", 1, 1}, // 49
    {"ORL A,R2", 1, 1}, // 4A
    {"ORL A,R3", 1, 1}, // 4B
    {"ORL A,R4", 1, 1}, // 4C
    {"ORL A,R5", 1, 1}, // 4D
    {"ORL A,R6", 1, 1}, // 4E
    {"ORL A,R7", 1, 1}, // 4F
    {"JNC rel", 2, 2}, // 50
    {"ACALL addr11", 2, 2}, // 51
    {"ANL direct,A", 2, 1}, // 52
    {"ANL direct,#data", 3, 2}, // 53
    {"ANL A,#data", 2, 1}, // 54
    {"ANL A,direct", 2, 1}, // 55
    {"ANL A,@R0", 1, 1}, // 56
    {"ANL A,@R1", 1, 1}, // 57
    {"ANL A,R0", 1, 1}, // 58
    {"ANL A,R1", 1, 1}, // 59
    {"ANL A,R2", 1, 1}, // 5A
    {"ANL A,R3", 1, 1}, // 5B
    {"ANL A,R4", 1, 1}, // 5C
    {"ANL A,R5", 1, 1}, // 5D
    {"ANL A,R6", 1, 1}, // 5E
    {"ANL A,R7", 1, 1}, // 5F
    {"JZ rel", 2, 2}, // 60
    {"AJMP addr11", 2, 2}, // 61
    {"XRL direct,A", 2, 1}, // 62
    {"XRL direct,#data", 3, 2}, // 63
    {"XRL A,#data", 2, 1}, // 64
    {"XRL A,direct", 2, 1}, // 65
    {"XRL A,@R0", 1, 1}, // 66
    {"XRL A,@R1", 1, 1}, // 67
    {"XRL A,R0", 1, 1}, // 68
    {"XRL A,R1", 1, 1}, // 69
    {"XRL A,R2", 1, 1}, // 6A
    {"XRL A,R3", 1, 1}, // 6B
    {"XRL A,R4", 1, 1}, // 6C
    {"XRL A,R5", 1, 1}, // 6D
    {"XRL A,R6", 1, 1}, // 6E
    {"XRL A,R7", 1, 1}, // 6F
    {"JNZ rel", 2, 2}, // 70
    {"ACALL addr11", 2, 2}, // 71
    {"ORL C,bit", 2, 2}, // 72
    {"JMP @A+DPTR", 1, 2}, // 73
    {"MOV A,#data", 2, 1}, // 74
    {"MOV direct,#data", 3, 2}, // 75
    {"MOV @R0,#data", 2, 1}, // 76
    {"MOV @R1,#data", 2, 1}, // 77
    {"MOV R0,#data", 2, 1}, // 78
    {"MOV R1,#data", 2, 1}, // 79
    {"MOV R2,#data", 2, 1}, // 7A
    {"MOV R3,#data", 2, 1}, // 7B
    {"MOV R4,#data", 2, 1}, // 7C
    {"MOV R5,#data", 2, 1}, // 7D
    {"MOV R6,#data", 2, 1}, // 7E
    {"MOV R7,#data", 2, 1}, // 7F
    {"SJMP rel", 2, 2}, // 80
    {"AJMP addr11", 2, 2}, // 81
    {"ANL C,bit", 2, 2}, // 82
    {"MOVC A,@A+PC", 1, 2}, // 83
    {"DIV AB", 1, 4}, // 84
    {"MOV direct,direct", 3, 2}, // 85
    {"MOV direct,@R0", 2, 2}, // 86
    {"MOV direct,@R1", 2, 2}, // 87
    {"MOV direct,R0", 2, 2}, // 88
    {"MOV direct,R1", 2, 2}, // 89
    {"MOV direct,R2", 2, 2}, // 8A
    {"MOV direct,R3", 2, 2}, // 8B
    {"MOV direct,R4", 2, 2}, // 8C
    {"MOV direct,R5", 2, 2}, // 8D
    {"MOV direct,R6", 2, 2}, // 8E
    {"MOV direct,R7", 2, 2}, // 8F
    {"MOV DPTR,#data16", 3, 2}, // 90
    {"ACALL addr11", 2, 2}, // 91
    {"MOV bit,C", 2, 2}, // 92
    {"MOVC A,@A+DPTR", 1, 2}, // 93
    {"SUBB A,#data", 2, 1}, // 94
    {"SUBB A,direct", 2, 1}, // 95
    {"SUBB A,@R0", 1, 1}, // 96
    {"SUBB A,@R1", 1, 1}, // 97
    {"SUBB A,R0", 1, 1}, // 98
    {"SUBB A,R1", 1, 1}, // 99
    {"SUBB A,R2", 1, 1}, // 9A
    {"SUBB A,R3", 1, 1}, // 9B
    {"SUBB A,R4", 1, 1}, // 9C
    {"SUBB A,R5", 1, 1}, // 9D
    {"SUBB A,R6", 1, 1}, // 9E
    {"SUBB A,R7", 1, 1}, // 9F
    {"ORL C,/bit", 2, 2}, // A0
    {"AJMP addr11", 2, 2}, // A1
    {"MOV C,bit", 2, 1}, // A2
    {"INC DPTR", 1, 2}, // A3
    {"MUL AB", 1, 4}, // A4
    {"undefined", 1, 1}, // A5
    {"MOV @R0,direct", 2, 2}, // A6
    {"MOV @R1,direct", 2, 2}, // A7
    {"MOV R0,direct", 2, 2}, // A8
    {"MOV R1,direct", 2, 2}, // A9
    {"MOV R2,direct", 2, 2}, // AA
    {"MOV R3,direct", 2, 2}, // AB
    {"MOV R4,direct", 2, 2}, // AC
    {"MOV R5,direct", 2, 2}, // AD
    {"MOV R6,direct", 2, 2}, // AE
    {"MOV R7,direct", 2, 2}, // AF
    {"ANL C,/bit", 2, 2}, // B0
    {"ACALL addr11", 2, 2}, // B1
    {"CPL bit", 2, 1}, // B2
    {"CPL C", 1, 1}, // B3
    {"CJNE A,#data,rel", 3, 2}, // B4
    {"CJNE A,direct,rel", 3, 2}, // B5
    {"CJNE @R0,#data,rel", 3, 2}, // B6
    {"CJNE @R1,#data,rel", 3, 2}, // B7
    {"CJNE R0,#data,rel", 3, 2}, // B8
    {"CJNE R1,#data,rel", 3, 2}, // B9
    {"CJNE R2,#data,rel", 3, 2}, // BA
    {"CJNE R3,#data,rel", 3, 2}, // BB
    {"CJNE R4,#data,rel", 3, 2}, // BC
    {"CJNE R5,#data,rel", 3, 2}, // BD
    {"CJNE R6,#data,rel", 3, 2}, // BE
    {"CJNE R7,#data,rel", 3, 2}, // BF
    {"PUSH direct", 2, 2}, // C0
    {"AJMP addr11", 2, 2}, // C1
    {"CLR bit", 2, 1}, // C2
    {"CLR C", 1, 1}, // C3
    {"SWAP A", 1, 1}, // C4
    {"XCH A,direct", 2, 1}, // C5
    {"XCH A,@R0", 1, 1}, // C6
    {"XCH A,@R1", 1, 1}, // C7
    {"XCH A,R0", 1, 1}, // C8
    {"XCH A,R1", 1, 1}, // C9
    {"XCH A,R2", 1, 1}, // CA
    {"XCH A,R3", 1, 1}, // CB
    {"XCH A,R4", 1, 1}, // CC
    {"XCH A,R5", 1, 1}, // CD
    {"XCH A,R6", 1, 1}, // CE
    {"XCH A,R7", 1, 1}, // CF
    {"POP direct", 2, 2}, // D0
    {"ACALL addr11", 2, 2}, // D1
    {"SETB bit", 2, 1}, // D2
    {"SETB C", 1, 1}, // D3
    {"DA A", 1, 1}, // D4
    {"DJNZ direct,rel", 3, 2}, // D5
    {"XCHD A,@R0", 1, 1}, // D6
    {"XCHD A,@R1", 1, 1}, // D7
    {"DJNZ R0,rel", 2, 2}, // D8
    {"DJNZ R1,rel", 2, 2}, // D9
    {"DJNZ R2,rel", 2, 2}, // DA
    {"DJNZ R3,rel", 2, 2}, // DB
    {"DJNZ R4,rel", 2, 2}, // DC
    {"DJNZ R5,rel", 2, 2}, // DD
    {"DJNZ R6,rel", 2, 2}, // DE
    {"DJNZ R7,rel", 2, 2}, // DF
    {"MOVX A,@DPTR", 1, 2}, // E0
    {"AJMP addr11", 2, 2}, // E1
    {"MOVX A,@R0", 1, 2}, // E2
    {"MOVX A,@R1", 1, 2}, // E3
    {"CLR A", 1, 1}, // E4
    {"MOV A,direct", 2, 1}, // E5
    {"MOV A,@R0", 1, 1}, // E6
    {"MOV A,@R1", 1, 1}, // E7
    {"MOV A,R0", 1, 1}, // E8
    {"MOV A,R1", 1, 1}, // E9
    {"MOV A,R2", 1, 1}, // EA
    {"MOV A,R3", 1, 1}, // EB
    {"MOV A,R4", 1, 1}, // EC
    {"MOV A,R5", 1, 1}, // ED
    {"MOV A,R6", 1, 1}, // EE
    {"MOV A,R7", 1, 1}, // EF
    {"MOVX @DPTR,A", 1, 2}, // F0
    {"ACALL addr11", 2, 2}, // F1
    {"MOVX @R0,A", 1, 2}, // F2
    {"MOVX @R1,A", 1, 2}, // F3
    {"CPL A", 1, 1}, // F4
    {"MOV direct,A", 2, 1}, // F5
    {"MOV @R0,A", 1, 1}, // F6
    {"MOV @R1,A", 1, 1}, // F7
    {"MOV R0,A", 1, 1}, // F8
    {"MOV R1,A", 1, 1}, // F9
    {"MOV R2,A", 1, 1}, // FA
    {"MOV R3,A", 1, 1}, // FB
    {"MOV R4,A", 1, 1}, // FC
    {"MOV R5,A", 1, 1}, // FD
    {"MOV R6,A", 1, 1}, // FE
    {"MOV R7,A", 1, 1}, // FF
}};

} // namespace mcs51
