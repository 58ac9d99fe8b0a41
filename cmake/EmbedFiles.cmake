# Turns files into a C++ source that holds them, for a program that must carry its files inside.
# Run as a script: cmake -DOUTPUT=file.cpp -DHEADER=name.h -DFUNCTION=Name -DNAMESPACE=a::b
#   -DFILES="name1=path1;name2=path2" -P EmbedFiles.cmake
# The source defines std::string_view NAMESPACE::FUNCTION(std::string_view name): the file's
# bytes, or an empty view for a name it does not hold.
cmake_minimum_required(VERSION 3.21)

set(body "")
set(lookup "")
set(index 0)
foreach(pair IN LISTS FILES)
  string(FIND "${pair}" "=" at)
  string(SUBSTRING "${pair}" 0 ${at} name)
  math(EXPR from "${at} + 1")
  string(SUBSTRING "${pair}" ${from} -1 path)
  file(READ "${path}" hex HEX)
  # Two hex digits a byte; sixteen bytes a line keep the source readable by tools.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
  # A trailing 0 also keeps an empty file's array legal.
  string(APPEND body "// ${name}\nconst unsigned char kFile${index}[] = {\n${bytes}0};\n")
  string(APPEND lookup
    "  if (name == \"${name}\") return {reinterpret_cast<const char*>(kFile${index}), sizeof kFile${index} - 1};\n")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.new"
"// Generated at build time by cmake/EmbedFiles.cmake; edit the files it names, not this one.
#include \"${HEADER}\"

namespace ${NAMESPACE} {
namespace {
${body}
}  // namespace

std::string_view ${FUNCTION}(std::string_view name) {
${lookup}  return {};
}

}  // namespace ${NAMESPACE}
")
# Rewritten only when it changes, so that an unchanged page compiles nothing again.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
