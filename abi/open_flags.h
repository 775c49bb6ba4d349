/* The flags word of the open service, as the program passes it and the kernel reads it. */
#pragma once

#define NUVRELOS_O_RDONLY 0x000
#define NUVRELOS_O_WRONLY 0x001
#define NUVRELOS_O_RDWR 0x002
#define NUVRELOS_O_ACCMODE 0x003
#define NUVRELOS_O_CREAT 0x040
#define NUVRELOS_O_EXCL 0x080
#define NUVRELOS_O_TRUNC 0x200
#define NUVRELOS_O_APPEND 0x400
