/* A minimal Linux i386 start-up for the kernels: main(argc, argv), then exit; standard output
   and the empty write as bare system calls (int 0x80, Linux numbering). */
        .text
        .globl  _start
        .type   _start, @function
_start:
        movl    (%esp), %eax            /* argument count */
        leal    4(%esp), %ecx           /* argument vector */
        andl    $-16, %esp
        subl    $4, %esp
        pushl   %ecx
        pushl   %eax
        call    main
        movl    %eax, %ebx
        movl    $252, %eax              /* exit_group */
        int     $0x80
        hlt
        .size   _start, . - _start

/* void bench_out(const char *text, size_t length) */
        .globl  bench_out
        .type   bench_out, @function
bench_out:
        pushl   %ebx
        movl    $4, %eax                /* write */
        movl    $1, %ebx
        movl    8(%esp), %ecx
        movl    12(%esp), %edx
        int     $0x80
        popl    %ebx
        ret
        .size   bench_out, . - bench_out

/* int bench_kernel_call(void) */
        .globl  bench_kernel_call
        .type   bench_kernel_call, @function
bench_kernel_call:
        pushl   %ebx
        movl    $4, %eax                /* write */
        movl    $1, %ebx
        movl    $empty, %ecx
        xorl    %edx, %edx
        int     $0x80
        popl    %ebx
        ret
        .size   bench_kernel_call, . - bench_kernel_call

        .section .rodata
empty:  .byte   0
        .section .note.GNU-stack, "", @progbits
