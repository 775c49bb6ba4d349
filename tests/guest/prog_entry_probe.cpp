// main as the kernel's entry code leaves it. Its exit status packs three things: bits 0-3 the
// stack pointer mod 16 at main, bits 4-5 the argument count (below 4), bits 6-7 the argument
// vector's address mod 16 divided by 4, which tells where the kernel put the initial stack.
__asm__(
    "  .text\n"
    "  .globl main\n"
    "  .type main, @function\n"
    "main:\n"
    "  movl %esp, %eax\n"
    "  andl $15, %eax\n"
    "  movl 4(%esp), %ecx\n"
    "  shll $4, %ecx\n"
    "  addl %ecx, %eax\n"
    "  movl 8(%esp), %ecx\n"
    "  andl $12, %ecx\n"
    "  shll $4, %ecx\n"
    "  addl %ecx, %eax\n"
    "  ret\n"
    "  .size main, . - main\n");
