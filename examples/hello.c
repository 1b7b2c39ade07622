/* Greets, then echoes every character typed (a carriage return also gets a line feed). */
#include "uart.h"

void main(void)
{
    uart_init();
    uart_puts("Hello from the 8051!\r\nType something and it comes back.\r\n");
    for (;;) {
        char c = uart_get();
        uart_put(c);
        if (c == '\r')
            uart_put('\n');
    }
}
