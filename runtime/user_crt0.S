/* Process entry: run the program's constructors, hand the kernel's argument count and vector
   to main, then exit with its result. The stack is realigned so main (and every constructor)
   starts on a 16-byte boundary whatever the kernel gave us. */
#include "nuvrelos.h"

        .text
        .globl  _start
        .type   _start, @function
_start:
        movl    (%esp), %esi            /* argument count */
        leal    4(%esp), %edi           /* argument vector */
        andl    $-16, %esp
        /* The linker script gathers .preinit_array and .init_array, in priority order, between
           these two symbols; ESI, EDI and EBX survive the calls. */
        movl    $__init_array_start, %ebx
.ctors:
        cmpl    $__init_array_end, %ebx
        jae     .main
        call    *(%ebx)
        addl    $4, %ebx
        jmp     .ctors
.main:
        subl    $4, %esp                /* 4 + two arguments + return address = 16 bytes */
        pushl   %edi
        pushl   %esi
        call    main
        pushl   %eax
        call    _exit
.hang:
        jmp     .hang
        .size   _start, . - _start

/* Says "a nuvrelos program, interface version N" to the loader (abi/program_records.h). */
        .section NUVRELOS_NOTE_SECTION, "a", @note
        .balign 4
        .long   2f - 1f                 /* name size, with its NUL */
        .long   4                       /* descriptor size */
        .long   NUVRELOS_NOTE_TYPE
1:      .asciz  NUVRELOS_NOTE_NAME
2:      .balign 4
        .long   NUVRELOS_ABI_VERSION

        .section .note.GNU-stack, "", @progbits
