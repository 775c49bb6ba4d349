// Runs one instruction a user program may not run, or one it may, picked by the first
// argument, between "before" and "after" on standard output: a program the processor refuses
// ends after "before" with the fault a native process would get.
#include <string.h>
#include <unistd.h>

namespace {

struct Attempt {
  const char *name;
  void (*run)();
};

#define ATTEMPT(name, text)                                                                    \
  {                                                                                            \
    name, [] { __asm__ volatile(text ::: "eax", "ecx", "edx", "esi", "edi", "memory", "cc"); } \
  }

// Selectors: 0x73 and 0x7b are the program's own code and data; everything else (0x08 as a
// kernel would have it, 0x33 as a 64-bit code segment, 0x80 past the table) was never given.
const Attempt kAttempts[] = {
    // Control and debug registers.
    ATTEMPT("mov-to-cr0", "mov %%cr0, %%eax\n mov %%eax, %%cr0"),
    ATTEMPT("mov-from-cr0", "mov %%cr0, %%eax"),
    ATTEMPT("mov-to-cr3", "xor %%eax, %%eax\n mov %%eax, %%cr3"),
    ATTEMPT("mov-from-cr3", "mov %%cr3, %%eax"),
    ATTEMPT("mov-to-cr4", "mov $0x200, %%eax\n mov %%eax, %%cr4"),
    ATTEMPT("mov-from-cr4", "mov %%cr4, %%eax"),
    ATTEMPT("mov-to-dr7", "mov $1, %%eax\n mov %%eax, %%dr7"),
    ATTEMPT("mov-to-dr0", "mov %%esp, %%eax\n mov %%eax, %%dr0"),
    ATTEMPT("mov-from-dr6", "mov %%dr6, %%eax"),
    // Descriptor tables, the task register, the machine status word, caches and the TLB.
    ATTEMPT("lgdt", "lgdt (%%esp)"),
    ATTEMPT("lidt", "lidt (%%esp)"),
    ATTEMPT("lldt", "mov $0x8, %%eax\n lldt %%ax"),
    ATTEMPT("ltr", "mov $0x8, %%eax\n ltr %%ax"),
    ATTEMPT("lmsw", "mov $1, %%eax\n lmsw %%ax"),
    ATTEMPT("clts", "clts"),
    ATTEMPT("invd", "invd"),
    ATTEMPT("wbinvd", "wbinvd"),
    ATTEMPT("invlpg", "invlpg (%%esp)"),
    // Halting, interrupts, ports and model-specific registers.
    ATTEMPT("hlt", "hlt"),
    ATTEMPT("cli", "cli"),
    ATTEMPT("sti", "sti"),
    ATTEMPT("in", "mov $0x3f8, %%edx\n in %%dx, %%al"),
    ATTEMPT("out", "mov $0x80, %%eax\n out %%al, $0x80"),
    ATTEMPT("insb", "mov $0x3f8, %%edx\n lea -64(%%esp), %%edi\n insb"),
    ATTEMPT("outsb", "mov $0x3f8, %%edx\n mov %%esp, %%esi\n outsb"),
    ATTEMPT("rdmsr", "mov $0x10, %%ecx\n rdmsr"),
    ATTEMPT("wrmsr", "mov $0x174, %%ecx\n xor %%eax, %%eax\n xor %%edx, %%edx\n wrmsr"),
    ATTEMPT("rdpmc", "xor %%ecx, %%ecx\n rdpmc"),
    // Fast system calls: none is set up; int 0x80 is the way in.
    ATTEMPT("sysenter", "sysenter"),
    ATTEMPT("sysexit", "sysexit"),
    ATTEMPT("syscall", "syscall"),
    ATTEMPT("sysret", "sysret"),
    // Far transfers to segments the program was not given.
    ATTEMPT("ljmp-kernel-code", "ljmp $0x08, $1f\n 1:"),
    ATTEMPT("ljmp-64-bit-code", "ljmp $0x33, $1f\n 1:"),
    ATTEMPT("ljmp-16-bit", ".byte 0x66, 0xea, 0x10, 0x00, 0x08, 0x00"),
    ATTEMPT("ljmp-task", "ljmp $0x80, $0"),
    ATTEMPT("lcall-gate", "lcall $0x43, $0"),
    ATTEMPT("lret-kernel", "pushl $0x08\n pushl $1f\n lret\n 1:"),
    ATTEMPT("iret-kernel", "pushfl\n pushl $0x08\n pushl $1f\n iret\n 1:"),
    ATTEMPT("iret-vm86",
            "pushl $0\n pushl $0\n pushl $0\n pushl $0\n pushl $0x23\n"
            " pushl $0x1000\n pushl $0x20202\n pushl $0\n pushl $0x100\n iret"),
    ATTEMPT("mov-ss-kernel", "mov $0x10, %%eax\n mov %%eax, %%ss"),
    ATTEMPT("mov-ss-null", "xor %%eax, %%eax\n mov %%eax, %%ss"),
    ATTEMPT("mov-ds-kernel", "mov $0x08, %%eax\n mov %%eax, %%ds"),
    ATTEMPT("lds-unknown", "pushl $0x80\n pushl $0\n lds (%%esp), %%eax"),
    // Instructions this processor does not have outside system management or without XSAVE.
    ATTEMPT("rsm", "rsm"),
    ATTEMPT("xsetbv", "xor %%ecx, %%ecx\n mov $3, %%eax\n xor %%edx, %%edx\n xsetbv"),
    // Traps a user program may raise.
    ATTEMPT("trap-flag", "pushl $0x302\n popfl\n nop\n nop"),
    ATTEMPT("int3", "int3"),
    ATTEMPT("int-0x81", "int $0x81"),
    // What a user program may do: the time-stamp counter (the random generator seeds from
    // it), its own segments, and flags it may not change are left unchanged, not refused.
    ATTEMPT("rdtsc", "rdtsc"),
    ATTEMPT("cpuid", "xor %%eax, %%eax\n push %%ebx\n cpuid\n pop %%ebx"),
    ATTEMPT("reload-own-segments", "push %%ss\n pop %%ds\n push %%ds\n pop %%es"),
    ATTEMPT("ljmp-own-code", "ljmp $0x73, $1f\n 1:"),
    ATTEMPT("lret-own-code", "push %%cs\n pushl $1f\n lret\n 1:"),
    ATTEMPT("iret-own-code", "pushfl\n push %%cs\n pushl $1f\n iret\n 1:"),
    ATTEMPT("popf-vm-iopl-if", "pushfl\n pushl $0x23202\n popfl\n popfl"),
    ATTEMPT("fxsave-fxrstor",
            "mov %%esp, %%ecx\n sub $1024, %%esp\n and $-16, %%esp\n fxsave (%%esp)\n"
            " fxrstor (%%esp)\n mov %%ecx, %%esp"),
};

void say(const char *text) { write(1, text, strlen(text)); }

}  // namespace

int main(int argc, char **argv) {
  const char *name = argc > 1 ? argv[1] : "";
  for (const Attempt &a : kAttempts) {
    if (strcmp(a.name, name) != 0) continue;
    say("before\n");
    a.run();
    say("after\n");
    return 0;
  }
  say("no such attempt\n");
  return 99;
}
