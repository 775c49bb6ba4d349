/* What a program says about itself to the system: the ABI it was built for, and the command
   and package records that the system's tools (nuvrelos-meta) read without running it. */
#pragma once

/* The version of the program interface (kernel services, start-up, layout) that every program
   carries in its ".note.nuvrelos" ELF note; nuvrelos-run refuses a program built for another. */
#define NUVRELOS_ABI_VERSION 1

#ifndef __ASSEMBLER__

#ifdef __cplusplus
#define NUVRELOS_RECORD_LINKAGE_ extern "C"
#else
#define NUVRELOS_RECORD_LINKAGE_
#endif

/* NUVRELOS_COMMAND("wc", "Count lines, words and bytes.");
   at file scope, once per program: the command record, section .nuvrelos.cmdmeta. Both
   arguments are string literals; the record is "NCMD", version 1, the description, the
   command name and an empty string, each string closed by its NUL. */
#define NUVRELOS_COMMAND(name, description)                                                 \
  NUVRELOS_RECORD_LINKAGE_ __attribute__((section(".nuvrelos.cmdmeta"), aligned(32), used)) \
  const unsigned char g_cmdmeta_0[sizeof("NCMD\1\0\0\0" description "\0" name "\0")] =      \
      "NCMD\1\0\0\0" description "\0" name "\0"

/* NUVRELOS_PACKAGE("wc");
   at file scope, once per program: the package record, section .nuvrelos.pkgmeta: "NPKG",
   version 1, the package name, then "2", the second string every package record carries. */
#define NUVRELOS_PACKAGE(name)                                                             \
  NUVRELOS_RECORD_LINKAGE_ __attribute__((section(".nuvrelos.pkgmeta"), aligned(4), used)) \
  const unsigned char g_pkgmeta_0[sizeof("NPKG\1\0\0\0" name "\0"                          \
                                         "2\0")] = "NPKG\1\0\0\0" name                     \
                                                   "\0"                                    \
                                                   "2\0"

#endif /* __ASSEMBLER__ */
