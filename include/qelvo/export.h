/// @file
/// QELVO_EXPORT marks the public API: the classes and functions that a shared build of
/// the library exports. Everything else is compiled with hidden visibility, so the
/// shared library's symbol table is exactly the interface of these headers and the
/// library's insides can change without breaking a host that links it.
///
/// Exported classes carry their type information and virtual tables with them, so a
/// host catches the library's errors (`catch (const qelvo::SyncError&)`) and derives
/// from its managers across the library's boundary. A static build ignores the marks.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define QELVO_EXPORT __attribute__((visibility("default")))
#else
#define QELVO_EXPORT
#endif
