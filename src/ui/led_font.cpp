// The LED display's lettering: capitals, digits and punctuation for the
// characters 0x20 (space) to 0x5F ('_'), each on a 7 x 7 grid, row by row
// from the top. X is a lit dot; o a dark one, so the shapes read in place.
#include "ui/led_display.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kuv {
namespace {

constexpr uint8_t o = 0;
constexpr uint8_t X = 1;

}  // namespace

const uint8_t LedFont[64][7][7] = {
    {{o, o, o, o, o, o, o},  // 0x20 space
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o}},
    {{o, o, o, X, o, o, o},  // 0x21 '!'
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, X, o, o, o}},
    {{o, o, X, o, X, o, o},  // 0x22 quotation mark
     {o, o, X, o, X, o, o},
     {o, o, X, o, X, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o}},
    {{o, o, X, o, X, o, o},  // 0x23 '#'
     {o, o, X, o, X, o, o},
     {X, X, X, X, X, X, X},
     {o, o, X, o, X, o, o},
     {X, X, X, X, X, X, X},
     {o, o, X, o, X, o, o},
     {o, o, X, o, X, o, o}},
    {{o, o, o, X, o, o, o},  // 0x24 '$'
     {o, X, X, X, X, X, o},
     {X, o, o, X, o, o, o},
     {o, X, X, X, X, X, o},
     {o, o, o, X, o, o, X},
     {o, X, X, X, X, X, o},
     {o, o, o, X, o, o, o}},
    {{X, X, o, o, o, o, X},  // 0x25 '%'
     {X, X, o, o, o, X, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o},
     {o, X, o, o, o, X, X},
     {X, o, o, o, o, X, X}},
    {{o, X, X, o, o, o, o},  // 0x26 '&'
     {X, o, o, X, o, o, o},
     {o, X, X, o, o, o, o},
     {o, X, X, o, o, o, X},
     {X, o, o, X, o, X, o},
     {X, o, o, o, X, o, o},
     {o, X, X, X, o, X, o}},
    {{o, o, o, X, o, o, o},  // 0x27 apostrophe
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o}},
    {{o, o, o, o, X, o, o},  // 0x28 '('
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, o, X, o, o}},
    {{o, o, X, o, o, o, o},  // 0x29 ')'
     {o, o, o, X, o, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o}},
    {{o, o, o, o, o, o, o},  // 0x2A '*'
     {o, X, o, X, o, X, o},
     {o, o, X, X, X, o, o},
     {X, X, X, X, X, X, X},
     {o, o, X, X, X, o, o},
     {o, X, o, X, o, X, o},
     {o, o, o, o, o, o, o}},
    {{o, o, o, o, o, o, o},  // 0x2B '+'
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, X, X, X, X, X, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, o, o, o, o}},
    {{o, o, o, o, o, o, o},  // 0x2C ','
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, X, X, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o}},
    {{o, o, o, o, o, o, o},  // 0x2D '-'
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, X, X, X, X, X, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o}},
    {{o, o, o, o, o, o, o},  // 0x2E '.'
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, X, X, o, o},
     {o, o, o, X, X, o, o}},
    {{o, o, o, o, o, o, X},  // 0x2F '/'
     {o, o, o, o, o, X, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o},
     {o, X, o, o, o, o, o},
     {X, o, o, o, o, o, o}},
    {{o, o, X, X, X, o, o},  // 0x30 '0'
     {o, X, o, o, o, X, o},
     {o, X, o, o, X, X, o},
     {o, X, o, X, o, X, o},
     {o, X, X, o, o, X, o},
     {o, X, o, o, o, X, o},
     {o, o, X, X, X, o, o}},
    {{o, o, o, X, o, o, o},  // 0x31 '1'
     {o, o, X, X, o, o, o},
     {o, X, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, X, X, X, X, X, o}},
    {{o, o, X, X, X, o, o},  // 0x32 '2'
     {o, X, o, o, o, X, o},
     {o, o, o, o, o, X, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o},
     {o, X, X, X, X, X, o}},
    {{o, o, X, X, X, o, o},  // 0x33 '3'
     {o, X, o, o, o, X, o},
     {o, o, o, o, o, X, o},
     {o, o, o, X, X, o, o},
     {o, o, o, o, o, X, o},
     {o, X, o, o, o, X, o},
     {o, o, X, X, X, o, o}},
    {{o, o, o, o, X, o, o},  // 0x34 '4'
     {o, o, o, X, X, o, o},
     {o, o, X, o, X, o, o},
     {o, X, o, o, X, o, o},
     {o, X, X, X, X, X, o},
     {o, o, o, o, X, o, o},
     {o, o, o, o, X, o, o}},
    {{o, X, X, X, X, X, o},  // 0x35 '5'
     {o, X, o, o, o, o, o},
     {o, X, X, X, X, o, o},
     {o, o, o, o, o, X, o},
     {o, o, o, o, o, X, o},
     {o, X, o, o, o, X, o},
     {o, o, X, X, X, o, o}},
    {{o, o, X, X, X, o, o},  // 0x36 '6'
     {o, X, o, o, o, o, o},
     {o, X, o, o, o, o, o},
     {o, X, X, X, X, o, o},
     {o, X, o, o, o, X, o},
     {o, X, o, o, o, X, o},
     {o, o, X, X, X, o, o}},
    {{o, X, X, X, X, X, o},  // 0x37 '7'
     {o, o, o, o, o, X, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o}},
    {{o, o, X, X, X, o, o},  // 0x38 '8'
     {o, X, o, o, o, X, o},
     {o, X, o, o, o, X, o},
     {o, o, X, X, X, o, o},
     {o, X, o, o, o, X, o},
     {o, X, o, o, o, X, o},
     {o, o, X, X, X, o, o}},
    {{o, o, X, X, X, o, o},  // 0x39 '9'
     {o, X, o, o, o, X, o},
     {o, X, o, o, o, X, o},
     {o, o, X, X, X, X, o},
     {o, o, o, o, o, X, o},
     {o, o, o, o, o, X, o},
     {o, o, X, X, X, o, o}},
    {{o, o, o, o, o, o, o},  // 0x3A ':'
     {o, o, o, o, o, o, o},
     {o, o, o, X, X, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, X, X, o, o},
     {o, o, o, o, o, o, o}},
    {{o, o, o, o, o, o, o},  // 0x3B ';'
     {o, o, o, o, o, o, o},
     {o, o, o, X, X, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, X, X, o, o},
     {o, o, o, X, o, o, o}},
    {{o, o, o, o, X, o, o},  // 0x3C '<'
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o},
     {o, X, o, o, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, o, X, o, o}},
    {{o, o, o, o, o, o, o},  // 0x3D '='
     {o, o, o, o, o, o, o},
     {o, X, X, X, X, X, o},
     {o, o, o, o, o, o, o},
     {o, X, X, X, X, X, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o}},
    {{o, o, X, o, o, o, o},  // 0x3E '>'
     {o, o, o, X, o, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, o, o, X, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o}},
    {{o, o, X, X, X, o, o},  // 0x3F '?'
     {o, X, o, o, o, X, o},
     {o, o, o, o, o, X, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, X, o, o, o}},
    {{o, o, X, X, X, o, o},  // 0x40 '@'
     {o, X, o, o, o, X, o},
     {o, X, o, X, X, X, o},
     {o, X, o, X, o, X, o},
     {o, X, o, X, X, X, o},
     {o, X, o, o, o, o, o},
     {o, o, X, X, X, X, o}},
    {{o, o, X, X, X, o, o},  // 0x41 'A'
     {o, X, o, o, o, X, o},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, X, X, X, X, X, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X}},
    {{X, X, X, X, X, X, o},  // 0x42 'B'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, X, X, X, X, X, o},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, X, X, X, X, X, o}},
    {{o, X, X, X, X, X, o},  // 0x43 'C'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, X},
     {o, X, X, X, X, X, o}},
    {{X, X, X, X, X, o, o},  // 0x44 'D'
     {X, o, o, o, o, X, o},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, X, o},
     {X, X, X, X, X, o, o}},
    {{X, X, X, X, X, X, X},  // 0x45 'E'
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, X, X, X, X, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, X, X, X, X, X, X}},
    {{X, X, X, X, X, X, X},  // 0x46 'F'
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, X, X, X, X, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o}},
    {{o, X, X, X, X, X, o},  // 0x47 'G'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, o},
     {X, o, o, X, X, X, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {o, X, X, X, X, X, o}},
    {{X, o, o, o, o, o, X},  // 0x48 'H'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, X, X, X, X, X, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X}},
    {{o, X, X, X, X, X, o},  // 0x49 'I'
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, X, X, X, X, X, o}},
    {{o, o, X, X, X, X, X},  // 0x4A 'J'
     {o, o, o, o, o, X, o},
     {o, o, o, o, o, X, o},
     {o, o, o, o, o, X, o},
     {o, o, o, o, o, X, o},
     {X, o, o, o, o, X, o},
     {o, X, X, X, X, o, o}},
    {{X, o, o, o, o, X, o},  // 0x4B 'K'
     {X, o, o, o, X, o, o},
     {X, o, o, X, o, o, o},
     {X, X, X, o, o, o, o},
     {X, o, o, X, o, o, o},
     {X, o, o, o, X, o, o},
     {X, o, o, o, o, X, o}},
    {{X, o, o, o, o, o, o},  // 0x4C 'L'
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, X, X, X, X, X, X}},
    {{X, o, o, o, o, o, X},  // 0x4D 'M'
     {X, X, o, o, o, X, X},
     {X, o, X, o, X, o, X},
     {X, o, o, X, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X}},
    {{X, o, o, o, o, o, X},  // 0x4E 'N'
     {X, X, o, o, o, o, X},
     {X, o, X, o, o, o, X},
     {X, o, o, X, o, o, X},
     {X, o, o, o, X, o, X},
     {X, o, o, o, o, X, X},
     {X, o, o, o, o, o, X}},
    {{o, X, X, X, X, X, o},  // 0x4F 'O'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {o, X, X, X, X, X, o}},
    {{X, X, X, X, X, X, o},  // 0x50 'P'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, X, X, X, X, X, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o},
     {X, o, o, o, o, o, o}},
    {{o, X, X, X, X, X, o},  // 0x51 'Q'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, X, o, X},
     {X, o, o, o, o, X, o},
     {o, X, X, X, X, o, X}},
    {{X, X, X, X, X, X, o},  // 0x52 'R'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, X, X, X, X, X, o},
     {X, o, o, o, X, o, o},
     {X, o, o, o, o, X, o},
     {X, o, o, o, o, o, X}},
    {{o, X, X, X, X, X, o},  // 0x53 'S'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, o},
     {o, X, X, X, X, X, o},
     {o, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {o, X, X, X, X, X, o}},
    {{X, X, X, X, X, X, X},  // 0x54 'T'
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o}},
    {{X, o, o, o, o, o, X},  // 0x55 'U'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {o, X, X, X, X, X, o}},
    {{X, o, o, o, o, o, X},  // 0x56 'V'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {o, X, o, o, o, X, o},
     {o, X, o, o, o, X, o},
     {o, o, X, o, X, o, o},
     {o, o, o, X, o, o, o}},
    {{X, o, o, o, o, o, X},  // 0x57 'W'
     {X, o, o, o, o, o, X},
     {X, o, o, o, o, o, X},
     {X, o, o, X, o, o, X},
     {X, o, X, o, X, o, X},
     {X, X, o, o, o, X, X},
     {X, o, o, o, o, o, X}},
    {{X, o, o, o, o, o, X},  // 0x58 'X'
     {o, X, o, o, o, X, o},
     {o, o, X, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, X, o, X, o, o},
     {o, X, o, o, o, X, o},
     {X, o, o, o, o, o, X}},
    {{X, o, o, o, o, o, X},  // 0x59 'Y'
     {o, X, o, o, o, X, o},
     {o, o, X, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, X, o, o, o}},
    {{X, X, X, X, X, X, X},  // 0x5A 'Z'
     {o, o, o, o, o, X, o},
     {o, o, o, o, X, o, o},
     {o, o, o, X, o, o, o},
     {o, o, X, o, o, o, o},
     {o, X, o, o, o, o, o},
     {X, X, X, X, X, X, X}},
    {{o, o, X, X, X, o, o},  // 0x5B '['
     {o, o, X, o, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, X, X, X, o, o}},
    {{X, o, o, o, o, o, o},  // 0x5C backslash
     {o, X, o, o, o, o, o},
     {o, o, X, o, o, o, o},
     {o, o, o, X, o, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, o, o, X, o},
     {o, o, o, o, o, o, X}},
    {{o, o, X, X, X, o, o},  // 0x5D ']'
     {o, o, o, o, X, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, o, X, o, o},
     {o, o, o, o, X, o, o},
     {o, o, X, X, X, o, o}},
    {{o, o, o, X, o, o, o},  // 0x5E '^'
     {o, o, X, o, X, o, o},
     {o, X, o, o, o, X, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o}},
    {{o, o, o, o, o, o, o},  // 0x5F '_'
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {o, o, o, o, o, o, o},
     {X, X, X, X, X, X, X}},
};

}  // namespace kuv

