#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mcs51 {

class Cpu;

// The value of one hexadecimal digit (either case), or -1 for any other character.
int hexDigit(char c);

// A program image read from Intel HEX text: the data records and, when the
// file names one (record type 03 or 05), the entry address.
struct HexImage
{
    struct Chunk
    {
        std::uint32_t address;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Chunk> chunks;
    std::optional<std::uint16_t> entry;

    // Returns nothing when a line is malformed or its checksum is wrong;
    // lines not starting with ':' are skipped. Parsing stops at the end record.
    static std::optional<HexImage> parse(const std::string &text);

    // Stores the data into code memory and, after a reset, sets the PC to
    // the entry the image names, or leaves it at 0x0000.
    void loadAndReset(Cpu &cpu) const;
};

} // namespace mcs51
