// Straight-line functions that fault in the middle of one translated block, each with a label
// on the instruction that faults (`*_here`), so a test can check that a crash names that
// instruction and not another of the block. Called by the tests through the harness.
#include <unistd.h>

extern "C" {
int g_counter = 0;
extern const int g_constant;
const int g_constant = 7;
}

asm(R"(
    .text
    .globl after_prologue, after_prologue_here
# A frame like -O0 code builds before its store through the first argument.
after_prologue:
    push %ebp
    mov %esp, %ebp
    push %ebx
    mov 8(%ebp), %eax
    mov $5, %ecx
after_prologue_here:
    mov %ecx, (%eax)
    pop %ebx
    pop %ebp
    ret

    .globl chase, chase_first_here, chase_second_here
# Two links of a list through one register: the same read of 0 at either link, told apart by
# where the pointer came from.
chase:
    mov 4(%esp), %eax
chase_first_here:
    mov (%eax), %eax
chase_second_here:
    mov (%eax), %eax
    ret

    .globl reload, reload_here
# A field read twice through an unchanged pointer with a store between: the first read faults,
# though the second would fault the same way.
reload:
    mov 4(%esp), %eax
    mov 8(%esp), %edx
reload_here:
    mov (%eax), %ecx
    movl $1, (%edx)
    mov (%eax), %ecx
    ret

    .globl store_twice, store_twice_here
# The same store twice: the first faults.
store_twice:
    mov 4(%esp), %eax
store_twice_here:
    movl $3, (%eax)
    movl $3, (%eax)
    ret

    .globl count_then_store, count_then_store_here
# A counter in memory goes up before the faulting store: the replay must leave it as it was.
count_then_store:
    addl $1, g_counter
    mov 4(%esp), %eax
    push %esi
count_then_store_here:
    movl $2, (%eax)
    pop %esi
    ret

    .globl write_constant, write_constant_here
# A store into read-only data, after a store that succeeds.
write_constant:
    movl $1, g_counter
write_constant_here:
    movl $9, g_constant
    ret
)");

int main() {
  write(1, "call the functions through the harness\n", 39);
  return 0;
}
