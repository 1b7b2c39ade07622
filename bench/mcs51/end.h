/* End of every benchmark program: the 16-bit result to P2:P1, 0x5A to P3
 * when the program's own check passed (0xEE if not), then a jump to itself. */
#ifndef BENCH_END_H
#define BENCH_END_H
#include <8051.h>

static void stop(unsigned int result, unsigned char ok)
{
    P1 = result & 0xFF;
    P2 = result >> 8;
    P3 = ok ? 0x5A : 0xEE;
    for (;;)
        ;
}
#endif
