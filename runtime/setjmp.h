/* Non-local jumps on the i386: setjmp keeps the registers a function must preserve (EBX, ESI,
   EDI, EBP), the stack pointer and the return address; longjmp returns through them. There are
   no signals, so the sig forms keep no mask. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long jmp_buf[6];
typedef jmp_buf sigjmp_buf;

int setjmp(jmp_buf env) __attribute__((returns_twice));
void longjmp(jmp_buf env, int value) __attribute__((noreturn));
int _setjmp(jmp_buf env) __attribute__((returns_twice));
void _longjmp(jmp_buf env, int value) __attribute__((noreturn));
#define sigsetjmp(env, savemask) setjmp(env)
#define siglongjmp(env, value) longjmp(env, value)

#ifdef __cplusplus
}
#endif
