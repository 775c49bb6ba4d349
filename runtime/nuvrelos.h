/* What a program says about itself to the system: the ABI it was built for, and the command
   and package records that the system's tools (nuvrelos-meta) read without running it. The
   formats are in abi/program_records.h. */
#pragma once

/* NUVRELOS_ABI_VERSION, the note's and the records' names and formats. */
#include "abi/program_records.h"

#ifndef __ASSEMBLER__

#ifdef __cplusplus
#define NUVRELOS_RECORD_LINKAGE_ extern "C"
#else
#define NUVRELOS_RECORD_LINKAGE_
#endif

/* NUVRELOS_COMMAND("wc", "Count lines, words and bytes.");
   at file scope, once per program: the command record. Both arguments are string literals; the
   record is "NCMD", version 1, the description, the command name and an empty string, each
   string closed by its NUL. */
#define NUVRELOS_COMMAND(name, description)                                                 \
  NUVRELOS_RECORD_LINKAGE_                                                                  \
  __attribute__((section(NUVRELOS_COMMAND_SECTION), aligned(NUVRELOS_COMMAND_ALIGN), used)) \
  const unsigned char g_cmdmeta_0[sizeof(                                                   \
      NUVRELOS_COMMAND_MAGIC NUVRELOS_RECORD_VERSION_BYTES description "\0" name "\0")] =   \
      NUVRELOS_COMMAND_MAGIC NUVRELOS_RECORD_VERSION_BYTES description "\0" name "\0"

/* NUVRELOS_PACKAGE("wc");
   at file scope, once per program: the package record: "NPKG", version 1, the package name,
   then "2", the second string every package record carries. */
#define NUVRELOS_PACKAGE(name)                                                                     \
  NUVRELOS_RECORD_LINKAGE_ __attribute__((section(NUVRELOS_PACKAGE_SECTION),                       \
                                          aligned(NUVRELOS_PACKAGE_ALIGN), used))                  \
  const unsigned char g_pkgmeta_0[sizeof(NUVRELOS_PACKAGE_MAGIC NUVRELOS_RECORD_VERSION_BYTES name \
                                         "\0" NUVRELOS_PACKAGE_SECOND "\0")] =                     \
      NUVRELOS_PACKAGE_MAGIC NUVRELOS_RECORD_VERSION_BYTES name "\0" NUVRELOS_PACKAGE_SECOND "\0"

#endif /* __ASSEMBLER__ */
