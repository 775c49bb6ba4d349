/* setjmp(env) and longjmp(env, value), cdecl: env[0..5] = EBX, ESI, EDI, EBP, the caller's ESP
   (just past the return address) and the return address. longjmp makes setjmp return value,
   or 1 for 0. */
        .text
        .globl  setjmp, _setjmp, longjmp, _longjmp
        .type   setjmp, @function
        .type   _setjmp, @function
setjmp:
_setjmp:
        movl    4(%esp), %eax           /* env */
        movl    %ebx, 0(%eax)
        movl    %esi, 4(%eax)
        movl    %edi, 8(%eax)
        movl    %ebp, 12(%eax)
        leal    4(%esp), %ecx           /* the caller's stack after the return */
        movl    %ecx, 16(%eax)
        movl    (%esp), %ecx            /* the return address */
        movl    %ecx, 20(%eax)
        xorl    %eax, %eax
        ret
        .size   setjmp, . - setjmp
        .size   _setjmp, . - _setjmp

        .type   longjmp, @function
        .type   _longjmp, @function
longjmp:
_longjmp:
        movl    4(%esp), %edx           /* env */
        movl    8(%esp), %eax           /* value */
        testl   %eax, %eax
        jnz     1f
        incl    %eax
1:
        movl    0(%edx), %ebx
        movl    4(%edx), %esi
        movl    8(%edx), %edi
        movl    12(%edx), %ebp
        movl    16(%edx), %esp
        jmp     *20(%edx)
        .size   longjmp, . - longjmp
        .size   _longjmp, . - _longjmp

        .section .note.GNU-stack, "", @progbits
