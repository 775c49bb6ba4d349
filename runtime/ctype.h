/* Character classes and case of the "C" locale: bytes 0 to 127 are ASCII, 128 to 255 belong to
   no class. The argument is EOF or a value of unsigned char; any other value belongs to no
   class, and the case functions return it unchanged. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

int isalnum(int c);
int isalpha(int c);
int isblank(int c);
int iscntrl(int c);
int isdigit(int c);
int isgraph(int c);
int islower(int c);
int isprint(int c);
int ispunct(int c);
int isspace(int c);
int isupper(int c);
int isxdigit(int c);
int tolower(int c);
int toupper(int c);
/* POSIX's: whether c is a 7-bit value, and c reduced to one. */
int isascii(int c);
int toascii(int c);

#ifdef __cplusplus
}
#endif
