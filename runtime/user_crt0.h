/* Process entry. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Entered by the kernel with the argument count and vector on the stack; never returns. */
void _start(void);

/* Provided by the program; its result becomes the exit status. */
int main(int argc, char **argv);

#ifdef __cplusplus
}
#endif
