/* Process entry: hand the kernel's argument count and vector to main, then exit with its
   result. The stack is realigned so main starts on a 16-byte boundary whatever the kernel
   gave us. */
        .text
        .globl  _start
        .type   _start, @function
_start:
        movl    (%esp), %eax            /* argument count */
        leal    4(%esp), %ecx           /* argument vector */
        andl    $-16, %esp
        subl    $4, %esp                /* 4 + two arguments + return address = 16 bytes */
        pushl   %ecx
        pushl   %eax
        call    main
        pushl   %eax
        call    _exit
.hang:
        jmp     .hang
        .size   _start, . - _start
        .section .note.GNU-stack, "", @progbits
