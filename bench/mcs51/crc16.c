/* CRC-16/CCITT-FALSE computed bit by bit over the first 256 bytes of the program itself, 160 rounds
 * chained; first checks the standard value for "123456789" (0x29B1). */
#include "end.h"

#define ROUNDS 160

static unsigned int crc_update(unsigned int crc, __code const unsigned char *p, unsigned int n)
{
    unsigned char bit;
    while (n--) {
        crc ^= (unsigned int)(*p++) << 8;
        for (bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    }
    return crc;
}

__code const unsigned char check[] = "123456789";

void main(void)
{
    unsigned int crc = crc_update(0xFFFF, check, 9);
    unsigned char ok = crc == 0x29B1;
    unsigned char round;
    for (round = 0; round < ROUNDS; ++round)
        crc = crc_update(crc, (__code const unsigned char *)0, 256);
    stop(crc, ok);
}
