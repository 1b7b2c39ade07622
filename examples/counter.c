/* Prints a number every second. Timer 0 (mode 1) interrupts every 50 ms:
 * 11.0592 MHz / 12 = 921600 counts a second, 46080 per 50 ms, so it restarts
 * at 65536 - 46080 = 0x4C00; twenty interrupts make one second. */
#include "uart.h"

#define RELOAD_HIGH 0x4C

static volatile unsigned char ticks;
static volatile __bit second_passed;

void timer0_isr(void) __interrupt(1)
{
    TH0 = RELOAD_HIGH; /* TL0 has just passed 0, so the period stays exact enough */
    if (++ticks == 20) {
        ticks = 0;
        second_passed = 1;
    }
}

static void put_number(unsigned int n)
{
    char digits[6];
    unsigned char i = 0;
    do {
        digits[i++] = '0' + n % 10;
        n /= 10;
    } while (n);
    while (i)
        uart_put(digits[--i]);
}

void main(void)
{
    unsigned int count = 0;
    uart_init();
    TMOD = (TMOD & 0xF0) | 0x01; /* timer 0: 16 bits */
    TH0 = RELOAD_HIGH;
    TL0 = 0x00;
    ET0 = 1;
    EA = 1;
    TR0 = 1;
    uart_puts("Counting seconds\r\n");
    for (;;) {
        if (second_passed) {
            second_passed = 0;
            put_number(++count);
            uart_puts("\r\n");
        }
    }
}
