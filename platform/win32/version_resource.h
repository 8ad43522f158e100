// The file version of a program's version resource, four numbers given by its build
// (SORVEL_VERSION, e.g. 1,0,1,1), and its text "1.0.1.1" made from them. For .rc files.
#ifndef SORVEL_VERSION_RESOURCE_H
#define SORVEL_VERSION_RESOURCE_H

#ifndef SORVEL_VERSION
#error "the build gives the program its version (sorvel_program_version)"
#endif
#define SORVEL_DOTS(a, b, c, d) a.b.c.d
#define SORVEL_DOTTED(version) SORVEL_DOTS(version)
#define SORVEL_QUOTE(text) #text
#define SORVEL_STRING(text) SORVEL_QUOTE(text)
#define SORVEL_VERSION_TEXT SORVEL_STRING(SORVEL_DOTTED(SORVEL_VERSION))

#endif  // SORVEL_VERSION_RESOURCE_H
