; Programs that keep the timers, the serial port and the interrupt system
; busy, for comparing runs in chunks of any size with single steps.
; Each scenario starts at its own address (0x100, 0x200, ... 0x500); the
; interrupt routines below are shared and count in RAM 0x30-0x38.
        .area CSEG (ABS,CODE)
        .org 0
        ljmp 0x100
        .org 0x03               ; INT0
        inc 0x30
        reti
        .org 0x0B               ; timer 0
        inc 0x31
        reti
        .org 0x13               ; INT1
        inc 0x32
        reti
        .org 0x1B               ; timer 1 (TH0 in timer 0 mode 3)
        inc 0x33
        reti
        .org 0x23               ; serial port
        ljmp serial
        .org 0x2B               ; timer 2
        clr tf2
        inc 0x38
        reti

serial: jnb ri,1$
        clr ri
        mov 0x34,sbuf           ; last byte received
        inc 0x35
1$:     jnb ti,2$
        clr ti
        inc 0x36
        mov sbuf,0x36           ; interrupt-driven transmitter: the next byte
2$:     reti

; A: timer 1 mode 2 as the 9600 baud clock (SMOD 0), a polled transmitter,
; timer 0 mode 1 interrupts at high priority, the program reading TL0/TH0.
        .org 0x100
        mov sp,#0x50
        mov tmod,#0x21
        mov th1,#0xfd
        mov tl1,#0xfd
        mov scon,#0x50
        setb tr1
        mov th0,#0xf0
        setb tr0
        setb pt0
        setb et0
        setb es
        setb ea
        mov r0,#0x41
aLoop:  clr es                  ; the polled transmitter needs the routine off
        mov sbuf,r0
        inc r0
        mov 0x40,tl0
        mov 0x41,th0
aWait:  mov a,tl0
        mov 0x42,a
        jnb ti,aWait
        clr ti
        setb es                 ; received bytes are taken by the routine
        nop
        sjmp aLoop

; B: SMOD 1, transmitter and receiver driven by the serial interrupt at high
; priority, timer 0 mode 2 interrupts every 100 cycles at low priority, at
; times held off by EA for longer than that.
        .org 0x200
        mov sp,#0x50
        mov pcon,#0x80
        mov tmod,#0x22
        mov th1,#0xfd
        mov th0,#0x9c
        mov tl0,#0x9c
        mov scon,#0x50
        setb tr1
        setb tr0
        setb ps
        setb es
        setb et0
        setb ea
        mov sbuf,#0x55
bLoop:  mov 0x40,tl1
        inc 0x43
        clr ea                  ; hold timer 0 off past its next overflow
        mov r5,#90
bSpin:  djnz r5,bSpin
        setb ea
        sjmp bLoop

; C: timer 0 mode 3 (TL0 with TR0 and TF0, TH0 with TR1 and TF1), timer 1
; running without TR1 as the receive clock, timer 2 as the transmit clock.
        .org 0x300
        mov sp,#0x50
        mov tmod,#0x23
        mov th1,#0xfd
        mov rcap2h,#0xff
        mov rcap2l,#0xdc
        mov th2,#0xff
        mov tl2,#0xdc
        mov t2con,#0x14
        mov scon,#0x50
        setb tr0
        setb tr1
        setb et0
        setb et1
        setb ea
        mov r2,#0x30
cLoop:  mov sbuf,r2
        inc r2
cWait:  mov 0x40,th2
        mov 0x41,tl0
        mov 0x42,th0
        jbc ri,cRx
        jnb ti,cWait
        clr ti
        sjmp cLoop
cRx:    mov 0x34,sbuf
        inc 0x35
        sjmp cWait

; D: timer 0 mode 0 gated by INT0 (P3.2, toggled here), timer 2 16-bit
; auto-reload interrupts, serial frames in modes 2 and 0.
        .org 0x400
        mov sp,#0x50
        mov tmod,#0x08
        setb tr0
        setb et0
        mov rcap2h,#0xfe
        mov rcap2l,#0x00
        mov t2con,#0x04
        setb et2
        setb ea
        mov r3,#0
dLoop:  cpl p3.2
        mov scon,#0x80
        mov sbuf,r3
        jnb ti,.
        clr ti
        mov scon,#0x00
        mov sbuf,r3
        jnb ti,.
        clr ti
        mov 0x40,tl0
        mov 0x41,th0
        mov 0x42,tl2
        inc r3
        sjmp dLoop

; E: timer 1 mode 1 at low priority interrupted by timer 0 mode 0 at high
; priority, INT0 requested by the program, timer 1 reloaded and stopped.
        .org 0x500
        mov sp,#0x50
        mov tmod,#0x10
        mov th1,#0xfc
        setb tr1
        setb tr0
        setb pt0
        setb et0
        setb et1
        setb it0
        setb ex0
        setb ea
eLoop:  setb ie0
        mov r4,#200
eSpin:  djnz r4,eSpin
        mov tl1,#0x80           ; counters written while they run
        mov th0,#0xf0
        clr tr1
        mov a,th1
        mov 0x40,a
        setb tr1
        sjmp eLoop
