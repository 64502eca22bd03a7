#pragma once

#include <cstddef>

/// Control bytes that a reader of the log would act on, or take for
/// something else than text, and their visible form. The log shows such a
/// byte in caret notation: '^' followed by the byte with bit 6 flipped, so
/// ESC is "^[", SO is "^N" and DEL is "^?". A server's bytes then cannot move
/// the operator's cursor, rewrite earlier lines, set the window title, write
/// the clipboard or switch the terminal's character set: they only show that
/// they came.

/// The length of the caret notation.
inline constexpr std::size_t kCaretNotationSize = 2;

/// True for the bytes a terminal acts on: ESC and the other C0 control bytes
/// and DEL. BEL, BS, TAB, LF and CR do what a log line expects (at worst a
/// beep or a character drawn over) and stay as they are.
bool TerminalActsOn(unsigned char byte);

/// True for the bytes the journal takes for binary data (which journalctl
/// then hides, and shows raw with --all): every C0 control byte but TAB and
/// LF, and DEL. A CR is here too; the journal's own line end, CR LF, is made
/// LF by the caller before a CR is looked at.
bool JournalTakesAsBinary(unsigned char byte);

/// Writes the caret notation of `byte` to `out[0..1]`.
void CaretNotation(unsigned char byte, char out[kCaretNotationSize]);
