// Code page 437, the character set release notes are drawn in: every one of the 256 bytes as
// the glyph it shows on screen, the controls 0x01-0x1F and 0x7F included (a smiley, card suits,
// arrows, a house).
#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace zelv::cp437 {

// The glyph of one byte. 0x00 shows as a blank.
char16_t glyph(unsigned char byte);

// Every byte as its glyph, line ends included.
QString decode(QByteArrayView bytes);

// Release-note text as the program shows it: a line feed becomes a carriage return and a line
// feed, a carriage return on its own is dropped, every other byte is its glyph. Bare line feeds
// and CRLF pairs thus give the same text.
QString decodeNotes(QByteArrayView bytes);

// The byte that shows a glyph, for text going back to code page 437; nothing for a character
// the code page does not have.
std::optional<unsigned char> encode(char16_t glyph);

} // namespace zelv::cp437
