/* Video BIOS of the simulated computers: an option ROM at C000:0000 whose
 * int 10h handler answers VBE DDC (AX=4F15h) from tables that the generator
 * appends at `data'. Assembled as a flat 16-bit image at offset 0.
 *
 * data + 0        mode: 0 answer, 1 never return
 * data + 1..6     per port 0-5: 1 when the port has an EDID
 * data + 16 + 128 * port   the port's EDID block
 */
        .code16
        .text
        .globl  _start
_start:
        .byte   0x55, 0xAA
        .byte   0               /* size in 512-byte blocks, set by the generator */
        .byte   0xE9            /* jmp near init */
        .word   init - 1f
1:
        .org    0x1E
        .ascii  "IBM"
        .org    0x24
        .ascii  "ORVA-SIM"
handler_offset:                 /* read by the generator */
        .word   int10
data_offset:
        .word   data

/* Initialisation entry (far call at C000:0003): installs the int 10h vector. */
init:
        push    %ds
        push    %ax
        xor     %ax, %ax
        mov     %ax, %ds
        movw    $int10, 0x40
        movw    %cs, 0x42
        pop     %ax
        pop     %ds
        lret

int10:
        cmp     $0x4F15, %ax
        jne     unsupported
        cmpb    $0, %cs:data
        jne     hang
        cmp     $1, %bl
        ja      failed
        cmp     $6, %cx
        jae     failed
        push    %si
        mov     %cx, %si
        cmpb    $0, %cs:data+1(%si)
        pop     %si
        je      failed
        cmp     $0, %bl
        jne     read_edid
        mov     $0x0102, %bx    /* DDC2 supported; about one second per block */
        mov     $0x004F, %ax
        iret

read_edid:
        test    %dx, %dx        /* block 0 only */
        jnz     failed
        push    %ds
        push    %si
        push    %di
        push    %cx
        push    %cs
        pop     %ds
        mov     %cx, %si
        shl     $7, %si
        add     $data+16, %si
        mov     $64, %cx
        cld
        rep movsw
        pop     %cx
        pop     %di
        pop     %si
        pop     %ds
        mov     $0x004F, %ax
        iret

failed:
        mov     $0x014F, %ax
        iret

unsupported:
        iret

hang:                           /* a handler that never returns */
        inc     %ax
        jmp     hang

        .balign 16
data:
