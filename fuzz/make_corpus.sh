#!/usr/bin/env bash
# Writes the fuzz targets' seed corpora into fuzz/corpus/. The seeds are committed; run this again
# only to change them. The repair seeds are recipes as repair_fuzz.cpp reads them: twelve bytes of
# flags, rows, length, densities, seed, slack and layout, then four bytes per mark (kind | number << 3,
# then a 24-bit little-endian position). The header seeds are headers of 80-character cards.
set -euo pipefail
cd "$(dirname "$0")"

# bytes FILE HEX...: writes the bytes given in hexadecimal, spaces ignored.
bytes() {
  local file="$1" hex
  shift
  hex="$(printf '%s' "$*" | tr -d ' ')"
  printf "$(printf '%s' "$hex" | sed 's/../\\x&/g')" > "$file"
}

rm -rf corpus/repair corpus/fits_header corpus/selection
mkdir -p corpus/repair corpus/fits_header corpus/selection

r=corpus/repair
# Length 0, inside the header.
bytes "$r/header_only"          04 00 0000 00 00 0000 00 00 0000
# Exactly the header and one row: the first row is never repaired.
bytes "$r/first_row_only"       00 01 0000 10 00 0100 00 00 0000
# Odd length after the header: refused before anything changes.
bytes "$r/odd_length"           01 02 3412 40 10 0200 00 00 0000
# Three rows with scattered dropouts and vertical runs going down.
bytes "$r/vertical_runs"        00 03 a00f 20 20 0300 00 00 0000  39 401f00  21 00c800  09 123400
# The last rows: runs ending in the last row or the one before, the length just before a row ends.
bytes "$r/last_row"             06 04 2000 08 08 0400 00 00 0000  1a 000000  12 7d0000  3a 402f00
# Around the first repaired row, with zero neighbours.
bytes "$r/first_repaired_row"   00 02 0000 00 40 0500 00 00 0000  1e 000000  1e 7f0000  7f c03b00  3f 443b00
# A horizontal run across several scan blocks, and 80 00 at odd positions.
bytes "$r/horizontal_and_odd"   00 01 0010 00 00 0600 00 00 0000  fb 803e00  05 813e00  05 3f3f00  23 004000
# The buffer goes a whole row past the file's length; runs near the end reach into it.
bytes "$r/slack_row"            1a 03 1000 30 10 0700 00 00 0000  1a 000000  3a 100000  09 fe7f01
# A short slack, the lengths that must be refused, eight rows and dense dropouts.
bytes "$r/slack_short_refused"  28 08 5500 ff 00 0800 64 00 0000  1a 010000  0f 220000
# Layouts of their own: another camera's width over three planes, a two-record header; a single
# column, so that a row is one sample; a width of an odd number of bytes' worth of blocks.
bytes "$r/cube_of_another_width" 40 06 0000 30 10 0900 00  30 28 0e  09 401f00  1a 000000
bytes "$r/long_header_narrow"    40 08 4000 40 20 0a00 00  00 20 1f  21 100000  36 000000
bytes "$r/one_sample_rows"       42 05 0500 80 10 0b00 00  00 00 23  39 080000  12 000000

# header FILE CARD...: the cards, END, and spaces to 2880 bytes, each card 80 characters.
header() {
  local file="$1" text="" c
  shift
  for c in "$@" END; do text+="$(printf '%-80s' "$c")"; done
  printf '%-2880s' "$text" > "$file"
}
h=corpus/fits_header
header "$h/camera"     'SIMPLE  =                    T' 'BITPIX  =                   16' 'NAXIS   =                    2' \
                       'NAXIS1  =                 6080' 'NAXIS2  =                    3'
header "$h/cube"       'SIMPLE  =                    T' 'BITPIX  =                   16' 'NAXIS   =                    3' \
                       'NAXIS1  = 4144 / width' 'NAXIS2  =    2' 'NAXIS3  =    3'
header "$h/float"      'SIMPLE  =                    T' 'BITPIX  =                  -32' 'NAXIS   =                    2' \
                       'NAXIS1  =                   10' 'NAXIS2  =                   10'
header "$h/compressed" 'SIMPLE  =                    T' 'BITPIX  =                   16' 'NAXIS   =                    0' \
                       'EXTEND  =                    T'

s=corpus/selection
printf '%s' '/home/user/m42.fit' > "$s/one_path"
printf '%s' 'm42.fit' > "$s/bare_name"
printf '%s\0%s\0%s' '/home/user' 'a.fit' 'b.fit' > "$s/folder_and_names"
printf '%s\0%s' '/' 'root.fit' > "$s/root_folder"
printf '%s\0%s\0%s' '/観測/2024' 'オリオン座.fit' 'M42 夜.fit' > "$s/unicode"
printf '%s\0\0%s\0' '/data' 'x.fit' > "$s/empty_parts"
printf '%s\0%s' '/data/' 'sub/x.fit' > "$s/separator_in_name"
