// The module is built with hidden visibility; this mark makes a name part of its interface.
// Only the names a host reaches from outside carry it (test/elf/exports.txt lists them).
#ifndef KAVORI_UTIL_KAVORI_EXPORT_H
#define KAVORI_UTIL_KAVORI_EXPORT_H

#define KAVORI_EXPORT __attribute__((visibility("default")))

#endif
