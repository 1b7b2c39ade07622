; Walks the arithmetic, logic, bit and data-moving instructions over many
; operand values, for an instruction-by-instruction comparison with s51.
; Banks are switched only by writing the whole PSW: s51 ignores bit writes to RS0 and RS1.
        .area CSEG (ABS,CODE)
        .org 0
        ljmp start
        .org 0x40
start:  mov sp,#0x60
        mov r7,#0           ; outer operand
outer:  mov r6,#0           ; inner operand
inner:  mov a,r7
        add a,r6            ; CY AC OV of ADD
        mov r0,a
        mov a,r7
        addc a,r6           ; with the carry ADD left
        da a                ; decimal adjust of whatever came out
        mov r1,a
        mov a,r7
        subb a,r6           ; CY AC OV of SUBB
        mov r2,a
        mov a,r7
        mov b,r6
        mul ab
        mov r3,b
        mov a,r7
        mov b,r6
        div ab              ; also B = 0: OV set
        mov r4,a
        mov a,r7
        xrl a,r6
        rlc a
        orl a,r6
        rrc a
        anl a,#0x5a
        swap a
        cpl a
        mov r5,a
        ; bit operations through RAM bit space and SFR bits
        mov 0x20,r7
        mov c,0x03
        anl c,/0x05
        orl c,0x07
        cpl 0x01
        mov 0x02,c
        jbc 0x04,jb1
jb1:    setb 0xd5           ; F0 in PSW
        clr 0xd5
        mov c,0xe7          ; ACC.7
        cpl c
        mov 0xf0,c          ; B.0
        ; bank switch by writing PSW as a byte
        mov a,r7
        anl a,#0x18
        mov psw,a
        mov r0,a
        inc r0
        mov psw,#0
        ; indirect and stack
        mov r0,#0x30
        mov @r0,a
        xchd a,@r0
        xch a,@r0
        inc @r0
        dec @r0
        push 0x30
        pop 0x31
        ; external data memory
        mov dptr,#0x1234
        movx @dptr,a
        inc dptr
        movx a,@dptr
        mov p2,#0x12
        mov r1,#0x34
        movx a,@r1
        cjne a,0x30,ne1
ne1:    cjne r6,#0x80,ne2
ne2:    mov a,r6
        add a,#0x11
        mov r6,a
        jnc inner
        mov a,r7
        add a,#0x07
        mov r7,a
        jnc outer
done:   sjmp done
