/* Sieve of Eratosthenes over 8191 odd-number flags in external RAM, 40 rounds.
 * Result: the number of primes found (1899). */
#include "end.h"

#define SIZE 8190
#define ROUNDS 40

__xdata unsigned char flag[SIZE + 1];

void main(void)
{
    unsigned int i, k, step, primes = 0;
    unsigned char round;
    for (round = 0; round < ROUNDS; ++round) {
        primes = 0;
        for (i = 0; i <= SIZE; ++i)
            flag[i] = 1;
        for (i = 0; i <= SIZE; ++i) {
            if (!flag[i])
                continue;
            step = 2 * i + 3;
            for (k = i + step; k <= SIZE; k += step)
                flag[k] = 0;
            ++primes;
        }
    }
    stop(primes, primes == 1899);
}
