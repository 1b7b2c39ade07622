/* Answers simple commands, one per line:
 *   help          lists the commands
 *   version       prints the program's version
 *   p1            prints port 1 in hex
 *   p1 XX         writes XX (hex) to port 1
 *   add N M       adds two decimal numbers (0 to 65535)
 * Characters are echoed; backspace edits the line. */
#include "uart.h"

#define LINE_MAX 24

static char line[LINE_MAX + 1];

static void put_hex(unsigned char v)
{
    static const char digits[] = "0123456789ABCDEF";
    uart_put(digits[v >> 4]);
    uart_put(digits[v & 15]);
}

static void put_number(unsigned int n)
{
    char buf[6];
    unsigned char i = 0;
    do {
        buf[i++] = '0' + n % 10;
        n /= 10;
    } while (n);
    while (i)
        uart_put(buf[--i]);
}

static char starts_with(const char *s, const char *word)
{
    while (*word)
        if (*s++ != *word++)
            return 0;
    return *s == 0 || *s == ' ';
}

static const char *skip_word(const char *s)
{
    while (*s && *s != ' ')
        ++s;
    while (*s == ' ')
        ++s;
    return s;
}

/* Reads a number in base 10 or 16; *ok is cleared when no digit is found. */
static unsigned int parse(const char **s, unsigned char base, char *ok)
{
    unsigned int v = 0;
    char any = 0;
    for (;;) {
        char c = **s;
        unsigned char d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        v = v * base + d;
        any = 1;
        ++*s;
    }
    while (**s == ' ')
        ++*s;
    if (!any)
        *ok = 0;
    return v;
}

static void run_command(void)
{
    const char *args = skip_word(line);
    char ok = 1;
    if (line[0] == 0)
        return;
    if (starts_with(line, "help")) {
        uart_puts("help, version, p1, p1 XX, add N M\r\n");
    } else if (starts_with(line, "version")) {
        uart_puts("commands 1.0\r\n");
    } else if (starts_with(line, "p1")) {
        if (*args) {
            unsigned char v = parse(&args, 16, &ok);
            if (ok)
                P1 = v;
        }
        if (ok) {
            uart_puts("P1=");
            put_hex(P1);
            uart_puts("\r\n");
        }
    } else if (starts_with(line, "add")) {
        unsigned int a = parse(&args, 10, &ok);
        unsigned int b = parse(&args, 10, &ok);
        if (ok) {
            put_number(a + b);
            uart_puts("\r\n");
        }
    } else {
        ok = 0;
    }
    if (!ok)
        uart_puts("?\r\n");
}

void main(void)
{
    unsigned char len = 0;
    uart_init();
    uart_puts("Ready. Type help.\r\n> ");
    for (;;) {
        char c = uart_get();
        if (c == '\r' || c == '\n') {
            uart_puts("\r\n");
            line[len] = 0;
            run_command();
            len = 0;
            uart_puts("> ");
        } else if ((c == 8 || c == 127) && len > 0) {
            --len;
            uart_puts("\b \b");
        } else if (c >= ' ' && len < LINE_MAX) {
            line[len++] = c;
            uart_put(c);
        }
    }
}
