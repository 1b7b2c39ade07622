/* Serial port set-up shared by the examples: mode 1 (8-bit UART), 19200 baud
 * at 11.0592 MHz from timer 1 in mode 2 (TH1 = 0xFD, SMOD = 1), which is the
 * terminal speed Corvade uses by default. Sending polls TI. */
#ifndef EXAMPLES_UART_H
#define EXAMPLES_UART_H
#include <8051.h>

static void uart_init(void)
{
    SCON = 0x50;                 /* mode 1, receiver on */
    TMOD = (TMOD & 0x0F) | 0x20; /* timer 1: 8-bit auto-reload */
    TH1 = 0xFD;
    TL1 = 0xFD;
    PCON |= 0x80;                /* SMOD: double the rate to 19200 */
    TR1 = 1;
}

static void uart_put(char c)
{
    SBUF = c;
    while (!TI)
        ;
    TI = 0;
}

static void uart_puts(const char *s)
{
    while (*s)
        uart_put(*s++);
}

static char uart_get(void)
{
    while (!RI)
        ;
    RI = 0;
    return SBUF;
}
#endif
