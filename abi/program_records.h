/*
 * What a program carries for the system's tools to read without running it: the ABI note that
 * says which interface it was built for, and the command and package records.
 *
 * The records share one layout: a 4-byte magic, a little-endian 32-bit version, then
 * NUL-terminated strings closed by an empty one, whose NUL is the section's last byte.
 *   command record, section NUVRELOS_COMMAND_SECTION: "NCMD", the description, the name
 *   package record, section NUVRELOS_PACKAGE_SECTION: "NPKG", the package name, then "2"
 */
#pragma once

/* The version of the program interface (kernel services, start-up, layout) that every program
   carries in its ".note.nuvrelos" ELF note; nuvrelos-run refuses a program built for another. */
#define NUVRELOS_ABI_VERSION 1

/* The note: owner name "nuvrelos", type 1, one 32-bit word holding NUVRELOS_ABI_VERSION. */
#define NUVRELOS_NOTE_SECTION ".note.nuvrelos"
#define NUVRELOS_NOTE_NAME "nuvrelos"
#define NUVRELOS_NOTE_TYPE 1

#define NUVRELOS_RECORD_VERSION 1
/* The version as the record stores it, for records built from string literals. */
#define NUVRELOS_RECORD_VERSION_BYTES "\1\0\0\0"

#define NUVRELOS_COMMAND_SECTION ".nuvrelos.cmdmeta"
#define NUVRELOS_COMMAND_MAGIC "NCMD"
#define NUVRELOS_COMMAND_ALIGN 32
#define NUVRELOS_COMMAND_STRINGS 2 /* the description, the command name */

#define NUVRELOS_PACKAGE_SECTION ".nuvrelos.pkgmeta"
#define NUVRELOS_PACKAGE_MAGIC "NPKG"
#define NUVRELOS_PACKAGE_ALIGN 4
#define NUVRELOS_PACKAGE_STRINGS 2 /* the package name, NUVRELOS_PACKAGE_SECOND */
#define NUVRELOS_PACKAGE_SECOND "2"
