#include "mcs51/HexImage.h"

#include "mcs51/Cpu.h"

#include <sstream>

namespace mcs51 {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<HexImage> HexImage::parse(const std::string &text)
{
    HexImage image;
    std::uint32_t base = 0; // from extended segment/linear address records
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line[0] != ':')
            continue;
        if (line.size() < 11 || (line.size() - 1) % 2 != 0)
            return std::nullopt;
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 1; i < line.size(); i += 2) {
            const int hi = hexDigit(line[i]), lo = hexDigit(line[i + 1]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            bytes.push_back(std::uint8_t(hi << 4 | lo));
        }
        unsigned sum = 0;
        for (std::uint8_t b : bytes)
            sum += b;
        const std::size_t count = bytes[0];
        if ((sum & 0xFF) != 0 || bytes.size() != count + 5)
            return std::nullopt;
        const std::uint32_t offset = std::uint32_t(bytes[1] << 8 | bytes[2]);
        const std::uint8_t *data = bytes.data() + 4;
        switch (bytes[3]) {
        case 0x00:
            image.chunks.push_back({base + offset, std::vector<std::uint8_t>(data, data + count)});
            break;
        case 0x01:
            return image;
        case 0x02:
            if (count != 2)
                return std::nullopt;
            base = std::uint32_t(data[0] << 8 | data[1]) << 4;
            break;
        case 0x04:
            if (count != 2)
                return std::nullopt;
            base = std::uint32_t(data[0] << 8 | data[1]) << 16;
            break;
        case 0x03: // CS:IP
            if (count != 4)
                return std::nullopt;
            image.entry = std::uint16_t(((data[0] << 8 | data[1]) << 4) + (data[2] << 8 | data[3]));
            break;
        case 0x05:
            if (count != 4)
                return std::nullopt;
            image.entry = std::uint16_t(data[2] << 8 | data[3]);
            break;
        default:
            return std::nullopt;
        }
    }
    return image;
}

void HexImage::loadAndReset(Cpu &cpu) const
{
    for (const Chunk &chunk : chunks)
        cpu.loadCode(std::uint16_t(chunk.address), chunk.bytes);
    cpu.reset();
    if (entry)
        cpu.setPc(*entry);
}

} // namespace mcs51
