# Writes a C++ source that defines `std::string_view FUNCTION()` returning the
# bytes of INPUT, so a file ships inside the program and cannot go missing.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DNAMESPACE=ns -DFUNCTION=name -P EmbedText.cmake
file(READ "${INPUT}" content HEX)
string(LENGTH "${content}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${content}")
# Break the array into lines of 16 bytes for readable compiler messages.
string(REGEX REPLACE "(('[^']+',){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by cmake/EmbedText.cmake; do not edit.
#include <string_view>

namespace ${NAMESPACE} {

namespace {
const char kBytes[${size} + 1] = {
${bytes}'\\0'};
}  // namespace

std::string_view ${FUNCTION}() {
    return std::string_view(kBytes, ${size});
}

}  // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