// --- Folding names onto the font ------------------------------------------------

namespace kuv {
namespace {

// Code point ranges and the font characters each of their characters becomes;
// sorted, not overlapping. Anything outside them and outside ASCII is blank.
struct FoldRange {
  uint16_t first, last;
  const char* fold;
};

constexpr FoldRange kFolds[] = {
    // Latin-1 Supplement.
    {0x00A0, 0x00A0, " "}, {0x00A1, 0x00A1, "!"}, {0x00A2, 0x00A2, "C"}, {0x00A3, 0x00A3, "L"},
    {0x00A5, 0x00A5, "Y"}, {0x00A9, 0x00A9, "(C)"}, {0x00AA, 0x00AA, "A"}, {0x00AB, 0x00AB, "<<"},
    {0x00AC, 0x00AD, "-"}, {0x00AE, 0x00AE, "(R)"}, {0x00B1, 0x00B1, "+-"}, {0x00B2, 0x00B2, "2"},
    {0x00B3, 0x00B3, "3"}, {0x00B4, 0x00B4, "'"}, {0x00B5, 0x00B5, "U"}, {0x00B7, 0x00B7, "."},
    {0x00B8, 0x00B8, ","}, {0x00B9, 0x00B9, "1"}, {0x00BA, 0x00BA, "O"}, {0x00BB, 0x00BB, ">>"},
    {0x00BC, 0x00BC, "1/4"}, {0x00BD, 0x00BD, "1/2"}, {0x00BE, 0x00BE, "3/4"}, {0x00BF, 0x00BF, "?"},
    {0x00C0, 0x00C5, "A"}, {0x00C6, 0x00C6, "AE"}, {0x00C7, 0x00C7, "C"}, {0x00C8, 0x00CB, "E"},
    {0x00CC, 0x00CF, "I"}, {0x00D0, 0x00D0, "D"}, {0x00D1, 0x00D1, "N"}, {0x00D2, 0x00D6, "O"},
    {0x00D7, 0x00D7, "X"}, {0x00D8, 0x00D8, "O"}, {0x00D9, 0x00DC, "U"}, {0x00DD, 0x00DD, "Y"},
    {0x00DE, 0x00DE, "TH"}, {0x00DF, 0x00DF, "SS"}, {0x00E0, 0x00E5, "A"}, {0x00E6, 0x00E6, "AE"},
    {0x00E7, 0x00E7, "C"}, {0x00E8, 0x00EB, "E"}, {0x00EC, 0x00EF, "I"}, {0x00F0, 0x00F0, "D"},
    {0x00F1, 0x00F1, "N"}, {0x00F2, 0x00F6, "O"}, {0x00F7, 0x00F7, "/"}, {0x00F8, 0x00F8, "O"},
    {0x00F9, 0x00FC, "U"}, {0x00FD, 0x00FD, "Y"}, {0x00FE, 0x00FE, "TH"}, {0x00FF, 0x00FF, "Y"},
    // Latin Extended-A.
    {0x0100, 0x0105, "A"}, {0x0106, 0x010D, "C"}, {0x010E, 0x0111, "D"}, {0x0112, 0x011B, "E"},
    {0x011C, 0x0123, "G"}, {0x0124, 0x0127, "H"}, {0x0128, 0x0131, "I"}, {0x0132, 0x0133, "IJ"},
    {0x0134, 0x0135, "J"}, {0x0136, 0x0138, "K"}, {0x0139, 0x0142, "L"}, {0x0143, 0x0148, "N"},
    {0x0149, 0x0149, "'N"}, {0x014A, 0x014B, "N"}, {0x014C, 0x0151, "O"}, {0x0152, 0x0153, "OE"},
    {0x0154, 0x0159, "R"}, {0x015A, 0x0161, "S"}, {0x0162, 0x0167, "T"}, {0x0168, 0x0173, "U"},
    {0x0174, 0x0175, "W"}, {0x0176, 0x0178, "Y"}, {0x0179, 0x017E, "Z"}, {0x017F, 0x017F, "S"},
    // Romanian comma-below letters, spacing accents.
    {0x0218, 0x0219, "S"}, {0x021A, 0x021B, "T"}, {0x02BC, 0x02BC, "'"}, {0x02C6, 0x02C6, "^"},
    // Combining accents: names in decomposed form carry them after the letter,
    // which already shows.
    {0x0300, 0x036F, ""},
    // General Punctuation.
    {0x2000, 0x200A, " "}, {0x200B, 0x200D, ""}, {0x2010, 0x2015, "-"}, {0x2018, 0x201B, "'"},
    {0x201C, 0x201F, "\""}, {0x2020, 0x2020, "+"}, {0x2022, 0x2022, "*"}, {0x2024, 0x2024, "."},
    {0x2025, 0x2025, ".."}, {0x2026, 0x2026, "..."}, {0x202F, 0x202F, " "}, {0x2032, 0x2032, "'"},
    {0x2033, 0x2033, "\""}, {0x2039, 0x2039, "<"}, {0x203A, 0x203A, ">"}, {0x2044, 0x2044, "/"},
    {0x205F, 0x205F, " "}, {0x2060, 0x2060, ""},
    {0x2122, 0x2122, "TM"}, {0x2212, 0x2212, "-"}, {0x2215, 0x2215, "/"},
    // A byte order mark some tools leave at the start of a name.
    {0xFEFF, 0xFEFF, ""},
};

constexpr bool foldsSorted() {
  for (size_t i = 0; i < sizeof kFolds / sizeof kFolds[0]; ++i) {
    if (kFolds[i].first > kFolds[i].last) return false;
    if (i > 0 && kFolds[i - 1].last >= kFolds[i].first) return false;
  }
  return true;
}
static_assert(foldsSorted(), "fold ranges must be sorted and apart");

bool continuation(const unsigned char* p, const unsigned char* end, unsigned char low = 0x80, unsigned char high = 0xBF) {
  return p < end && *p >= low && *p <= high;
}

}  // namespace

int decodeUtf8(const unsigned char* p, const unsigned char* end, uint32_t& codePoint) {
  if (p >= end) return 0;
  const unsigned char c = p[0];
  if (c < 0x80) {
    codePoint = c;
    return 1;
  }
  // Shortest forms only, no surrogates, nothing past U+10FFFF; the second
  // byte's range depends on the lead byte.
  if (c >= 0xC2 && c <= 0xDF && continuation(p + 1, end)) {
    codePoint = (c & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    return 2;
  }
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned char low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    if (continuation(p + 1, end, low, high) && continuation(p + 2, end)) {
      codePoint = (c & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
      return 3;
    }
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned char low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    if (continuation(p + 1, end, low, high) && continuation(p + 2, end) && continuation(p + 3, end)) {
      codePoint = (c & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
      return 4;
    }
  }
  return -1;
}

const char* foldCharForLed(uint32_t codePoint, char (&one)[2]) {
  one[1] = 0;
  if (codePoint < 0x80) {
    // Lower case as capitals; controls and the few signs past '_' have no glyph.
    if (codePoint >= 'a' && codePoint <= 'z') codePoint -= 'a' - 'A';
    one[0] = codePoint >= 0x20 && codePoint < 0x60 ? static_cast<char>(codePoint) : ' ';
    return one;
  }
  const FoldRange* begin = kFolds;
  const FoldRange* end = kFolds + sizeof kFolds / sizeof kFolds[0];
  // The first range that ends at or after the code point.
  while (begin < end) {
    const FoldRange* mid = begin + (end - begin) / 2;
    if (mid->last < codePoint)
      begin = mid + 1;
    else
      end = mid;
  }
  if (begin < kFolds + sizeof kFolds / sizeof kFolds[0] && begin->first <= codePoint) return begin->fold;
  one[0] = ' ';
  return one;
}

std::string foldForLed(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* end = p + utf8.size();
  while (p < end) {
    uint32_t cp = 0;
    const int n = decodeUtf8(p, end, cp);
    char one[2];
    if (n < 0) {
      out += ' ';  // a stray byte: one blank cell, and the rest still reads
      ++p;
      continue;
    }
    out += foldCharForLed(cp, one);
    p += n;
  }
  return out;
}

}  // namespace kuv
