# Turns a binary file into a C++ source file holding its bytes.
# Usage: cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P Embed.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n#include <cstdint>\n"
  "namespace qr {\nextern const std::uint8_t ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}Size;\n"
  "const std::uint8_t ${SYMBOL}[] = {\n${bytes}\n};\nconst std::size_t ${SYMBOL}Size = ${size};\n}\n")
