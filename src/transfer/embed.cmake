# Writes a C++ source holding the bytes of INPUT as kFirmwareImageData.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from firmware_image.bin at build time.\n#include <cstddef>\n#include <cstdint>\nnamespace vyo {\nextern const uint8_t kFirmwareImageData[] = {\n${bytes}};\nextern const size_t kFirmwareImageSize = ${size};\n}  // namespace vyo\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
