/* Bubble sort of 400 pseudo-random bytes in external RAM, 4 rounds; checks
 * the order and returns a sum of the sorted bytes weighted by position. */
#include "end.h"

#define COUNT 400
#define ROUNDS 4

__xdata unsigned char data[COUNT];

void main(void)
{
    unsigned int i, j, sum = 0;
    unsigned int seed = 12345;
    unsigned char round, ok = 1;
    for (round = 0; round < ROUNDS; ++round) {
        for (i = 0; i < COUNT; ++i) {
            seed = seed * 25173 + 13849;
            data[i] = seed >> 8;
        }
        for (i = COUNT - 1; i > 0; --i)
            for (j = 0; j < i; ++j)
                if (data[j] > data[j + 1]) {
                    unsigned char t = data[j];
                    data[j] = data[j + 1];
                    data[j + 1] = t;
                }
        for (i = 1; i < COUNT; ++i)
            if (data[i - 1] > data[i])
                ok = 0;
    }
    for (i = 0; i < COUNT; ++i)
        sum += data[i] * (i & 7);
    stop(sum, ok);
}
