# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=symbol -P embed.cmake
# Writes the bytes of INPUT as simcomputer::NAME and NAME_size.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}.\n#include <cstddef>\n\nnamespace simcomputer {\n"
  "extern const unsigned char ${NAME}[] = {${bytes}};\n"
  "extern const std::size_t ${NAME}_size = sizeof ${NAME};\n}\n")
